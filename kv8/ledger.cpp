#include "ledger.h"
#include "trace.h"

#include <algorithm>

namespace kv8 {
namespace {

void Mark(Node* node, Owner owner) {
    node->owner = owner;
    for (Node* child = node->firstChild; child; child = child->nextSibling) Mark(child, owner);
}

void FreeTree(Node* node) {
    for (Node* child = node->firstChild; child;) {
        Node* next = child->nextSibling;
        FreeTree(child);
        child = next;
    }
    delete node;
}

}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Waypoint: return "waypoint";
    case Kind::State: return "state";
    case Kind::Attribute: return "attribute";
    }
    return "object";
}

std::string Node::Describe() const {
    return std::string(KindName(kind)) + " " + std::to_string(id) + " " + Quoted(name);
}

std::string IdOf(const Node* node) { return node ? std::to_string(node->id) : "null"; }

void Ledger::Admit(Node* node) {
    if (recording_) {
        // Room grows geometrically, so that recording stays linear; once it is there, adding
        // cannot throw.
        if (nodes_.size() == nodes_.capacity())
            nodes_.reserve(std::max<std::size_t>(64, 2 * nodes_.capacity()));
        byHandle_.emplace(node->handle, node);
        nodes_.emplace_back(node);
    }
    node->id = nextId_++;
}

Node* Ledger::Find(const void* handle) const {
    if (!handle) return nullptr;
    auto found = byHandle_.find(handle);
    return found == byHandle_.end() ? nullptr : found->second;
}

void Ledger::Retire(Node* node, Owner owner) {
    if (recording_)
        Mark(node, owner);
    else
        FreeTree(node);
}

void Ledger::Violation(const std::string& what) {
    if (!recording_) return;
    try {
        violations_.push_back(what);
    } catch (...) {
    }
}

std::vector<std::string> Ledger::CallerOwned() const {
    std::vector<std::string> owned;
    for (const auto& node : nodes_)
        if (node->owner == Owner::Caller) owned.push_back(node->Describe());
    return owned;
}

void Ledger::Clear() {
    nodes_.clear();
    byHandle_.clear();
    violations_.clear();
    nextId_ = 1;
}

}  // namespace kv8
