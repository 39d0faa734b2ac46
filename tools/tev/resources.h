// Texts compiled into the tool from the files beside its sources (resources.cpp.in).
#ifndef TEV_TOOL_RESOURCES_H
#define TEV_TOOL_RESOURCES_H

// default.tev: the scenario `tev run` plays without an argument.
extern const char* const kDefaultScenario;

namespace tevtool::resource {

// help/*.txt: what each command's help says below its options.
extern const char* const kTevHelp;
extern const char* const kRunHelp;
extern const char* const kLogHelp;
extern const char* const kDoctorHelp;
// page.css: the style of the page `tev log --html` makes.
extern const char* const kPageStyle;
// page.js: what sorts the page's table of runs by the column clicked.
extern const char* const kPageScript;

}  // namespace tevtool::resource

#endif
