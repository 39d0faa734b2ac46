// The analytics library stand-in: the interface TEV imports, behind it an object tree, an
// ownership ledger, a trace of every call, fault injection and an outbox file.
//
// Nothing here throws across the interface: a failed allocation is a refused creation, and a trace
// line that cannot be stored is lost.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <utf8.h>

#include "KV8.h"
#include "KV8Control.h"

namespace kv8 {
namespace {

// Who owns an object: its creator, a parent it was added to, the library (handed over), or nobody.
enum class Owner { Caller, Parent, Library, Destroyed };

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Waypoint: return "waypoint";
    case Kind::State: return "state";
    case Kind::Attribute: return "attribute";
    }
    return "object";
}

struct Node {
    virtual ~Node() = default;
    Kind kind = Kind::Waypoint;
    int id = 0;
    Owner owner = Owner::Caller;
    Text name;
    Text value;
    // Children in the order added, as an intrusive list, so that adding never allocates (and so
    // never fails). Owned through the store, or through this node without recording.
    Node* firstChild = nullptr;
    Node* lastChild = nullptr;
    Node* nextSibling = nullptr;
    const void* handle = nullptr;  // the interface pointer the caller holds

    std::string Describe() const {
        return std::string(KindName(kind)) + " " + std::to_string(id) + " " + JsonQuote(name);
    }
};

struct Store {
    bool recording = true;
    int nextId = 1;
    bool initialized = false;
    std::vector<std::string> trace;
    size_t traceTaken = 0;
    std::vector<std::string> violations;
    std::vector<Delivery> deliveries;
    // With recording on, every object lives here until Reset, so that misuse of a destroyed or
    // handed-over object is recorded instead of touching freed memory.
    std::vector<std::unique_ptr<Node>> nodes;
    std::unordered_map<const void*, Node*> byHandle;
    std::map<std::pair<Kind, Text>, int> refusedCreations;
    int refusedGetState = 0;
    int refusedInitialize = 0;
};

Store& TheStore() {
    static Store* store = new Store;  // never destroyed: usable until the process ends
    return *store;
}

void AddRefusal(int& pending, int count) {
    if (pending == kAlways || count == kAlways)
        pending = kAlways;
    else
        pending += count;
}

bool TakeRefusal(int& pending) {
    if (pending == 0) return false;
    if (pending > 0) --pending;
    return true;
}

// Adds the trace line that `line()` builds; it is built only while recording.
template <typename BuildLine>
void Record(BuildLine line) {
    Store& store = TheStore();
    if (!store.recording) return;
    try {
        store.trace.push_back(line());
    } catch (...) {
        // A trace line that cannot be stored is lost; the call itself goes on.
    }
}

void Violation(const std::string& what) {
    Store& store = TheStore();
    if (!store.recording) return;
    try {
        store.violations.push_back(what);
    } catch (...) {
    }
}

std::string IdOf(const Node* node) { return node ? std::to_string(node->id) : "null"; }

// The node behind an interface pointer, or null when the pointer is null or not ours.
Node* Find(const void* handle) {
    Store& store = TheStore();
    if (!handle) return nullptr;
    auto found = store.byHandle.find(handle);
    return found == store.byHandle.end() ? nullptr : found->second;
}

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

// The node is finished with (destroyed or handed over): without recording it is freed at once.
void Retire(Node* node, Owner owner) {
    if (TheStore().recording)
        Mark(node, owner);
    else
        FreeTree(node);
}

std::string DeliveryJson(const Delivery& delivery) {
    std::string json = "{\"call\":\"" + delivery.call + "\",\"waypoint\":";
    json += delivery.hasWaypoint ? JsonQuote(delivery.waypoint) : "null";
    json += ",\"states\":[";
    for (size_t s = 0; s < delivery.states.size(); ++s) {
        const DeliveredState& state = delivery.states[s];
        if (s) json += ',';
        json += "{\"state\":" + JsonQuote(state.name) + ",\"attributes\":[";
        for (size_t a = 0; a < state.attributes.size(); ++a) {
            if (a) json += ',';
            json += "{\"name\":" + JsonQuote(state.attributes[a].name) +
                    ",\"value\":" + JsonQuote(state.attributes[a].value) + "}";
        }
        json += "]}";
    }
    json += "]}";
    return json;
}

