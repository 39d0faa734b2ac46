#include "tool_support.h"

#include <algorithm>

namespace testing_support {

ProgramRun RunTool(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                   const std::string& input, const std::string& program) {
    std::filesystem::path scratch = dir / "process";
    std::filesystem::create_directories(scratch);
    return RunProgram(program, arguments, input, scratch);
}

}  // namespace testing_support

std::filesystem::path ToolTest::NewPlayFolder() {
    std::filesystem::path made;
    for (const auto& entry : std::filesystem::directory_iterator(tempDir_)) {
        const std::filesystem::path& path = entry.path();
        if (path.filename().string().starts_with("tev-run-") &&
            std::find(playFolders_.begin(), playFolders_.end(), path) == playFolders_.end()) {
            EXPECT_TRUE(made.empty()) << "two new play folders: " << made << " and " << path;
            made = path;
            playFolders_.push_back(path);
        }
    }
    return made;
}
