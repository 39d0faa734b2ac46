// The analytics library as TEV binds it at run time: its file's name and the nine statics TEV
// calls, by the names the library exports them under. One list, for the binding and for the tool's
// diagnosis of an installer's folder; tests/CMakeLists.txt reads the names from this file too.
#ifndef TEV_ANALYTICS_LIBRARY_STATICS_H
#define TEV_ANALYTICS_LIBRARY_STATICS_H

namespace tev::analytics {

#if defined(_WIN32)
inline constexpr char kLibraryFile[] = "KV8.dll";
#else
inline constexpr char kLibraryFile[] = "libkv8.so";
#endif

// Each static by the name the library exports: Microsoft's decoration on Windows (the same labels
// KV8.h gives the declarations), the Itanium mangling elsewhere.
#if defined(_WIN32)
#define KV8_EXPORT(itanium, microsoft) microsoft
#else
#define KV8_EXPORT(itanium, microsoft) itanium
#endif

enum LibraryStatic {
    kCreateWaypoint,
    kCreateState,
    kCreateAttribute,
    kInitialize,
    kIsInitialized,
    kWaypointReached,
    kOnCrash,
    kUninitialize,
    kGetUserId,
    kLibraryStaticCount
};

struct StaticName {
    const char* readable;  // as a C++ programmer names it
    const char* exported;  // as the library exports it
};

// In the order of LibraryStatic.
// clang-format off
inline constexpr StaticName kLibraryStatics[kLibraryStaticCount] = {
    {"CMLWaypoint::Create", KV8_EXPORT("_ZN11CMLWaypoint6CreateEPKDs", "?Create@CMLWaypoint@@SAPAV1@PB_W@Z")},
    {"CMLState::Create", KV8_EXPORT("_ZN8CMLState6CreateEPKDs", "?Create@CMLState@@SAPAV1@PB_W@Z")},
    {"CMLAttribute::Create", KV8_EXPORT("_ZN12CMLAttribute6CreateEPKDsS1_", "?Create@CMLAttribute@@SAPAV1@PB_W0@Z")},
    {"CMLFacade::Initialize", KV8_EXPORT("_ZN9CMLFacade10InitializeEP11CMLWaypointPKDsS3_ijxxS3_S3_b", "?Initialize@CMLFacade@@SAXPAVCMLWaypoint@@PB_W1HI_J211_N@Z")},
    {"CMLFacade::IsKV8Initialized", KV8_EXPORT("_ZN9CMLFacade16IsKV8InitializedEv", "?IsKV8Initialized@CMLFacade@@SA_NXZ")},
    {"CMLFacade::WaypointReached", KV8_EXPORT("_ZN9CMLFacade15WaypointReachedEP11CMLWaypoint", "?WaypointReached@CMLFacade@@SAXPAVCMLWaypoint@@@Z")},
    {"CMLFacade::OnCrash", KV8_EXPORT("_ZN9CMLFacade7OnCrashEP11CMLWaypointjxx", "?OnCrash@CMLFacade@@SAXPAVCMLWaypoint@@I_J1@Z")},
    {"CMLFacade::Uninitialize", KV8_EXPORT("_ZN9CMLFacade12UninitializeEP11CMLWaypointj", "?Uninitialize@CMLFacade@@SAXPAVCMLWaypoint@@I@Z")},
    {"CMLFacade::GetKV8UserId", KV8_EXPORT("_ZN9CMLFacade12GetKV8UserIdEv", "?GetKV8UserId@CMLFacade@@SAPB_WXZ")},
};
// clang-format on

#undef KV8_EXPORT

}  // namespace tev::analytics

#endif