Delivery Snapshot(const char* call, const Node* waypoint) {
    Delivery delivery;
    delivery.call = call;
    if (!waypoint) return delivery;
    delivery.hasWaypoint = true;
    delivery.waypoint = waypoint->name;
    for (const Node* state = waypoint->firstChild; state; state = state->nextSibling) {
        DeliveredState copy{state->name, {}};
        for (const Node* attribute = state->firstChild; attribute;
             attribute = attribute->nextSibling)
            copy.attributes.push_back({attribute->name, attribute->value});
        delivery.states.push_back(std::move(copy));
    }
    return delivery;
}

// The file KV8_OUTBOX names, opened and locked for the time of one line: processes that load the
// library take turns at it, so a line is never cut by another writer. On Windows the name is read
// and opened as UTF-16, so that any path works.
class OutboxFile {
public:
#ifdef _WIN32
    OutboxFile() {
        const wchar_t* path = _wgetenv(L"KV8_OUTBOX");
        if (!path || !*path) return;
        file_ = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED whole{};
        if (file_ != INVALID_HANDLE_VALUE &&
            !LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
    }
    ~OutboxFile() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);  // the lock goes with the handle
    }
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    std::int64_t Size() const {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_, &size) ? size.QuadPart : -1;
    }
    bool Read(std::int64_t at, char* bytes, std::size_t count) const {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD read = 0;
        return ReadFile(file_, bytes, static_cast<DWORD>(count), &read, &where) && read == count;
    }
    bool CutAt(std::int64_t size) const {
        LARGE_INTEGER where;
        where.QuadPart = size;
        return SetFilePointerEx(file_, where, nullptr, FILE_BEGIN) && SetEndOfFile(file_);
    }
    bool Append(const std::string& bytes) const {
        LARGE_INTEGER none{};
        DWORD written = 0;
        return SetFilePointerEx(file_, none, nullptr, FILE_END) &&
               WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
#else
    OutboxFile() {
        const char* path = std::getenv("KV8_OUTBOX");
        if (!path || !*path) return;
        fd_ = open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~OutboxFile() {
        if (fd_ >= 0) close(fd_);  // the lock goes with the descriptor
    }
    bool IsOpen() const { return fd_ >= 0; }
    std::int64_t Size() const {
        struct stat status;
        return fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : -1;
    }
    bool Read(std::int64_t at, char* bytes, std::size_t count) const {
        return pread(fd_, bytes, count, at) == static_cast<ssize_t>(count);
    }
    bool CutAt(std::int64_t size) const { return ftruncate(fd_, size) == 0; }
    bool Append(const std::string& bytes) const {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

private:
    int fd_ = -1;
#endif
};

// Where the outbox's last line begins (just after its last line feed, or 0).
std::int64_t LastLineStart(const OutboxFile& file, std::int64_t end) {
    char chunk[4096];
    while (end > 0) {
        std::int64_t start =
            std::max<std::int64_t>(0, end - static_cast<std::int64_t>(sizeof chunk));
        if (!file.Read(start, chunk, static_cast<std::size_t>(end - start))) return -1;
        for (std::int64_t at = end; at > start; --at)
            if (chunk[at - 1 - start] == '\n') return at;
        end = start;
    }
    return 0;
}

// Appends one JSON line to the outbox, whole or not at all, in one write: a process killed while
// writing leaves at most a cut last line, and the next writer cuts that off before it writes. What
// does not look like a line of ours is kept, and the new line starts on a line of its own.
void WriteOutbox(const Delivery& delivery) {
    OutboxFile file;
    if (!file.IsOpen()) return;
    std::string line = DeliveryJson(delivery) + "\n";
    std::int64_t end = file.Size();
    char last = '\n';
    if (end > 0 && !file.Read(end - 1, &last, 1)) return;
    if (last != '\n') {
        static const char kOurs[] = "{\"call\":";
        char start[sizeof kOurs - 1];
        std::int64_t cut = LastLineStart(file, end);
        std::size_t compared = static_cast<std::size_t>(
            std::min<std::int64_t>(end - cut, static_cast<std::int64_t>(sizeof start)));
        if (cut >= 0 && file.Read(cut, start, compared) &&
            std::equal(start, start + compared, kOurs) && file.CutAt(cut))
            end = cut;
        else
            line.insert(line.begin(), '\n');
    }
    if (!file.Append(line) && end >= 0)
        file.CutAt(end);  // a short write (a full disk) is taken back
}

class Attribute final : public CMLAttribute, public Node {
public:
    void Destroy() override;
};

class State final : public CMLState, public Node {
public:
    void Destroy() override;
    void Add(CMLAttribute* attribute) override;
};

class Waypoint final : public CMLWaypoint, public Node {
public:
    void Destroy() override;
    void Add(CMLState* state) override;
    CMLState* GetState() override;
};

// The node behind an interface pointer, or null when the pointer is null or (recording) not one
// of ours of that kind. Without recording, pointers are trusted.
template <typename Impl, typename Interface>
Node* NodeOf(Interface* handle, Kind kind) {
    if (!handle) return nullptr;
    if (!TheStore().recording) return static_cast<Impl*>(handle);
    Node* node = Find(handle);
    return node && node->kind == kind ? node : nullptr;
}

// The library takes a waypoint handed over by `call`. A null waypoint is allowed where `nullable`.
void Take(const char* call, CMLWaypoint* handle, bool nullable) {
    Store& store = TheStore();
    Node* node = NodeOf<Waypoint>(handle, Kind::Waypoint);
    if (store.recording) {
        if (!handle && !nullable) return Violation(std::string(call) + ": null waypoint");
        if (handle && !node) return Violation(std::string(call) + ": foreign waypoint");
        if (node && node->owner != Owner::Caller)
            return Violation(std::string(call) + ": " + node->Describe() + " is not the caller's");
    }
    try {
        if (store.recording || std::getenv("KV8_OUTBOX")) {
            Delivery delivery = Snapshot(call, node);
            WriteOutbox(delivery);
            if (store.recording) store.deliveries.push_back(std::move(delivery));
        }
    } catch (...) {
        // What could not be recorded is lost; the library has taken the waypoint all the same.
    }
    if (node) Retire(node, Owner::Library);
}

void RecordCreate(Kind kind, const Text& name, const TEVChar* value, const Node* created) {
    Record([&] {
        std::string line = std::string("{\"op\":\"create\",\"kind\":\"") + KindName(kind) +
                           "\",\"name\":" + JsonQuote(name);
        if (kind == Kind::Attribute)
            line += ",\"value\":" + JsonQuote(value ? value : TEV_TEXT(""));
        return line + ",\"id\":" + IdOf(created) + "}";
    });
}

// A creation refused by a pending refusal, or by a failed allocation, gives null.
template <typename Object, typename Interface>
Interface* CreateObject(Kind kind, const TEVChar* name, const TEVChar* value) {
    Store& store = TheStore();
    Text nameText;
    try {
        if (!name || (kind == Kind::Attribute && !value))
            Violation(std::string("create ") + KindName(kind) + ": null " +
                      (name ? "value" : "name"));
        nameText = name ? name : TEV_TEXT("");
        auto refusal = store.refusedCreations.find({kind, nameText});
        if (refusal != store.refusedCreations.end() && TakeRefusal(refusal->second)) {
            if (refusal->second == 0) store.refusedCreations.erase(refusal);
            RecordCreate(kind, nameText, value, nullptr);
            return nullptr;
        }
        auto object = std::make_unique<Object>();
        object->kind = kind;
        object->name = nameText;
        if (value) object->value = value;
        Interface* handle = object.get();
        object->handle = handle;
        if (store.recording) {
            // Room grows geometrically, so that recording stays linear; once it is there, adding
            // cannot throw.
            if (store.nodes.size() == store.nodes.capacity())
                store.nodes.reserve(std::max<std::size_t>(64, 2 * store.nodes.capacity()));
            store.byHandle.emplace(object->handle, object.get());
            store.nodes.emplace_back(object.get());
        }
        object->id = store.nextId++;
        RecordCreate(kind, nameText, value, object.get());
        object.release();  // now held by the store, or by the caller without recording
        return handle;
    } catch (...) {
        RecordCreate(kind, nameText, value, nullptr);
        return nullptr;
    }
}

// Destroy on any object: only the caller's own may be destroyed.
void DestroyNode(Node* node) {
    Record([&] { return "{\"op\":\"destroy\",\"id\":" + std::to_string(node->id) + "}"; });
    if (TheStore().recording && node->owner != Owner::Caller) {
        Violation("destroy: " + node->Describe() + " is not the caller's");
        return;
    }
    Retire(node, Owner::Destroyed);
}

void AddChild(Node* parent, const void* childHandle, Node* child) {
    Store& store = TheStore();
    Record([&] {
        return "{\"op\":\"add\",\"parent\":" + std::to_string(parent->id) +
               ",\"child\":" + IdOf(child) + "}";
    });
    if (store.recording) {
        if (!childHandle) return Violation("add: null child to " + parent->Describe());
        if (!child) return Violation("add: foreign object to " + parent->Describe());
        if (parent->owner != Owner::Caller && parent->owner != Owner::Parent)
            return Violation("add: to " + parent->Describe() + ", which is not the caller's");
        if (child->owner != Owner::Caller)
            return Violation("add: " + child->Describe() + " is not the caller's");
    }
    if (!child) return;
    (parent->lastChild ? parent->lastChild->nextSibling : parent->firstChild) = child;
    parent->lastChild = child;
    child->owner = Owner::Parent;
}

void Attribute::Destroy() {
    try {
        DestroyNode(this);
    } catch (...) {
    }
}

void State::Destroy() {
    try {
        DestroyNode(this);
    } catch (...) {
    }
}

void State::Add(CMLAttribute* attribute) {
    try {
        AddChild(this, attribute, NodeOf<Attribute>(attribute, Kind::Attribute));
    } catch (...) {
    }
}

void Waypoint::Destroy() {
    try {
        DestroyNode(this);
    } catch (...) {
    }
}

void Waypoint::Add(CMLState* state) {
    try {
        AddChild(this, state, NodeOf<State>(state, Kind::State));
    } catch (...) {
    }
}

CMLState* Waypoint::GetState() {
    State* state = nullptr;
    Store& store = TheStore();
    if (!TakeRefusal(store.refusedGetState) && firstChild) state = static_cast<State*>(firstChild);
    Record([&] {
        return "{\"op\":\"get_state\",\"waypoint\":" + std::to_string(id) +
               ",\"id\":" + IdOf(state) + "}";
    });
    return state;
}

// Invalid UTF-8 becomes U+FFFD, as it does in the tool.
Text FromUtf8(const std::string& text) {
    std::string valid;
    utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
    Text out;
    utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
    return out;
}

const Text& UserId() {
    static const Text id = [] {
        if (const char* fixed = std::getenv("KV8_USER_ID")) return FromUtf8(fixed);
        std::random_device seed;
        std::mt19937_64 random(seed());
        const char* digits = "0123456789abcdef";
        std::string uuid;
        for (int i = 0; i < 32; ++i) {
            if (i == 8 || i == 12 || i == 16 || i == 20) uuid += '-';
            uuid += digits[random() & 15];
        }
        return FromUtf8(uuid);
    }();
    return id;
}

}  // namespace

std::string JsonQuote(const Text& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
            static_cast<char16_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<char16_t>(text[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[++i]) - 0xDC00);
        }
        char escaped[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            utf8::append(c, std::back_inserter(out));
        }
    }
    return out + "\"";
}

