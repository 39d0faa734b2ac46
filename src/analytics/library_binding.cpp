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
#include "library_statics.h"

namespace {

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
bool Find(void* module, Function& function, tev::analytics::LibraryStatic which,
          const char*& lacking) {
    const char* name = tev::analytics::kLibraryStatics[which].exported;
    function = reinterpret_cast<Function>(tev::platform::FindFunction(module, name));
    if (!function) lacking = name;
    return function != nullptr;
}

Binding Load() {
    using namespace tev::analytics;
    Binding binding;
    Unavailable& unavailable = binding.unavailable;
    tev::platform::Dependency dependency =
        tev::platform::LoadDependency(kLibraryFile, tev::platform::OwnSearchFolders());
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
    binding.complete = Find(module, library.createWaypoint, kCreateWaypoint, lacking) &&
                       Find(module, library.createState, kCreateState, lacking) &&
                       Find(module, library.createAttribute, kCreateAttribute, lacking) &&
                       Find(module, library.initialize, kInitialize, lacking) &&
                       Find(module, library.isInitialized, kIsInitialized, lacking) &&
                       Find(module, library.waypointReached, kWaypointReached, lacking) &&
                       Find(module, library.onCrash, kOnCrash, lacking) &&
                       Find(module, library.uninitialize, kUninitialize, lacking) &&
                       Find(module, library.getUserId, kGetUserId, lacking);
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
