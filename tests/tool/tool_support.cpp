#include "tool_support.h"

#include <algorithm>

namespace testing_support {

ProgramRun RunTool(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                   const std::string& input, const std::string& program, unsigned timeoutSeconds) {
    std::filesystem::path scratch = dir / "process";
    std::filesystem::create_directories(scratch);
    return RunProgram(program, arguments, input, scratch, timeoutSeconds);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    for (const std::string& line : Lines(text)) objects.push_back(nlohmann::json::parse(line));
    return objects;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
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
