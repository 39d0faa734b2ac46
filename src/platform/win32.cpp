// The platform layer on Windows (the product).
#include <windows.h>
#include <shlwapi.h>

#include "platform.h"

namespace tev::platform {
namespace {

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

static_assert(sizeof(FileHandle) >= sizeof(HANDLE));

WideString ExecutableDirectory() {
    // The host installer's own path (no module handle), in a buffer that grows until the whole
    // path fits: a path cut at 260 characters would name the wrong configuration file.
    WideString path = ReadWhole<WideString>([](wchar_t* buffer, std::size_t size) {
        DWORD written = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(size));
        return written == 0 ? -1L : static_cast<long>(written);  // size when cut short
    });
    if (path.empty()) return path;
    if (path.size() < MAX_PATH - 1) {
        // Room for the shell's own path functions, which work within 260 characters.
        path.resize(MAX_PATH);
        PathRemoveFileSpecW(path.data());
        PathAddBackslashW(path.data());
        path.resize(lstrlenW(path.c_str()));
        return path;
    }
    // Longer paths: the same, by hand.
    std::size_t separator = path.find_last_of(L"\\/");
    return separator == WideString::npos ? WideString() : path.substr(0, separator + 1);
}

FileHandle CreateTempFile(const TEVChar* fileName) {
    wchar_t path[MAX_PATH] = {};
    // A directory that does not fit is no directory: the buffer then holds nothing usable, and
    // joining the name to it would put the log in the current directory.
    DWORD length = GetTempPathW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH) return kNoFile;
    if (!PathAppendW(path, fileName)) return kNoFile;  // would not fit in 260 characters
    // Share mode 0: nobody else may open the log while this run holds it, and a log another run
    // holds makes this creation fail without truncating it.
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<FileHandle>(file);
}

std::int64_t SeekToEnd(FileHandle file) {
    LONG high = 0;
    DWORD low = SetFilePointer(AsHandle(file), 0, &high, FILE_END);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    return static_cast<std::int64_t>(high) << 32 | low;
}

std::ptrdiff_t Write(FileHandle file, const void* bytes, std::size_t size) {
    DWORD written = 0;
    if (!WriteFile(AsHandle(file), bytes, static_cast<DWORD>(size), &written, nullptr)) return -1;
    return static_cast<std::ptrdiff_t>(written);
}

bool Truncate(FileHandle file, std::int64_t size) {
    LONG high = static_cast<LONG>(size >> 32);
    DWORD low = SetFilePointer(AsHandle(file), static_cast<LONG>(size), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
    return SetEndOfFile(AsHandle(file)) != 0;
}

void Close(FileHandle file) { CloseHandle(AsHandle(file)); }

bool UtcNow(CalendarTime& now) {
    SYSTEMTIME time;
    GetSystemTime(&time);  // cannot fail
    now = {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
    return true;
}

}  // namespace

const TEVChar kPathSeparator = L'\\';

Operations operations = {ExecutableDirectory, CreateTempFile, SeekToEnd, Write, Truncate, Close, UtcNow};

}  // namespace tev::platform
