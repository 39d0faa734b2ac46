// The stand-in's mark: `tev doctor` flags a library that exports it as one that must not ship. On
// Linux a library carries no version information; on Windows its description says so too, but an
// edit of a few bytes changes a description, and the mark is still there. (Builds without it look
// like the real library, for the doctor's tests.)
#include "KV8Control.h"

#ifdef _WIN32
#define KV8_STANDIN_MARK __declspec(dllexport)  // beside the names KV8.def exports
#else
#define KV8_STANDIN_MARK KV8_API
#endif

extern "C" KV8_STANDIN_MARK const char kv8_standin_not_for_distribution[] =
    "Analytics library stand-in for TEV's tests - not for distribution";
