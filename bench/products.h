// Product names as installers give them: dotted, in mixed case, numbered so that any count of
// them is distinct (e.g. "Tools.Debugger-15").
#ifndef TEV_BENCH_PRODUCTS_H
#define TEV_BENCH_PRODUCTS_H

#include <cstddef>
#include <string>

#include "../src/base/text.h"

namespace bench {

inline tev::WideString ProductName(std::size_t index) {
    static const char* const kFamilies[] = {"Studio", "Runtime", "Tools",  "Help",
                                            "SDK",    "Samples", "Drivers"};
    static const char* const kParts[] = {
        "Core",      "Lang",       "Debugger", "Profiler", "Templates", "Docs",   "Compilers",
        "Libraries", "Extensions", "Designer", "Emulator", "Assets",    "Updates"};
    std::string name = std::string(kFamilies[index % 7]) + "." + kParts[(index / 7) % 13] + "-" +
                       std::to_string(index);
    return tev::WideString(name.begin(), name.end());
}

// ASCII letters lower-cased, as the registry keys its products.
inline tev::WideString Lowered(tev::WideString name) {
    for (TEVChar& unit : name)
        if (unit >= TEV_TEXT('A') && unit <= TEV_TEXT('Z'))
            unit = static_cast<TEVChar>(unit - TEV_TEXT('A') + TEV_TEXT('a'));
    return name;
}

}  // namespace bench

#endif
