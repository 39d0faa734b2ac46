// What each command's help says below its options: help/*.txt, compiled in.
#ifndef TEV_TOOL_HELP_TEXTS_H
#define TEV_TOOL_HELP_TEXTS_H

namespace tevtool::resource {

extern const char* const kTevHelp;
extern const char* const kRunHelp;
extern const char* const kLogHelp;
extern const char* const kDoctorHelp;

}  // namespace tevtool::resource

#endif