void Reset() {
    Store& store = TheStore();
    store.nodes.clear();
    store.byHandle.clear();
    store.trace.clear();
    store.traceTaken = 0;
    store.violations.clear();
    store.deliveries.clear();
    store.refusedCreations.clear();
    store.refusedGetState = 0;
    store.refusedInitialize = 0;
    store.nextId = 1;
    store.initialized = false;
}

void SetRecording(bool on) { TheStore().recording = on; }

std::vector<std::string> Trace() { return TheStore().trace; }

std::vector<std::string> TakeTrace() {
    Store& store = TheStore();
    std::vector<std::string> lines(store.trace.begin() + static_cast<long>(store.traceTaken),
                                   store.trace.end());
    store.traceTaken = store.trace.size();
    return lines;
}

void RefuseCreate(Kind kind, const Text& name, int count) {
    AddRefusal(TheStore().refusedCreations[{kind, name}], count);
}

void RefuseGetState(int count) { AddRefusal(TheStore().refusedGetState, count); }

void RefuseInitialize(int count) { AddRefusal(TheStore().refusedInitialize, count); }

std::vector<std::string> Violations() { return TheStore().violations; }

std::vector<std::string> CallerOwned() {
    std::vector<std::string> owned;
    for (const auto& node : TheStore().nodes)
        if (node->owner == Owner::Caller) owned.push_back(node->Describe());
    return owned;
}

