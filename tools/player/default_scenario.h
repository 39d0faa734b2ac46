// default.tev, compiled in: the scenario `tev run` plays without an argument.
#ifndef TEV_TOOL_DEFAULT_SCENARIO_H
#define TEV_TOOL_DEFAULT_SCENARIO_H

namespace tevtool::resource {

extern const char* const kDefaultScenario;

}  // namespace tevtool::resource

#endif
