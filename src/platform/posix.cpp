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
    if (dladdr(reinterpret_cast<void*>(&OwnSearchFolders), &self) && self.dli_fname &&
        self.dli_fname[0] == '/')
        folders.library = FolderOf(self.dli_fname);
    folders.host = ExecutableFolder();
    return folders;
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
    // Not the dynamic loader's own search, which LD_LIBRARY_PATH steers: the same places as the
    // Windows build.
    std::vector<std::string> searched;
    for (const std::string& folder : {folders.library, folders.host}) {
        if (folder.empty() || std::find(searched.begin(), searched.end(), folder) != searched.end())
            continue;
        searched.push_back(folder);
        found.folders.push_back(FromUtf8(folder));
        std::string path = folder + fileName;
        struct stat file;
        if (stat(path.c_str(), &file) != 0 || S_ISDIR(file.st_mode)) continue;
        found.file = FromUtf8(path);
        found.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!found.library) {
            // The loader's message, without the path it begins with.
            const char* error = dlerror();
            std::string message = error ? error : "";
            if (message.rfind(path + ": ", 0) == 0) message.erase(0, path.size() + 2);
            found.failure = FromUtf8(message);
        }
        return found;
    }
    return found;
}

void* FindFunction(void* library, const char* name) { return dlsym(library, name); }

const TEVChar kPathSeparator = u'/';

Operations operations = {
    ExecutableDirectory, CreateTempFile, SeekToEnd, Write, Truncate, Close, UtcNow};

}  // namespace tev::platform
