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
#include <cstring>
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
// that loads it. Empty when only the effective user or root can, or the owner's own group: a
// library the user built under umask 002 is writable by the user's own group, which holds the
// user alone where each user has a group of their own (and the file takes the group of its
// maker); root's own group is group 0.
std::string Unsafe(const struct stat& file) {
    if (file.st_uid != geteuid() && file.st_uid != 0) return "owned by another user";
    if (file.st_mode & S_IWOTH) return "writable by others";
    bool ownersGroup = file.st_uid == 0 ? file.st_gid == 0 : file.st_gid == getegid();
    if ((file.st_mode & S_IWGRP) && !ownersGroup) return "writable by its group";
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

// The name of an object the loader holds, from its list of loaded objects: the first whose
// file is named `fileName` (a name alone) or whose name is `fileName` (a path). Asking the loader
// instead, with dlopen(fileName, RTLD_NOLOAD), would make it open every file of that name on its
// search path (a named pipe there blocks it for ever).
std::string LoadedObject(const char* fileName) {
    struct Search {
        const char* name;
        bool path;
        std::string found;
    } search{fileName, std::strchr(fileName, '/') != nullptr, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t, void* data) {
            auto* wanted = static_cast<Search*>(data);
            const char* name = object->dlpi_name;
            if (!name || !*name) return 0;  // the program itself
            const char* slash = wanted->path ? nullptr : std::strrchr(name, '/');
            if (std::strcmp(slash ? slash + 1 : name, wanted->name) != 0) return 0;
            wanted->found = name;
            return 1;
        },
        &search);
    return search.found;
}

// The path that loads the file open as `file` itself. The loader takes a name it already holds for
// the object it names, opening nothing: an object loaded earlier through a descriptor of the same
// number would be taken for this file. So the descriptor is moved to a number no loaded object is
// named by.
std::string DescriptorPath(OpenFile& file) {
    for (;;) {
        std::string path = "/proc/self/fd/" + std::to_string(file.Handle());
        if (LoadedObject(path.c_str()).empty()) return path;
        int higher = fcntl(static_cast<int>(file.Handle()), F_DUPFD_CLOEXEC,
                           static_cast<int>(file.Handle()) + 1);
        if (higher < 0) return "";
        file = OpenFile(higher);
    }
}

Dependency LoadDependency(const char* fileName, const SearchFolders& folders) {
    Dependency found;
    // The loader binds an import to an object already loaded under that name. Its handle is
    // asked for by the very name the loader's list holds, which it matches without opening a file.
    std::string loaded = LoadedObject(fileName);
    if (!loaded.empty()) {
        if (void* library = dlopen(loaded.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
            found.library = library;
            found.file = FromUtf8(loaded);
            return found;
        }
    }
    Location location = LocateDependency(fileName, folders);
    found.folders = std::move(location.folders);
    found.file = std::move(location.file);
    found.failure = std::move(location.refusal);
    if (!found.file.empty() && found.failure.empty()) {
        std::string path = DescriptorPath(location.opened);
        if (path.empty())
            found.failure = FromUtf8(std::strerror(errno));
        else
            found.library = operations.openLibrary(path, RTLD_NOW | RTLD_LOCAL, found.failure);
    }
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

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (handle_ != kNoFile) close(static_cast<int>(handle_));
        handle_ = other.Release();
    }
    return *this;
}

OpenFile::~OpenFile() {
    if (handle_ != kNoFile) close(static_cast<int>(handle_));
}

SearchFolders OwnSearchFolders() {
    SearchFolders folders;
    folders.host = ExecutableFolder();
    Dl_info self{};
    link_map* object = nullptr;
    if (!dladdr1(reinterpret_cast<void*>(&OwnSearchFolders), &self,
                 reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP))
        return folders;
    // The program itself has no name of its own in the loader's list: its folder is the
    // executable's. A library's name is the path it was loaded by; a relative one (a library
    // found through LD_LIBRARY_PATH=.) names the folder the loader took it from, which its
    // origin gives whatever the current directory has become since.
    if (object && object->l_name[0] == '\0') {
        folders.library = folders.host;
    } else if (self.dli_fname && self.dli_fname[0] == '/') {
        folders.library = FolderOf(self.dli_fname);
    } else if (object) {
        std::vector<char> origin(1 << 16);  // the loader copies the origin whole, unbounded
        if (dlinfo(object, RTLD_DI_ORIGIN, origin.data()) == 0 && origin[0] == '/')
            folders.library = std::string(origin.data()) + '/';
    }
    return folders;
}

Location LocateDependency(const char* fileName, const SearchFolders& folders) {
    // Not the dynamic loader's own search, which LD_LIBRARY_PATH and the current directory steer:
    // the dependent library's folder, then the host's.
    Location found;
    for (const std::string& folder : {folders.library, folders.host}) {
        WideString shown = FromUtf8(folder);
        if (folder.empty() ||
            std::find(found.folders.begin(), found.folders.end(), shown) != found.folders.end())
            continue;
        found.folders.push_back(shown);
        std::string path = folder + fileName;
        struct stat file;
        if (stat(path.c_str(), &file) != 0) continue;
        // Opened once, never blocking (a named pipe swapped in after the stat), and judged by
        // what the descriptor holds: the file checked is the file loaded.
        OpenFile opened;
        const char* kind = NotARegularFile(file.st_mode);
        std::string refusal;
        if (!kind) {
            opened = OpenFile(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
            if (opened.Handle() != kNoFile && fstat(static_cast<int>(opened.Handle()), &file) == 0)
                kind = NotARegularFile(file.st_mode);
            else  // as the loader would say it; the search ends there, as the loader's would
                refusal = std::string("cannot open shared object file: ") + std::strerror(errno);
        }
        if (kind) {
            found.skipped.push_back({FromUtf8(path), FromUtf8(kind)});
            continue;
        }
        found.file = FromUtf8(path);
        found.path = path;
        found.folder = found.folders.size() - 1;
        found.refusal = FromUtf8(refusal.empty() ? Unsafe(file) : refusal);
        if (found.refusal.empty()) found.opened = std::move(opened);
        return found;
    }
    return found;
}

const TEVChar kPathSeparator = u'/';

Operations operations = {
    ExecutableDirectory, CreateTempFile, SeekToEnd,   Write, Truncate, Close, UtcNow,
    LoadDependency,      OpenLibrary,    FindFunction};

}  // namespace tev::platform
