// The platform layer on Windows (the product).
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>

#include "platform.h"

namespace tev::platform {
namespace {

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

static_assert(sizeof(FileHandle) >= sizeof(HANDLE));

// The full path of a module (null: the host executable), in a buffer that grows until the whole
// path fits; empty when it cannot be obtained.
WideString ModuleFileName(HMODULE module) {
    return ReadWhole<WideString>([module](wchar_t* buffer, std::size_t size) {
        DWORD written = GetModuleFileNameW(module, buffer, static_cast<DWORD>(size));
        return written == 0 ? -1L : static_cast<long>(written);  // size when cut short
    });
}

// The module this code is linked into: TEV.dll, or a test program that compiles it in.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

WideString ExecutableDirectory() {
    // The host installer's own path, whole: a path cut at 260 characters would name the wrong
    // configuration file.
    WideString path = ModuleFileName(nullptr);
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
    WideString path = TempFilePath(fileName);
    if (path.empty()) return kNoFile;
    // Share mode 0: nobody else may open the log while this run holds it, and a log another run
    // holds makes this creation fail without truncating it.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
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

WideString LibraryName(const char* fileName) {
    return WideString(fileName, fileName + lstrlenA(fileName));  // a library's name is ASCII
}

void* OpenLibrary(const SystemPath& path, unsigned flags, WideString& failure) {
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, flags);
    if (!library) failure = L"error " + std::to_wstring(GetLastError());
    return library;
}

Dependency LoadDependency(const char* fileName, const SearchFolders& folders) {
    Dependency found;
    HMODULE module = nullptr;
    // The loader binds an import to a module already loaded under that name.
    if (GetModuleHandleExW(0, LibraryName(fileName).c_str(), &module)) {
        found.library = module;
        found.file = ModuleFileName(module);
        return found;
    }
    Location location = LocateDependency(fileName, folders);
    found.folders = std::move(location.folders);
    found.file = std::move(location.file);
    if (found.file.empty()) return found;
    // By its full path; its own dependencies from its folder and the system's, likewise never
    // from the current directory or PATH. Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH
    // flag and refuses them as an invalid parameter: there the altered search takes its
    // dependencies from its folder first, then the standard places.
    found.library = operations.openLibrary(
        location.path, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS,
        found.failure);
    if (!found.library && found.failure == L"error " + std::to_wstring(ERROR_INVALID_PARAMETER)) {
        found.failure.clear();
        found.library =
            operations.openLibrary(location.path, LOAD_WITH_ALTERED_SEARCH_PATH, found.failure);
    }
    return found;
}

void* FindFunction(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool UtcNow(CalendarTime& now) {
    SYSTEMTIME time;
    GetSystemTime(&time);  // cannot fail
    now = {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
    return true;
}

}  // namespace

WideString TempFilePath(const TEVChar* fileName) {
    wchar_t path[MAX_PATH] = {};
    // A directory that does not fit is no directory: the buffer then holds nothing usable, and
    // joining the name to it would put the file in the current directory.
    DWORD length = GetTempPathW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH) return WideString();
    if (!PathAppendW(path, fileName)) return WideString();  // would not fit in 260 characters
    return path;
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (handle_ != kNoFile) CloseHandle(AsHandle(handle_));
        handle_ = other.Release();
    }
    return *this;
}

OpenFile::~OpenFile() {
    if (handle_ != kNoFile) CloseHandle(AsHandle(handle_));
}

SearchFolders OwnSearchFolders() {
    // This library's own folder first, so that a copy shipped beside TEV.dll (in an installer's
    // plug-ins folder, say) wins; then the host's, where a static import of the library would
    // find it too.
    HMODULE self = ThisModule();
    WideString selfPath = self ? ModuleFileName(self) : WideString();
    return {selfPath.substr(0, selfPath.find_last_of(L"\\/") + 1), ExecutableDirectory()};
}

Location LocateDependency(const char* fileName, const SearchFolders& folders) {
    WideString name = LibraryName(fileName);
    Location found;
    // The given folders, then the system's, as the loader's own search begins. The current
    // directory and PATH, which that search reaches later, are where anyone can put a library,
    // and are never looked in.
    WideString system = ReadWhole<WideString>([](wchar_t* buffer, std::size_t size) {
        UINT written = GetSystemDirectoryW(buffer, static_cast<UINT>(size));
        return written == 0 ? -1L : static_cast<long>(written);  // more than size when cut short
    });
    if (!system.empty()) system += L'\\';
    for (const WideString& folder : {folders.library, folders.host, system}) {
        if (folder.empty() ||
            std::find_if(found.folders.begin(), found.folders.end(), [&](const WideString& seen) {
                return lstrcmpiW(seen.c_str(), folder.c_str()) == 0;
            }) != found.folders.end())
            continue;
        found.folders.push_back(folder);
        WideString path = folder + name;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
            found.skipped.push_back(
                {path, attributes & FILE_ATTRIBUTE_DIRECTORY ? L"a directory" : L"a device"});
            continue;
        }
        found.file = path;
        found.path = path;
        found.folder = found.folders.size() - 1;
        return found;
    }
    return found;
}

const TEVChar kPathSeparator = L'\\';

Operations operations = {
    ExecutableDirectory, CreateTempFile, SeekToEnd,   Write, Truncate, Close, UtcNow,
    LoadDependency,      OpenLibrary,    FindFunction};

}  // namespace tev::platform
