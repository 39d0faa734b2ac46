// The analytics library as its maker's Microsoft toolchain would build it, reduced to a recorder:
// KV8.dll built by clang for i686-pc-windows-msvc, without a C runtime. Its statics are those of
// KV8.h, which clang decorates by itself (the build exports the decorated names it finds in the
// object); its objects come from HeapAlloc and their virtual functions are __thiscall, `this` in
// ECX, as Microsoft's ABI has them.
//
// Every call it receives is appended as a text line to the file that KV8_RECORD names, and
// msvc_kv8.sh compares the lines with what TEV must have called.
#include "KV8.h"
#include "freestanding.h"

using freestanding::Line;

inline void* operator new(decltype(sizeof 0), void* where) noexcept { return where; }

namespace {

enum class Kind { Waypoint, State, Attribute };
// Who holds an object: its creator, a parent it was added to, the library, or nobody.
enum class Owner { Caller, Parent, Library, Destroyed };

// What the library knows of each object it made. Objects are never freed: a pointer TEV should no
// longer use is still recognised, and its use recorded, instead of touching freed memory.
struct Node {
    const void* handle;  // the pointer TEV holds
    int id;              // 1, 2, ... in creation order
    Kind kind;
    Owner owner;
    Node* firstChild;
    Node* lastChild;
    Node* nextSibling;
};

constexpr int kMaxNodes = 1000;
Node* nodes[kMaxNodes];
int nodeCount;
bool initialized;
const wchar_t kUserId[] = L"kv8-double-user";

void* Allocate(unsigned long size) {
    return HeapAlloc(GetProcessHeap(), freestanding::kZeroMemory, size);
}

// The node behind a pointer TEV gives, or null when the pointer is not one of ours.
Node* Find(const void* handle) {
    if (!handle) return nullptr;
    for (int i = 0; i < nodeCount; ++i)
        if (nodes[i]->handle == handle) return nodes[i];
    return nullptr;
}

// "#3" for one of ours, "null", or "foreign" for a pointer the library never gave out.
Line& Name(Line& line, const void* handle) {
    if (!handle) return line.Ascii("null");
    Node* node = Find(handle);
    if (!node) return line.Ascii("foreign");
    return line.Ascii("#").Signed(node->id);
}

// Appends the line to the record file; opened and closed each time, so that a crash leaves the
// record up to its last call.
void Note(Line& line) {
    line.Ascii("\n");
    wchar_t path[512];
    unsigned long length = GetEnvironmentVariableW(L"KV8_RECORD", path, 512);
    if (length == 0 || length >= 512) return;
    void* file = CreateFileW(path, freestanding::kAppendData, freestanding::kShareRead, nullptr,
                             freestanding::kOpenAlways, freestanding::kNormalFile, nullptr);
    if (file == freestanding::kInvalidHandle) return;
    unsigned long written = 0;
    WriteFile(file, line.Data(), line.Size(), &written, nullptr);
    CloseHandle(file);
}

void Mark(Node* node, Owner owner) {
    node->owner = owner;
    for (Node* child = node->firstChild; child; child = child->nextSibling) Mark(child, owner);
}

// A note on the line when the object is not the caller's to hand on, add to or destroy.
bool CallersOwn(Line& line, Node* node, const char* what) {
    if (!node) {
        line.Ascii(" !").Ascii(what).Ascii(" unknown");
        return false;
    }
    if (node->owner == Owner::Caller) return true;
    line.Ascii(" !").Ascii(what).Ascii(" not the caller's");
    return false;
}

// The library takes a waypoint, with everything added to it; null only where `nullable`.
void Take(Line& line, CMLWaypoint* waypoint, bool nullable) {
    Node* node = Find(waypoint);
    if (!waypoint && nullable) return;
    if (node && node->kind != Kind::Waypoint) line.Ascii(" !not a waypoint");
    if (CallersOwn(line, node, "waypoint")) Mark(node, Owner::Library);
}

void Destroy(const void* self) {
    Line line;
    Node* node = Find(self);
    Name(line, self).Ascii("->Destroy()");
    if (CallersOwn(line, node, "object")) Mark(node, Owner::Destroyed);
    Note(line);
}

void Add(const void* self, Kind parentKind, const void* child, Kind childKind) {
    Line line;
    Name(line, self).Ascii("->Add(");
    Name(line, child).Ascii(")");
    Node* parent = Find(self);
    Node* added = Find(child);
    if (parent && parent->kind != parentKind) line.Ascii(" !wrong parent kind");
    if (added && added->kind != childKind) line.Ascii(" !wrong child kind");
    bool parentUsable =
        parent && (parent->owner == Owner::Caller || parent->owner == Owner::Parent);
    if (!parentUsable) line.Ascii(" !parent not the caller's");
    if (CallersOwn(line, added, "child") && parentUsable) {
        (parent->lastChild ? parent->lastChild->nextSibling : parent->firstChild) = added;
        parent->lastChild = added;
        added->owner = Owner::Parent;
    }
    Note(line);
}

// The library's objects. Their virtual functions are declared here in the library's own slot
// order, Destroy, Add, GetState, and not taken from KV8.h: a header whose order drifted from the
// library's would send TEV's calls to the wrong functions, and the record would show it.
class AttributeObject {
public:
    virtual void Destroy() { ::Destroy(this); }
};

class StateObject {
public:
    virtual void Destroy() { ::Destroy(this); }
    virtual void Add(CMLAttribute* attribute) {
        ::Add(this, Kind::State, attribute, Kind::Attribute);
    }
};

class WaypointObject {
public:
    virtual void Destroy() { ::Destroy(this); }
    virtual void Add(CMLState* state) { ::Add(this, Kind::Waypoint, state, Kind::State); }
    // The waypoint's first state, still its own, or null.
    virtual CMLState* GetState() {
        Node* node = Find(this);
        const void* state = node && node->firstChild ? node->firstChild->handle : nullptr;
        Line line;
        Name(line, this).Ascii("->GetState() -> ");
        Name(line, state);
        Note(line);
        return static_cast<CMLState*>(const_cast<void*>(state));
    }
};

// A new object, recorded with its names; null when the library cannot hold more.
template <typename Object>
void* Create(Kind kind, const char* call, const wchar_t* name, const wchar_t* value) {
    Line line;
    line.Ascii(call).Ascii("(").Quoted(name);
    if (kind == Kind::Attribute) line.Ascii(", ").Quoted(value);
    line.Ascii(") -> ");
    void* memory = nodeCount < kMaxNodes ? Allocate(sizeof(Object)) : nullptr;
    Node* node = memory ? static_cast<Node*>(Allocate(sizeof(Node))) : nullptr;
    if (!node) {
        Note(line.Ascii("null"));
        return nullptr;
    }
    Object* object = new (memory) Object;
    *node = Node{object, nodeCount + 1, kind, Owner::Caller, nullptr, nullptr, nullptr};
    nodes[nodeCount++] = node;
    Note(Name(line, object));
    return object;
}

}  // namespace

