// The tool's process on Windows: the command line and the environment are UTF-16, and the C
// runtime's standard streams translate line ends unless told not to.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>

#include "files.h"
#include "platform/platform.h"
#include "process.h"
#include "text.h"

namespace tevtool::process {

std::vector<std::string> Arguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i) arguments.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
}

void SetEnvironment(const char* name, const std::string& value) {
    std::wstring wideName(name, name + std::strlen(name));
    _wputenv_s(wideName.c_str(), PathOf(value).wstring().c_str());
}

void SetTemporaryDirectory(const std::string& dir) {
    SetEnvironment("TMP", dir);
    SetEnvironment("TEMP", dir);
}

std::string TevTempFilePath(const TEVChar* name) {
    return Utf8Of(std::filesystem::path(tev::platform::TempFilePath(name)));
}

}  // namespace tevtool::process
