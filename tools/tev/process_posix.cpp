// The tool's process on Linux: arguments and environment are UTF-8 already.
#include <cstdlib>

#include "platform/platform.h"
#include "process.h"
#include "text.h"

namespace tevtool::process {

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void UseBinaryStandardStreams() {}

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void SetTemporaryDirectory(const std::string& dir) { SetEnvironment("TMPDIR", dir); }

std::string TevTempFilePath(const TEVChar* name) {
    return ToUtf8(tev::platform::TempFilePath(name));
}

bool ReadVersionInfo(const std::string&, VersionInfo&) { return false; }

}  // namespace tevtool::process
