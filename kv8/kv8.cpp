// The analytics library stand-in: the interface TEV imports, behind it an object tree kept in the
// ledger (ledger.h), a trace of every call (trace.h), fault injection and the outbox (outbox.h).
//
// Nothing here throws across the interface: a failed allocation is a refused creation, and a trace
// line that cannot be stored is lost.
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kv8_interface/KV8.h"
#include "KV8Control.h"
#include "ledger.h"
#include "outbox.h"
#include "trace.h"

namespace kv8 {
namespace {

struct Store {
    bool initialized = false;
    Ledger ledger;
    CallTrace trace;
    std::vector<Delivery> deliveries;
    std::map<std::pair<Kind, WideString>, int> refusedCreations;
    int refusedGetState = 0;
    int refusedUserId = 0;
    int refusedInitialize = 0;
};

Store& TheStore() {
    static Store* store = new Store;  // never destroyed: usable until the process ends
    return *store;
}

Ledger& TheLedger() { return TheStore().ledger; }

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
    if (store.ledger.Recording()) store.trace.Add(line);
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
    if (!TheLedger().Recording()) return static_cast<Impl*>(handle);
    Node* node = TheLedger().Find(handle);
    return node && node->kind == kind ? node : nullptr;
}

// The library takes a waypoint handed over by `call`. A null waypoint is allowed where `nullable`.
void Take(const char* call, CMLWaypoint* handle, bool nullable) {
    Store& store = TheStore();
    Ledger& ledger = store.ledger;
    Node* node = NodeOf<Waypoint>(handle, Kind::Waypoint);
    if (ledger.Recording()) {
        if (!handle && !nullable) return ledger.Violation(std::string(call) + ": null waypoint");
        if (handle && !node) return ledger.Violation(std::string(call) + ": foreign waypoint");
        if (node && node->owner != Owner::Caller)
            return ledger.Violation(std::string(call) + ": " + node->Describe() +
                                    " is not the caller's");
    }
    try {
        if (ledger.Recording() || OutboxWanted()) {
            Delivery delivery = Snapshot(call, node);
            WriteOutbox(delivery);
            if (ledger.Recording()) store.deliveries.push_back(std::move(delivery));
        }
    } catch (...) {
        // What could not be recorded is lost; the library has taken the waypoint all the same.
    }
    if (node) ledger.Retire(node, Owner::Library);
}

void RecordCreate(Kind kind, const WideString& name, const TEVChar* value, const Node* created) {
    Record([&] {
        std::string line = std::string("{\"op\":\"create\",\"kind\":\"") + KindName(kind) +
                           "\",\"name\":" + Quoted(name);
        if (kind == Kind::Attribute) line += ",\"value\":" + Quoted(value ? value : TEV_TEXT(""));
        return line + ",\"id\":" + IdOf(created) + "}";
    });
}

// A creation refused by a pending refusal, or by a failed allocation, gives null.
template <typename Object, typename Interface>
Interface* CreateObject(Kind kind, const TEVChar* name, const TEVChar* value) {
    Store& store = TheStore();
    WideString nameText;
    try {
        if (!name || (kind == Kind::Attribute && !value))
            store.ledger.Violation(std::string("create ") + KindName(kind) + ": null " +
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
        store.ledger.Admit(object.get());
        RecordCreate(kind, nameText, value, object.get());
        object.release();  // now held by the ledger, or by the caller without recording
        return handle;
    } catch (...) {
        RecordCreate(kind, nameText, value, nullptr);
        return nullptr;
    }
}

// Destroy on any object: only the caller's own may be destroyed.
void DestroyNode(Node* node) {
    Record([&] { return "{\"op\":\"destroy\",\"id\":" + std::to_string(node->id) + "}"; });
    Ledger& ledger = TheLedger();
    if (ledger.Recording() && node->owner != Owner::Caller) {
        ledger.Violation("destroy: " + node->Describe() + " is not the caller's");
        return;
    }
    ledger.Retire(node, Owner::Destroyed);
}

void AddChild(Node* parent, const void* childHandle, Node* child) {
    Ledger& ledger = TheLedger();
    Record([&] {
        return "{\"op\":\"add\",\"parent\":" + std::to_string(parent->id) +
               ",\"child\":" + IdOf(child) + "}";
    });
    if (ledger.Recording()) {
        if (!childHandle) return ledger.Violation("add: null child to " + parent->Describe());
        if (!child) return ledger.Violation("add: foreign object to " + parent->Describe());
        if (parent->owner != Owner::Caller && parent->owner != Owner::Parent)
            return ledger.Violation("add: to " + parent->Describe() +
                                    ", which is not the caller's");
        if (child->owner != Owner::Caller)
            return ledger.Violation("add: " + child->Describe() + " is not the caller's");
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

const WideString& UserId() {
    static const WideString id = [] {
        if (const char* fixed = std::getenv("KV8_USER_ID")) return tev::FromUtf8(fixed);
        std::random_device seed;
        std::mt19937_64 random(seed());
        const char* digits = "0123456789abcdef";
        std::string uuid;
        for (int i = 0; i < 32; ++i) {
            if (i == 8 || i == 12 || i == 16 || i == 20) uuid += '-';
            uuid += digits[random() & 15];
        }
        return tev::FromUtf8(uuid);
    }();
    return id;
}

}  // namespace

void Reset() {
    Store& store = TheStore();
    store.ledger.Clear();
    store.trace.Clear();
    store.deliveries.clear();
    store.refusedCreations.clear();
    store.refusedGetState = 0;
    store.refusedUserId = 0;
    store.refusedInitialize = 0;
    store.initialized = false;
}

void SetRecording(bool on) { TheLedger().SetRecording(on); }

std::vector<std::string> Trace() { return TheStore().trace.Lines(); }

std::vector<std::string> TakeTrace() { return TheStore().trace.TakeNew(); }

void RefuseCreate(Kind kind, const WideString& name, int count) {
    AddRefusal(TheStore().refusedCreations[{kind, name}], count);
}

void RefuseGetState(int count) { AddRefusal(TheStore().refusedGetState, count); }

void RefuseInitialize(int count) { AddRefusal(TheStore().refusedInitialize, count); }

void RefuseUserId(int count) { AddRefusal(TheStore().refusedUserId, count); }

std::vector<std::string> Violations() { return TheLedger().Violations(); }

std::vector<std::string> CallerOwned() { return TheLedger().CallerOwned(); }

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

void CMLFacade::Initialize(CMLWaypoint* startup, const TEVChar* configPath, const TEVChar* arg2,
                           int arg3, unsigned int arg4, long long arg5, long long arg6,
                           const TEVChar* arg7, const TEVChar* arg8, bool arg9) {
    try {
        kv8::Store& store = kv8::TheStore();
        store.initialized = !kv8::TakeRefusal(store.refusedInitialize);
        kv8::Record([&] {
            return "{\"op\":\"initialize\",\"waypoint\":" +
                   kv8::IdOf(kv8::TheLedger().Find(startup)) +
                   ",\"config\":" + kv8::Quoted(configPath ? configPath : TEV_TEXT("")) +
                   ",\"arguments\":[" + kv8::OrNull(arg2) + "," + std::to_string(arg3) + "," +
                   std::to_string(arg4) + "," + std::to_string(arg5) + "," + std::to_string(arg6) +
                   "," + kv8::OrNull(arg7) + "," + kv8::OrNull(arg8) + "," +
                   (arg9 ? "true" : "false") + "]" +
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
            return "{\"op\":\"reached\",\"waypoint\":" +
                   kv8::IdOf(kv8::TheLedger().Find(waypoint)) + "}";
        });
        kv8::Take("reached", waypoint, false);
    } catch (...) {
    }
}

void CMLFacade::OnCrash(CMLWaypoint* crash, unsigned int, long long, long long) {
    try {
        kv8::Record([&] {
            return "{\"op\":\"crash\",\"waypoint\":" + kv8::IdOf(kv8::TheLedger().Find(crash)) +
                   "}";
        });
        kv8::Take("crash", crash, true);
    } catch (...) {
    }
}

void CMLFacade::Uninitialize(CMLWaypoint* shutdown, unsigned int) {
    try {
        kv8::TheStore().initialized = false;
        kv8::Record([&] {
            return "{\"op\":\"uninitialize\",\"waypoint\":" +
                   kv8::IdOf(kv8::TheLedger().Find(shutdown)) + "}";
        });
        kv8::Take("uninitialize", shutdown, true);
    } catch (...) {
    }
}

const TEVChar* CMLFacade::GetKV8UserId() {
    try {
        if (kv8::TakeRefusal(kv8::TheStore().refusedUserId)) {
            kv8::Record([] { return std::string("{\"op\":\"user_id\",\"result\":null}"); });
            return nullptr;
        }
        const kv8::WideString& id = kv8::UserId();
        kv8::Record([&] { return "{\"op\":\"user_id\",\"result\":" + kv8::Quoted(id) + "}"; });
        return id.c_str();
    } catch (...) {
        return TEV_TEXT("");
    }
}
