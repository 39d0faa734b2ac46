// The page's style and script, compiled in.
#ifndef TEV_TOOL_PAGE_RESOURCES_H
#define TEV_TOOL_PAGE_RESOURCES_H

namespace tevtool::resource {

// page.css: the style of the page `tev log --html` makes.
extern const char* const kPageStyle;
// page.js: what sorts the page's table of runs by the column clicked.
extern const char* const kPageScript;

}  // namespace tevtool::resource

#endif
