// The stand-in's ledger: every object it made, who owns it, and the misuse seen so far.
//
// With recording on, every object stays in the ledger until it is cleared, so that misuse of a
// destroyed or handed-over object is recorded instead of touching freed memory. With recording off,
// objects are freed as soon as they are finished with, and nothing is checked.
#ifndef KV8_LEDGER_H
#define KV8_LEDGER_H

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "KV8Control.h"

namespace kv8 {

// Who owns an object: its creator, a parent it was added to, the library (handed over), or nobody.
enum class Owner { Caller, Parent, Library, Destroyed };

const char* KindName(Kind kind);

struct Node {
    virtual ~Node() = default;
    Kind kind = Kind::Waypoint;
    int id = 0;
    Owner owner = Owner::Caller;
    WideString name;
    WideString value;
    // Children in the order added, as an intrusive list, so that adding never allocates (and so
    // never fails). Owned through the ledger, or through this node without recording.
    Node* firstChild = nullptr;
    Node* lastChild = nullptr;
    Node* nextSibling = nullptr;
    const void* handle = nullptr;  // the interface pointer the caller holds

    // E.g. "waypoint 3 \"wp.setup\"".
    std::string Describe() const;
};

// The id of a node, or "null".
std::string IdOf(const Node* node);

class Ledger {
public:
    bool Recording() const { return recording_; }
    void SetRecording(bool on) { recording_ = on; }

    // Takes a new node (recording) and gives it the next id. May throw before it takes the node;
    // once it has, the node belongs to the ledger (recording) or to its caller.
    void Admit(Node* node);
    // The node behind an interface pointer, or null when the pointer is null or not ours.
    Node* Find(const void* handle) const;
    // The node is finished with (destroyed or handed over): without recording it is freed at once.
    void Retire(Node* node, Owner owner);
    // Records a misuse (while recording); one that cannot be stored is lost.
    void Violation(const std::string& what);

    const std::vector<std::string>& Violations() const { return violations_; }
    std::vector<std::string> CallerOwned() const;
    // Forgets every object and violation; ids restart from 1.
    void Clear();

private:
    bool recording_ = true;
    int nextId_ = 1;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::unordered_map<const void*, Node*> byHandle_;
    std::vector<std::string> violations_;
};

}  // namespace kv8

#endif
