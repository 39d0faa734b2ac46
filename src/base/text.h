// Wide text inside the system.
#ifndef TEV_BASE_TEXT_H
#define TEV_BASE_TEXT_H

#include <string>
#include <string_view>

#include "TEVText.h"

namespace tev {

using WideString = std::basic_string<TEVChar>;
using WideView = std::basic_string_view<TEVChar>;

// Installers may pass a null text; it is taken as the empty text.
inline const TEVChar* TextOrEmpty(const TEVChar* text) { return text ? text : TEV_TEXT(""); }

}  // namespace tev

#endif