std::vector<Delivery> Deliveries() { return TheStore().deliveries; }

}  // namespace kv8

using kv8::Kind;

CMLAttribute* CMLAttribute::Create(const TEVChar* name, const TEVChar* value) {
    return kv8::CreateObject<kv8::Attribute, CMLAttribute>(Kind::Attribute, name, value);
}

CMLState* CMLState::Create(const TEVChar* name) {
    return kv8::CreateObject<kv8::State, CMLState>(Kind::State, name, nullptr);
}

CMLWaypoint* CMLWaypoint::Create(const TEVChar* name) {
    return kv8::CreateObject<kv8::Waypoint, CMLWaypoint>(Kind::Waypoint, name, nullptr);
}

void CMLFacade::Initialize(CMLWaypoint* startup, const TEVChar* configPath, const TEVChar*, int,
                           unsigned int, long long, long long, const TEVChar*, const TEVChar*,
                           bool) {
    try {
        kv8::Store& store = kv8::TheStore();
        store.initialized = !kv8::TakeRefusal(store.refusedInitialize);
        kv8::Record([&] {
            return "{\"op\":\"initialize\",\"waypoint\":" + kv8::IdOf(kv8::Find(startup)) +
                   ",\"config\":" + kv8::JsonQuote(configPath ? configPath : TEV_TEXT("")) +
                   ",\"initialized\":" + (store.initialized ? "true" : "false") + "}";
        });
        // A library that stays uninitialised takes nothing: the caller keeps the waypoint.
        if (store.initialized) kv8::Take("initialize", startup, false);
    } catch (...) {
    }
}

