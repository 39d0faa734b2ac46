// The two entries that take a bool, InitML and wpSetupPhase, read it as the byte the caller passed:
// any byte but 0 is true. A caller in another language (an NSIS script passes an int) can pass 2
// or 255, which a function declared with a bool may take for 0 or 1 as it stands: clang makes 2
// false with a mask when it keeps the argument, and indexes a table of two with it when it does
// not. So these two are defined here under their entries' own symbols, with a byte where the
// bool is, which the binary interface passes alike; TEVUtil.h's declarations name the same
// symbols. This file does not include TEVUtil.h, so that the functions can be TEVUtil's in name
// too: debuggers show them as TEVUtil::InitML and TEVUtil::wpSetupPhase, like the other entries.
#include "entries.h"

#define TEV_STRINGIFY_(text) #text
#define TEV_STRINGIFY(text) TEV_STRINGIFY_(text)
#if defined(_WIN32)
// The symbol written as the Itanium name itself, so that the debug information names the entry
// by it; on i686 a C++ reference to it carries a leading underscore, which this alias answers
// (and TEV.def's export of it).
#define TEV_ENTRY_SYMBOL(name) __asm__(name)
#define TEV_ENTRY_ALIAS(name)                                   \
    __asm__(".globl " TEV_STRINGIFY(__USER_LABEL_PREFIX__) name \
            "\n.set " TEV_STRINGIFY(__USER_LABEL_PREFIX__) name ", " name);
#else
#define TEV_ENTRY_SYMBOL(name) __asm__(name) __attribute__((visibility("default")))
#define TEV_ENTRY_ALIAS(name)
#endif

// A C++ caller that compiles TEV in (the tool, the suites) calls these through their declared
// types, which clang's -fsanitize=function takes for another function's; at the binary interface
// the two are one, which is what this file is for.
#if defined(__clang__)
#define TEV_BOOL_AS_BYTE __attribute__((no_sanitize("function")))
#else
#define TEV_BOOL_AS_BYTE
#endif

#define TEV_INIT_ML "_ZN7TEVUtil6InitMLEb"
#define TEV_WP_SETUP_PHASE "_ZN7TEVUtil12wpSetupPhaseENS_11eSetupPhaseEb"

namespace TEVUtil {

TEV_BOOL_AS_BYTE bool InitML(unsigned char enableLog) TEV_ENTRY_SYMBOL(TEV_INIT_ML);
TEV_BOOL_AS_BYTE void wpSetupPhase(int phase, unsigned char begin)
    TEV_ENTRY_SYMBOL(TEV_WP_SETUP_PHASE);

bool InitML(unsigned char enableLog) { return tev::entries::InitML(enableLog != 0); }

void wpSetupPhase(int phase, unsigned char begin) { tev::entries::SetupPhase(phase, begin != 0); }

}  // namespace TEVUtil

TEV_ENTRY_ALIAS(TEV_INIT_ML)
TEV_ENTRY_ALIAS(TEV_WP_SETUP_PHASE)
