// Why the analytics library cannot be called, where TEV binds it when first needed (TEV.dll,
// libtev.so and the suites that load the stand-in as a library of its own).
#ifndef TEV_ANALYTICS_LIBRARY_BINDING_H
#define TEV_ANALYTICS_LIBRARY_BINDING_H

#include "../base/text.h"

namespace tev::kv8_client {

struct Unavailable {
    WideString file;   // the file found, or the name looked for when none was
    WideString cause;  // "not found", "cannot be loaded, " and the system's error, "lacks " a name
};

// Binds the library if it is not bound yet (once per process, as any call into it does) and says
// why it cannot be called; null when it can. The binding sets this when the program is loaded;
// it stays null where the library is compiled in, as in the tool, which then always has it.
inline const Unavailable* (*libraryUnavailable)() = nullptr;

}  // namespace tev::kv8_client

#endif