bool CMLFacade::IsKV8Initialized() {
    bool initialized = kv8::TheStore().initialized;
    kv8::Record([&] {
        return std::string("{\"op\":\"is_initialized\",\"result\":") +
               (initialized ? "true" : "false") + "}";
    });
    return initialized;
}

void CMLFacade::WaypointReached(CMLWaypoint* waypoint) {
    try {
        kv8::Record([&] {
            return "{\"op\":\"reached\",\"waypoint\":" + kv8::IdOf(kv8::Find(waypoint)) + "}";
        });
        kv8::Take("reached", waypoint, false);
    } catch (...) {
    }
}

void CMLFacade::OnCrash(CMLWaypoint* crash, unsigned int, long long, long long) {
    try {
        kv8::Record(
            [&] { return "{\"op\":\"crash\",\"waypoint\":" + kv8::IdOf(kv8::Find(crash)) + "}"; });
        kv8::Take("crash", crash, true);
    } catch (...) {
    }
}

void CMLFacade::Uninitialize(CMLWaypoint* shutdown, unsigned int) {
    try {
        kv8::TheStore().initialized = false;
        kv8::Record([&] {
            return "{\"op\":\"uninitialize\",\"waypoint\":" + kv8::IdOf(kv8::Find(shutdown)) + "}";
        });
        kv8::Take("uninitialize", shutdown, true);
    } catch (...) {
    }
}

const TEVChar* CMLFacade::GetKV8UserId() {
    try {
        const kv8::Text& id = kv8::UserId();
        kv8::Record([&] { return "{\"op\":\"user_id\",\"result\":" + kv8::JsonQuote(id) + "}"; });
        return id.c_str();
    } catch (...) {
        return TEV_TEXT("");
    }
}
