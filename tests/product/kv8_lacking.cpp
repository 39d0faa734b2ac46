// An analytics library that lacks one of the statics TEV calls: the build exports every other one
// under the name TEV looks up, each as Refuse, which ends the process. TEV must treat the library
// as missing and call none of them. (Windows: a .def file names the exports; elsewhere, aliases of
// Refuse, one KV8_ALIAS(INDEX, NAME) line each in kv8_lacking_aliases.h, which the build writes for
// each library from cmake/kv8_statics.txt.)
#include <cstdlib>

extern "C" void Refuse() { std::abort(); }

#ifndef _WIN32
#define KV8_ALIAS(index, label)                                                           \
    extern "C" __attribute__((visibility("default"))) void Static##index() __asm__(label) \
        __attribute__((alias("Refuse")));
#include "kv8_lacking_aliases.h"
#endif
