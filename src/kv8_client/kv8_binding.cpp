// The analytics library, bound when TEV first calls into it rather than imported: a host must
// start, and every entry must answer, when the library is missing. The statics TEV calls are
// defined here as forwarders to the library's own, found by name once per process. A library that
// is missing, cannot be loaded or lacks any of them reads as a library that refuses everything: no
// object is created, it is never initialised, and its user identifier is the empty text.
//
// The library's virtual operations (Destroy, Add, GetState) are reached through its objects and
// need nothing here.
#include "kv8_binding.h"

#include "../platform/platform.h"
#include "../kv8_interface/KV8.h"
#include "kv8_statics.h"

namespace {

// One pointer to each static, named as in cmake/kv8_statics.txt.
struct Library {
#define TEV_KV8_FIELD(name, function, itanium, microsoft) decltype(&function) name;
    TEV_KV8_STATIC_LIST(TEV_KV8_FIELD)
#undef TEV_KV8_FIELD
};

// The library's statics, or why it has none to call.
struct Binding {
    Library statics;
    bool complete = false;
    tev::kv8_client::Unavailable unavailable;
};

tev::WideString Widen(const char* ascii) {
    return tev::WideString(ascii, ascii + std::char_traits<char>::length(ascii));
}

// False, with the name kept in `lacking`, when the library does not export it.
template <typename Function>
bool Find(void* module, Function& function, tev::kv8_client::LibraryStatic which,
          const char*& lacking) {
    const char* name = tev::kv8_client::kLibraryStatics[which].exported;
    function = reinterpret_cast<Function>(tev::platform::operations.findFunction(module, name));
    if (!function) lacking = name;
    return function != nullptr;
}

Binding Load() {
    using namespace tev::kv8_client;
    Binding binding;
    Unavailable& unavailable = binding.unavailable;
    tev::platform::Dependency dependency =
        tev::platform::operations.loadDependency(kLibraryFile, tev::platform::OwnSearchFolders());
    if (!dependency.library) {
        unavailable.file = dependency.file.empty() ? Widen(kLibraryFile) : dependency.file;
        unavailable.cause = dependency.file.empty()
                                ? TEV_TEXT("not found")
                                : TEV_TEXT("cannot be loaded, ") + dependency.failure;
        return binding;
    }
    void* module = dependency.library;
    Library& library = binding.statics;
    const char* lacking = nullptr;
    // Every static in the list's order, up to the first the library lacks.
    binding.complete = true;
#define TEV_KV8_FIND(name, function, itanium, microsoft) \
    binding.complete = binding.complete && Find(module, library.name, k##name, lacking);
    TEV_KV8_STATIC_LIST(TEV_KV8_FIND)
#undef TEV_KV8_FIND
    if (lacking) {
        unavailable.file = dependency.file;
        unavailable.cause = TEV_TEXT("lacks ") + Widen(lacking);
    }
    return binding;
}

// The library looked for once per process. The outcome is kept either way; only a failure to
// allocate while looking (an exception, which the calling entry contains) leaves the next call to
// try again.
const Binding& TheBinding() {
    static const Binding binding = Load();
    return binding;
}

// The library's statics, or null when it is missing or incomplete.
const Library* Bound() {
    const Binding& binding = TheBinding();
    return binding.complete ? &binding.statics : nullptr;
}

const tev::kv8_client::Unavailable* LibraryUnavailable() {
    const Binding& binding = TheBinding();
    return binding.complete ? nullptr : &binding.unavailable;
}

[[maybe_unused]] const bool registered =
    (tev::kv8_client::libraryUnavailable = LibraryUnavailable, true);

}  // namespace

CMLWaypoint* CMLWaypoint::Create(const TEVChar* name) {
    const Library* library = Bound();
    return library ? library->CreateWaypoint(name) : nullptr;
}

CMLState* CMLState::Create(const TEVChar* name) {
    const Library* library = Bound();
    return library ? library->CreateState(name) : nullptr;
}

CMLAttribute* CMLAttribute::Create(const TEVChar* name, const TEVChar* value) {
    const Library* library = Bound();
    return library ? library->CreateAttribute(name, value) : nullptr;
}

void CMLFacade::Initialize(CMLWaypoint* startup, const TEVChar* configPath, const TEVChar* arg2,
                           int arg3, unsigned int arg4, long long arg5, long long arg6,
                           const TEVChar* arg7, const TEVChar* arg8, bool arg9) {
    if (const Library* library = Bound())
        library->Initialize(startup, configPath, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

bool CMLFacade::IsKV8Initialized() {
    const Library* library = Bound();
    return library && library->IsInitialized();
}

void CMLFacade::WaypointReached(CMLWaypoint* waypoint) {
    if (const Library* library = Bound()) library->WaypointReached(waypoint);
}

void CMLFacade::OnCrash(CMLWaypoint* crash, unsigned int arg1, long long arg2, long long arg3) {
    if (const Library* library = Bound()) library->OnCrash(crash, arg1, arg2, arg3);
}

void CMLFacade::Uninitialize(CMLWaypoint* shutdown, unsigned int arg1) {
    if (const Library* library = Bound()) library->Uninitialize(shutdown, arg1);
}

const TEVChar* CMLFacade::GetKV8UserId() {
    const Library* library = Bound();
    return library ? library->GetUserId() : TEV_TEXT("");
}
