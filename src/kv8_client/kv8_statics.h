// The analytics library as TEV binds it at run time: its file's name and the statics TEV calls, by
// the names the library exports them under, for the binding and for the tool's diagnosis of an
// installer's folder. The statics come from the one list of them, cmake/kv8_statics.txt, which the
// build makes kv8_statics_list.h from.
#ifndef TEV_ANALYTICS_LIBRARY_STATICS_H
#define TEV_ANALYTICS_LIBRARY_STATICS_H

#include "kv8_statics_list.h"

namespace tev::kv8_client {

#if defined(_WIN32)
inline constexpr char kLibraryFile[] = "KV8.dll";
#else
inline constexpr char kLibraryFile[] = "libkv8.so";
#endif

// Each static by the name the library exports: Microsoft's decoration on Windows (the same labels
// KV8.h gives the declarations), the Itanium mangling elsewhere.
#if defined(_WIN32)
#define TEV_KV8_EXPORTED(itanium, microsoft) microsoft
#else
#define TEV_KV8_EXPORTED(itanium, microsoft) itanium
#endif

// kCreateWaypoint, kCreateState, ...: each static by its binding name, in the order TEV looks them
// up.
enum LibraryStatic {
#define TEV_KV8_ENUMERATOR(name, function, itanium, microsoft) k##name,
    TEV_KV8_STATIC_LIST(TEV_KV8_ENUMERATOR)
#undef TEV_KV8_ENUMERATOR
        kLibraryStaticCount
};

struct StaticName {
    const char* readable;  // as a C++ programmer names it
    const char* exported;  // as the library exports it
};

// In the order of LibraryStatic.
inline constexpr StaticName kLibraryStatics[kLibraryStaticCount] = {
#define TEV_KV8_NAME(name, function, itanium, microsoft) \
    {#function, TEV_KV8_EXPORTED(itanium, microsoft)},
    TEV_KV8_STATIC_LIST(TEV_KV8_NAME)
#undef TEV_KV8_NAME
};

#undef TEV_KV8_EXPORTED

}  // namespace tev::kv8_client

#endif
