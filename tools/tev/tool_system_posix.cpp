// The tool's process on Linux: arguments and environment are UTF-8 already.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tool_system.h"
#include "text.h"

namespace tevtool::process {

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void UseBinaryStandardStreams() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void UnsetEnvironment(const char* name) { unsetenv(name); }

std::FILE* OpenForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

std::string MakeOwnFolder(const std::string& prefix, std::string& error) {
    std::string path = prefix + "XXXXXX";
    if (mkdtemp(path.data())) return path;
    error = std::strerror(errno);
    return "";
}

void SetTemporaryDirectory(const std::string& dir) { SetEnvironment("TMPDIR", dir); }

std::string TevTempFilePath(const TEVChar* name) {
    return ToUtf8(tev::platform::TempFilePath(name));
}

bool ReadVersionInfo(const std::string&, VersionInfo&) { return false; }

}  // namespace tevtool::process
