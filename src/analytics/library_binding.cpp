// The analytics library, bound when TEV first calls into it rather than imported: a host must
// start, and every entry must answer, when the library is missing. The statics TEV calls are
// defined here as forwarders to the library's own, found by name once per process. A library that
// is missing, cannot be loaded or lacks any of them reads as a library that refuses everything: no
// object is created, it is never initialised, and its user identifier is the empty text.
//
// The library's virtual operations (Destroy, Add, GetState) are reached through its objects and
// need nothing here.
#include "library_binding.h"

#include "../platform/platform.h"
#include "KV8.h"

namespace {

// Each static by the name the library exports: Microsoft's decoration on Windows (the same labels
// KV8.h gives the declarations), the Itanium mangling elsewhere.
#if defined(_WIN32)
#define KV8_EXPORT(itanium, microsoft) microsoft
constexpr char kLibraryFile[] = "KV8.dll";
#else
#define KV8_EXPORT(itanium, microsoft) itanium
constexpr char kLibraryFile[] = "libkv8.so";
#endif

struct Library {
    decltype(&CMLWaypoint::Create) createWaypoint;
    decltype(&CMLState::Create) createState;
    decltype(&CMLAttribute::Create) createAttribute;
    decltype(&CMLFacade::Initialize) initialize;
    decltype(&CMLFacade::IsKV8Initialized) isInitialized;
    decltype(&CMLFacade::WaypointReached) waypointReached;
    decltype(&CMLFacade::OnCrash) onCrash;
    decltype(&CMLFacade::Uninitialize) uninitialize;
    decltype(&CMLFacade::GetKV8UserId) getUserId;
};

// The library's statics, or why it has none to call.
struct Binding {
    Library statics;
    bool complete = false;
    tev::analytics::Unavailable unavailable;
};

tev::WideString Widen(const char* ascii) {
    return tev::WideString(ascii, ascii + std::char_traits<char>::length(ascii));
}

// False, with the name kept in `lacking`, when the library does not export it.
template <typename Function>
bool Find(void* module, Function& function, const char* name, const char*& lacking) {
    function = reinterpret_cast<Function>(tev::platform::FindFunction(module, name));
    if (!function) lacking = name;
    return function != nullptr;
}

Binding Load() {
    Binding binding;
    tev::analytics::Unavailable& unavailable = binding.unavailable;
    tev::platform::Dependency dependency = tev::platform::LoadDependency(kLibraryFile);
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
    binding.complete =
        Find(module, library.createWaypoint,
             KV8_EXPORT("_ZN11CMLWaypoint6CreateEPKDs", "?Create@CMLWaypoint@@SAPAV1@PB_W@Z"),
             lacking) &&
        Find(module, library.createState,
             KV8_EXPORT("_ZN8CMLState6CreateEPKDs", "?Create@CMLState@@SAPAV1@PB_W@Z"), lacking) &&
        Find(module, library.createAttribute,
             KV8_EXPORT("_ZN12CMLAttribute6CreateEPKDsS1_", "?Create@CMLAttribute@@SAPAV1@PB_W0@Z"),
             lacking) &&
        Find(module, library.initialize,
             KV8_EXPORT("_ZN9CMLFacade10InitializeEP11CMLWaypointPKDsS3_ijxxS3_S3_b",
                        "?Initialize@CMLFacade@@SAXPAVCMLWaypoint@@PB_W1HI_J211_N@Z"),
             lacking) &&
        Find(module, library.isInitialized,
             KV8_EXPORT("_ZN9CMLFacade16IsKV8InitializedEv", "?IsKV8Initialized@CMLFacade@@SA_NXZ"),
             lacking) &&
        Find(module, library.waypointReached,
             KV8_EXPORT("_ZN9CMLFacade15WaypointReachedEP11CMLWaypoint",
                        "?WaypointReached@CMLFacade@@SAXPAVCMLWaypoint@@@Z"),
             lacking) &&
        Find(module, library.onCrash,
             KV8_EXPORT("_ZN9CMLFacade7OnCrashEP11CMLWaypointjxx",
                        "?OnCrash@CMLFacade@@SAXPAVCMLWaypoint@@I_J1@Z"),
             lacking) &&
        Find(module, library.uninitialize,
             KV8_EXPORT("_ZN9CMLFacade12UninitializeEP11CMLWaypointj",
                        "?Uninitialize@CMLFacade@@SAXPAVCMLWaypoint@@I@Z"),
             lacking) &&
        Find(module, library.getUserId,
             KV8_EXPORT("_ZN9CMLFacade12GetKV8UserIdEv", "?GetKV8UserId@CMLFacade@@SAPB_WXZ"),
             lacking);
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

const tev::analytics::Unavailable* LibraryUnavailable() {
    const Binding& binding = TheBinding();
    return binding.complete ? nullptr : &binding.unavailable;
}

[[maybe_unused]] const bool registered =
    (tev::analytics::libraryUnavailable = LibraryUnavailable, true);

}  // namespace

CMLWaypoint* CMLWaypoint::Create(const TEVChar* name) {
    const Library* library = Bound();
    return library ? library->createWaypoint(name) : nullptr;
}

CMLState* CMLState::Create(const TEVChar* name) {
    const Library* library = Bound();
    return library ? library->createState(name) : nullptr;
}

CMLAttribute* CMLAttribute::Create(const TEVChar* name, const TEVChar* value) {
    const Library* library = Bound();
    return library ? library->createAttribute(name, value) : nullptr;
}

void CMLFacade::Initialize(CMLWaypoint* startup, const TEVChar* configPath, const TEVChar* arg2,
                           int arg3, unsigned int arg4, long long arg5, long long arg6,
                           const TEVChar* arg7, const TEVChar* arg8, bool arg9) {
    if (const Library* library = Bound())
        library->initialize(startup, configPath, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

bool CMLFacade::IsKV8Initialized() {
    const Library* library = Bound();
    return library && library->isInitialized();
}

void CMLFacade::WaypointReached(CMLWaypoint* waypoint) {
    if (const Library* library = Bound()) library->waypointReached(waypoint);
}

void CMLFacade::OnCrash(CMLWaypoint* crash, unsigned int arg1, long long arg2, long long arg3) {
    if (const Library* library = Bound()) library->onCrash(crash, arg1, arg2, arg3);
}

void CMLFacade::Uninitialize(CMLWaypoint* shutdown, unsigned int arg1) {
    if (const Library* library = Bound()) library->uninitialize(shutdown, arg1);
}

const TEVChar* CMLFacade::GetKV8UserId() {
    const Library* library = Bound();
    return library ? library->getUserId() : TEV_TEXT("");
}
