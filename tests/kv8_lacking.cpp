// An analytics library that lacks one of the statics TEV calls: the build exports every other one
// under the name TEV looks up, each as Refuse, which ends the process. TEV must treat the library
// as missing and call none of them. (Windows: a .def file names the exports; elsewhere, aliases of
// Refuse labelled KV8_STATIC_0 to KV8_STATIC_8, each defined when exported.)
#include <cstdlib>

extern "C" void Refuse() { std::abort(); }

#define KV8_ALIAS(index, label)                                                           \
    extern "C" __attribute__((visibility("default"))) void Static##index() __asm__(label) \
        __attribute__((alias("Refuse")));
#ifdef KV8_STATIC_0
KV8_ALIAS(0, KV8_STATIC_0)
#endif
#ifdef KV8_STATIC_1
KV8_ALIAS(1, KV8_STATIC_1)
#endif
#ifdef KV8_STATIC_2
KV8_ALIAS(2, KV8_STATIC_2)
#endif
#ifdef KV8_STATIC_3
KV8_ALIAS(3, KV8_STATIC_3)
#endif
#ifdef KV8_STATIC_4
KV8_ALIAS(4, KV8_STATIC_4)
#endif
#ifdef KV8_STATIC_5
KV8_ALIAS(5, KV8_STATIC_5)
#endif
#ifdef KV8_STATIC_6
KV8_ALIAS(6, KV8_STATIC_6)
#endif
#ifdef KV8_STATIC_7
KV8_ALIAS(7, KV8_STATIC_7)
#endif
#ifdef KV8_STATIC_8
KV8_ALIAS(8, KV8_STATIC_8)
#endif
