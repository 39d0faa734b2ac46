// The tool's process on Windows: the command line and the environment are UTF-16, and the C
// runtime's standard streams translate line ends unless told not to.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tev/files.h"
#include "platform/platform.h"
#include "tev/tool_system.h"
#include "printers/escaped_text.h"

namespace tevtool::process {

std::vector<std::string> Arguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i) arguments.push_back(tev::ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
}

bool IsTerminal(std::FILE* stream) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
            SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
}

void SetEnvironment(const char* name, const std::string& value) {
    std::wstring wideName(name, name + std::strlen(name));
    _wputenv_s(wideName.c_str(), PathOf(value).wstring().c_str());
}

void UnsetEnvironment(const char* name) {
    std::wstring wideName(name, name + std::strlen(name));
    _wputenv_s(wideName.c_str(), L"");  // an empty value removes the variable
}

namespace {

std::string WindowsError(DWORD code) { return "Windows error " + std::to_string(code); }

// A file on disk opened to be read, shared for reading and writing as a reader must while anything
// else holds it (a log a running setup holds is said to be so); its size as the open file gives
// it. INVALID_HANDLE_VALUE with `error` when it cannot be opened or is no file on disk (a pipe, a
// device).
HANDLE OpenRegular(const std::string& path, std::string& error, std::uint64_t& size) {
    HANDLE file = CreateFileW(PathOf(path).wstring().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        error = code == ERROR_SHARING_VIOLATION
                    ? "held open by a running setup; it can be read once the setup ends"
                : code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? kNoSuchPath
                : code == ERROR_ACCESS_DENIED                                  ? "Permission denied"
                                                                               : WindowsError(code);
        return file;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = "is not a regular file";
        return INVALID_HANDLE_VALUE;
    }
    LARGE_INTEGER bytes{};
    size = GetFileSizeEx(file, &bytes) ? static_cast<std::uint64_t>(bytes.QuadPart) : 0;
    return file;
}

}  // namespace

bool ReadFileUntil(const std::string& path, std::vector<char>& buffer, size_t limit,
                   const std::function<bool(std::string_view)>& piece, std::string& error,
                   std::uint64_t* size, std::uint64_t from) {
    std::uint64_t bytes = 0;
    HANDLE file = OpenRegular(path, error, bytes);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (size) *size = bytes;
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(from);
    bool ok = !from || SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    DWORD read = 0;
    while (ok && limit > 0 &&
           (ok = ReadFile(file, buffer.data(), static_cast<DWORD>(std::min(buffer.size(), limit)),
                          &read, nullptr)) &&
           read > 0) {
        if (!piece(std::string_view(buffer.data(), read))) break;
        limit -= read;
    }
    if (!ok && error.empty()) error = "cannot be read (" + WindowsError(GetLastError()) + ")";
    CloseHandle(file);
    return ok;
}

FileBytes::~FileBytes() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool FileBytes::Open(const std::string& path, std::string& error) {
    handle_ = reinterpret_cast<std::intptr_t>(OpenRegular(path, error, size_));
    return handle_ != -1;
}

bool FileBytes::ReadAt(std::uint64_t offset, char* into, std::size_t length) {
    while (length > 0) {
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(offset);
        place.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        DWORD asked = static_cast<DWORD>(std::min<std::size_t>(length, DWORD{1} << 30));
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), into, asked, &read, &place) || read == 0) {
            DWORD code = GetLastError();
            error_ = read == 0 && (code == ERROR_HANDLE_EOF || code == ERROR_SUCCESS)
                         ? "cut short while it was read"
                         : WindowsError(code);
            return false;
        }
        into += read;
        offset += read;
        length -= read;
    }
    return true;
}

namespace {

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info))
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

namespace {
volatile LONG interrupted = 0;

BOOL WINAPI NoteInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&interrupted, 1);
    return TRUE;
}
}  // namespace

void NoteInterrupts() { SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

bool Interrupted() { return InterlockedCompareExchange(&interrupted, 0, 0) != 0; }

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    // No access asked, only the file's attributes: a file a running setup holds opens too, and a
    // folder opens with backup semantics.
    HANDLE file = CreateFileW(PathOf(path).wstring().c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<FileIdentity> identity = IdentityOfHandle(file);
    CloseHandle(file);
    return identity;
}

std::optional<FileIdentity> IdentityOfStandardInput() {
    return IdentityOfHandle(GetStdHandle(STD_INPUT_HANDLE));
}

std::FILE* OpenForWriting(const std::string& path) {
    return _wfopen(PathOf(path).wstring().c_str(), L"wb");
}

std::string MakeOwnFolder(const std::string& prefix, std::string& error) {
    // CreateDirectoryW fails on anything already at the path, a link included; a folder of the
    // user's temporary directory inherits its access, which is the user's own.
    std::uint64_t seed = GetTickCount64() ^ (std::uint64_t{GetCurrentProcessId()} << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        char suffix[7];
        for (int i = 0; i < 6; ++i)
            suffix[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[(seed >> (8 * i + 16)) % 36];
        suffix[6] = 0;
        std::string path = prefix + suffix;
        if (CreateDirectoryW(PathOf(path).wstring().c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            error = "cannot be made (" + WindowsError(GetLastError()) + ")";
            return "";
        }
    }
    error = "no unused name found";
    return "";
}

std::string NoTemporaryDirectory() { return "C:\\" + std::string(MAX_PATH, 'v'); }

void SetTemporaryDirectory(const std::string& dir) {
    SetEnvironment("TMP", dir);
    SetEnvironment("TEMP", dir);
}

std::string TevTempFilePath(const TEVChar* name) {
    return Utf8Of(std::filesystem::path(tev::platform::TempFilePath(name)));
}

const char kTevLibraryFile[] = "TEV.dll";

LibraryKind NativeLibraryKind() {
    return {BinaryFormat::kPe, static_cast<int>(sizeof(void*) * 8),
            sizeof(void*) == 8 ? "x86-64" : "x86"};
}

std::vector<std::string> SystemLibraryFolders() {
    // For a 32-bit program on 64-bit Windows the system folder's name leads to SysWOW64, where
    // the file system sends this program's reads too.
    std::wstring folder =
        tev::platform::ReadWhole<std::wstring>([](wchar_t* text, std::size_t size) {
            UINT length = GetSystemDirectoryW(text, static_cast<UINT>(size));
            return length == 0 ? -1L : static_cast<long>(length);
        });
    if (folder.empty()) return {};
    return {Utf8Of(std::filesystem::path(folder))};
}

bool ProvidedBySystem(const std::string& name) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower.rfind("api-ms-win-", 0) == 0 || lower.rfind("ext-ms-", 0) == 0;
}

}  // namespace tevtool::process
