#include "tool_support.h"

namespace testing_support {

ProgramRun RunTool(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                   const std::string& input, const std::string& program) {
    std::filesystem::path scratch = dir / "process";
    std::filesystem::create_directories(scratch);
    return RunProgram(program, arguments, input, scratch);
}

}  // namespace testing_support
