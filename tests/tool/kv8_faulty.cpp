// Analytics libraries that export every static TEV calls in a way that no call of TEV's can use,
// one fault each, chosen by the build (the names from kv8_lacking_aliases.h as for kv8_lacking,
// here all of them; on Windows from a .def file):
//   KV8_DATA        each name a data object;
//   KV8_NEEDS       each a function, in a library that needs one that is not shipped beside it;
//   KV8_RUNNABLE    each a function, in a library that names a program interpreter, as a library
//                   that can be run does (a loader still loads it as a library);
//   KV8_SYSV        each a function, in a library with the older SysV hash table alone, which
//                   the loader finds them through (no fault: the build links it so);
//   KV8_ORIGIN      as KV8_NEEDS, with a RUNPATH of $ORIGIN: the library it needs is found
//                   beside it once shipped there (no fault then);
//   KV8_DEPENDENCY  the library KV8_NEEDS and KV8_ORIGIN need.
#include <cstdlib>

#ifdef KV8_DEPENDENCY
#ifdef _WIN32
#define KV8_EXPORT __declspec(dllexport)
#else
#define KV8_EXPORT __attribute__((visibility("default")))  // the tests build with it hidden
#endif
extern "C" KV8_EXPORT int TevMissingDependency() { return 1; }
#else
extern "C" void Refuse() { std::abort(); }
extern "C" const char kData[16] = "not a function";

#if defined(KV8_NEEDS) || defined(KV8_ORIGIN)
extern "C" KV8_IMPORT int TevMissingDependency();
extern "C" int Needed() { return TevMissingDependency(); }
#endif
#ifdef KV8_RUNNABLE
extern "C" __attribute__((section(".interp"), used)) const char kInterpreter[] = KV8_INTERPRETER;
#endif

#ifndef _WIN32
#ifdef KV8_DATA
#define KV8_ALIAS(index, label)                                                                   \
    extern "C" __attribute__((visibility("default"))) const char Static##index[16] __asm__(label) \
        __attribute__((alias("kData")));
#else
#define KV8_ALIAS(index, label)                                                           \
    extern "C" __attribute__((visibility("default"))) void Static##index() __asm__(label) \
        __attribute__((alias("Refuse")));
#endif
#include "kv8_lacking_aliases.h"
#endif
#endif