// The objects' addresses are their interface pointers: each has its virtual table pointer first,
// as the interface classes of KV8.h do.
CMLAttribute* CMLAttribute::Create(const TEVChar* name, const TEVChar* value) {
    return static_cast<CMLAttribute*>(
        ::Create<AttributeObject>(Kind::Attribute, "CMLAttribute::Create", name, value));
}

CMLState* CMLState::Create(const TEVChar* name) {
    return static_cast<CMLState*>(
        ::Create<StateObject>(Kind::State, "CMLState::Create", name, nullptr));
}

CMLWaypoint* CMLWaypoint::Create(const TEVChar* name) {
    return static_cast<CMLWaypoint*>(
        ::Create<WaypointObject>(Kind::Waypoint, "CMLWaypoint::Create", name, nullptr));
}

void CMLFacade::Initialize(CMLWaypoint* startup, const TEVChar* configPath, const TEVChar* arg2,
                           int arg3, unsigned int arg4, long long arg5, long long arg6,
                           const TEVChar* arg7, const TEVChar* arg8, bool arg9) {
    Line line;
    line.Ascii("CMLFacade::Initialize(");
    Name(line, startup).Ascii(", ").Quoted(configPath).Ascii(", ").Quoted(arg2).Ascii(", ");
    line.Signed(arg3).Ascii(", ").Unsigned(arg4).Ascii(", ").Signed(arg5).Ascii(", ").Signed(arg6);
    line.Ascii(", ").Quoted(arg7).Ascii(", ").Quoted(arg8).Ascii(", ").Ascii(arg9 ? "true"
                                                                                  : "false");
    line.Ascii(")");
    initialized = true;
    Take(line, startup, false);
    Note(line);
}

bool CMLFacade::IsKV8Initialized() {
    Line line;
    Note(line.Ascii("CMLFacade::IsKV8Initialized() -> ").Ascii(initialized ? "true" : "false"));
    return initialized;
}

void CMLFacade::WaypointReached(CMLWaypoint* waypoint) {
    Line line;
    Name(line.Ascii("CMLFacade::WaypointReached("), waypoint).Ascii(")");
    Take(line, waypoint, false);
    Note(line);
}

void CMLFacade::OnCrash(CMLWaypoint* crash, unsigned int arg1, long long arg2, long long arg3) {
    Line line;
    Name(line.Ascii("CMLFacade::OnCrash("), crash).Ascii(", ").Unsigned(arg1);
    line.Ascii(", ").Signed(arg2).Ascii(", ").Signed(arg3).Ascii(")");
    Take(line, crash, true);
    Note(line);
}

void CMLFacade::Uninitialize(CMLWaypoint* shutdown, unsigned int arg1) {
    Line line;
    Name(line.Ascii("CMLFacade::Uninitialize("), shutdown).Ascii(", ").Unsigned(arg1).Ascii(")");
    initialized = false;
    Take(line, shutdown, true);
    Note(line);
}

const TEVChar* CMLFacade::GetKV8UserId() {
    Line line;
    Note(line.Ascii("CMLFacade::GetKV8UserId() -> ").Quoted(kUserId));
    return kUserId;
}

// Neither C runtime nor thread notifications: loading and unloading need nothing.
extern "C" int __stdcall DoubleEntry(void*, unsigned long, void*) { return 1; }
