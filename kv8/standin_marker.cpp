// The stand-in's mark on Linux, where a library carries no version information: `tev doctor` flags
// a libkv8.so that exports it as one that must not ship. (Builds without it look like the real
// library, for the doctor's tests.)
#include "KV8Control.h"

extern "C" KV8_API const char kv8_standin_not_for_distribution[] =
    "Analytics library stand-in for TEV's tests - not for distribution";
