// The platform layer on POSIX systems (the development build).
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform.h"

namespace tev::platform {
namespace {

// The folder of a file, as the system's bytes, ending with '/'; empty for a path without one.
std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/') + 1);  // npos + 1 is 0
}

std::string ExecutableFolder() {
    return FolderOf(ReadWhole<std::string>([](char* buffer, std::size_t size) {
        return static_cast<long>(readlink("/proc/self/exe", buffer, size));  // writes no terminator
    }));
}

WideString ExecutableDirectory() { return FromUtf8(ExecutableFolder()); }

// `fileName` in the user's temporary directory, as the bytes the environment gives: a directory
// whose name is not UTF-8 is still the same directory.
std::string TempFileBytes(const TEVChar* fileName) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = tmpdir && *tmpdir ? tmpdir : "/tmp";
    if (path.back() != '/') path += '/';
    return path + ToUtf8(fileName);
}

FileHandle CreateTempFile(const TEVChar* fileName) {
    std::string path = TempFileBytes(fileName);
    // Opened without truncating: the file is emptied only once this process holds the lock, so a
    // log that another run holds is left as it is. The log is its owner's alone: a file another
    // user made at its place in a shared folder is not written. O_NOFOLLOW and a single link:
    // never empty another file through a symbolic or a hard link at the log's place.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) return kNoFile;
    struct stat file;
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_nlink != 1 ||
        file.st_uid != geteuid() || flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
        close(fd);
        return kNoFile;
    }
    return fd;
}

std::int64_t SeekToEnd(FileHandle file) { return lseek(static_cast<int>(file), 0, SEEK_END); }

std::ptrdiff_t Write(FileHandle file, const void* bytes, std::size_t size) {
    ssize_t written;
    do {
        written = write(static_cast<int>(file), bytes, size);
    } while (written < 0 && errno == EINTR);
    return written;
}

bool Truncate(FileHandle file, std::int64_t size) {
    return ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0;
}

void Close(FileHandle file) { close(static_cast<int>(file)); }

// What a file that is not a regular file is, for the search that passes over it; null for a
// regular file.
const char* NotARegularFile(mode_t mode) {
    if (S_ISREG(mode)) return nullptr;
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// Why a library's file must not be loaded: whoever can change it could run code in every process
// that loads it. Empty when only the effective user or root can.
std::string Unsafe(const struct stat& file) {
    if (file.st_uid != geteuid() && file.st_uid != 0) return "owned by another user";
    if (file.st_mode & S_IWOTH) return "writable by others";
    if (file.st_mode & S_IWGRP) return "writable by its group";
    return "";
}

void* OpenLibrary(const SystemPath& path, unsigned flags, WideString& failure) {
    void* library = dlopen(path.c_str(), static_cast<int>(flags));
    if (!library) {
        // The loader's message, without the path it begins with.
        const char* error = dlerror();
        std::string message = error ? error : "";
        if (message.rfind(path + ": ", 0) == 0) message.erase(0, path.size() + 2);
        failure = FromUtf8(message);
    }
    return library;
}

Dependency LoadDependency(const char* fileName, const SearchFolders& folders) {
    Dependency found;
    // The loader binds an import to an object already loaded under that name (its soname).
    if (void* loaded = dlopen(fileName, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
        found.library = loaded;
        link_map* object = nullptr;
        if (dlinfo(loaded, RTLD_DI_LINKMAP, &object) == 0 && object)
            found.file = FromUtf8(object->l_name);
        return found;
    }
    Location location = LocateDependency(fileName, folders);
    found.folders = std::move(location.folders);
    found.file = std::move(location.file);
    found.failure = std::move(location.refusal);
    if (!found.file.empty() && found.failure.empty())
        found.library = operations.openLibrary(location.path, RTLD_NOW | RTLD_LOCAL, found.failure);
    return found;
}

void* FindFunction(void* library, const char* name) { return dlsym(library, name); }

bool UtcNow(CalendarTime& now) {
    std::time_t seconds = std::time(nullptr);
    std::tm fields{};
    if (seconds == static_cast<std::time_t>(-1) || !gmtime_r(&seconds, &fields)) return false;
    now = {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
           fields.tm_hour,        fields.tm_min,     fields.tm_sec};
    return true;
}

}  // namespace

WideString TempFilePath(const TEVChar* fileName) { return FromUtf8(TempFileBytes(fileName)); }

SearchFolders OwnSearchFolders() {
    SearchFolders folders;
    Dl_info self{};
    link_map* object = nullptr;
    if (!dladdr1(reinterpret_cast<void*>(&OwnSearchFolders), &self,
                 reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP))
        return folders;
    // The program itself has no name of its own in the loader's list: its folder is the
    // executable's. A library's name is the path it was loaded by.
    if (object && object->l_name[0] == '\0')
        folders.library = ExecutableFolder();
    else if (self.dli_fname && self.dli_fname[0] == '/')
        folders.library = FolderOf(self.dli_fname);
    return folders;
}

Location LocateDependency(const char* fileName, const SearchFolders& folders) {
    // Not the dynamic loader's own search, which LD_LIBRARY_PATH steers: the dependent library's
    // folder alone, as on Windows before the system's folder.
    Location found;
    if (folders.library.empty()) return found;
    found.folders.push_back(FromUtf8(folders.library));
    std::string path = folders.library + fileName;
    struct stat file;
    if (stat(path.c_str(), &file) != 0) return found;
    if (const char* kind = NotARegularFile(file.st_mode)) {
        found.skipped.push_back({FromUtf8(path), FromUtf8(kind)});
        return found;
    }
    found.file = FromUtf8(path);
    found.path = path;
    found.refusal = FromUtf8(Unsafe(file));
    return found;
}

const TEVChar kPathSeparator = u'/';

Operations operations = {
    ExecutableDirectory, CreateTempFile, SeekToEnd,   Write, Truncate, Close, UtcNow,
    LoadDependency,      OpenLibrary,    FindFunction};

}  // namespace tev::platform
