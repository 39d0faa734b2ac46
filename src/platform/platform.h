// The only seam between the system and the operating system. Each function has one implementation
// per platform (posix.cpp, win32.cpp), chosen by the build.
#ifndef TEV_PLATFORM_H
#define TEV_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../base/text.h"

namespace tev::platform {

// An open file: a Windows handle or a POSIX descriptor, widened to one integer type.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;  // INVALID_HANDLE_VALUE on Windows

// The platform's directory separator ('\\' on Windows, '/' elsewhere).
extern const TEVChar kPathSeparator;

// What `read(buffer, size)` writes, in a buffer that grows until all of it fits: `read` returns the
// number of code units it wrote (no terminator counted), `size` or more when it may have been cut
// short, and a negative number on failure (then the result is empty). Nothing past what `read`
// wrote is ever kept. Both platforms read the executable's path this way.
template <typename String, typename Read>
String ReadWhole(Read read, std::size_t initialSize = 260) {
    constexpr std::size_t kLongest = 1 << 20;  // far beyond any path a system gives
    String text(initialSize, typename String::value_type());
    for (;;) {
        long written = read(text.data(), text.size());
        if (written < 0) return String();
        if (static_cast<std::size_t>(written) < text.size()) {
            text.resize(static_cast<std::size_t>(written));
            return text;
        }
        if (text.size() >= kLongest) return String();
        text.resize(text.size() * 2);
    }
}

// `fileName` in the user's temporary directory, read afresh at each call; empty when there is no
// usable temporary directory (on Windows also when the whole path would not fit in 260 characters).
// TEV creates its files there, and the tool looks for them there.
WideString TempFilePath(const TEVChar* fileName);

// A path as the system takes it: UTF-16 on Windows, the file system's bytes elsewhere (a folder
// whose name is not UTF-8 is still that folder). std::filesystem::path::native() gives one.
#if defined(_WIN32)
using SystemPath = std::wstring;
#else
using SystemPath = std::string;
#endif

// The folders a library's dependencies are looked for in besides the system's own, each ending
// with a separator (empty: none).
struct SearchFolders {
    SystemPath library;  // the folder of the library that depends on them
    SystemPath host;     // the folder of the host executable that loaded it
};

// Where TEV itself looks: the folder of the library this code is linked into (TEV.dll, libtev.so,
// or the program that compiles it in), then the host executable's.
SearchFolders OwnSearchFolders();

// A file of the library's name that the search passed over, and why (one that is not a regular
// file: "a directory", "a named pipe", "a device").
struct SkippedFile {
    WideString file;
    WideString reason;
};

// A file held open for reading, closed with its owner (on Linux, the library's file as it was
// checked: loading it through its descriptor loads that very file).
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(FileHandle handle) : handle_(handle) {}
    OpenFile(OpenFile&& other) noexcept : handle_(other.Release()) {}
    OpenFile& operator=(OpenFile&& other) noexcept;
    ~OpenFile();
    FileHandle Handle() const { return handle_; }
    FileHandle Release() {
        FileHandle handle = handle_;
        handle_ = kNoFile;
        return handle;
    }

private:
    FileHandle handle_ = kNoFile;
};

// What a search for a library's file finds on disk, without loading anything.
struct Location {
    // The file the search ends at: the one to load, or the one refused; empty when none was found.
    WideString file;
    SystemPath path;  // the same file as the system takes it
    // Why `file` must not be loaded, found without loading it ("writable by others", "owned by
    // another user"); empty when it may be loaded.
    WideString refusal;
    // Files of the library's name passed over on the way, in order. The search goes on past them.
    std::vector<SkippedFile> skipped;
    // The folders looked in, in order, each ending with a separator.
    std::vector<WideString> folders;
    // Which of them `file` is in (an index into `folders`); meaningless when `file` is empty.
    std::size_t folder = 0;
    // Linux: `file`, opened once and checked through this descriptor, when it may be loaded.
    OpenFile opened;
};

// Where a library that a library depends on is on disk, as the loader would find a static import
// of it, without the places anyone can write to: the first of the dependent library's folder, the
// host executable's folder and (on Windows) the system's folder that holds a regular file of that
// name. Never the current directory, PATH or LD_LIBRARY_PATH. Anything but a regular file (a
// directory, a named pipe, a device) is passed over: opening a named pipe would block for ever,
// and none of them is a library. A regular file found ends the search; on Linux it is opened once,
// without blocking, and refused unless it is owned by the effective user or root and writable by
// nobody else but its owner's own group. Reads the file system only: `tev doctor` asks it of an
// installer's folders to show the file TEV would load.
Location LocateDependency(const char* fileName, const SearchFolders& folders);

// Where LoadDependency looked for a library, and what came of it.
struct Dependency {
    void* library = nullptr;  // loaded, and kept for the rest of the process; null when not
    // The file loaded, or the one found that could not be loaded; empty when none was found.
    WideString file;
    // Why `file` could not be loaded: the location's refusal, or the system's reason ("error 193"
    // on Windows, the dynamic loader's message without the path elsewhere).
    WideString failure;
    // The folders looked in, in order, each ending with a separator; empty when the library was
    // already loaded.
    std::vector<WideString> folders;
};

struct CalendarTime {
    int year, month, day, hour, minute, second;
};

// The operating system's operations the system needs, each one that can fail reached through this
// one table. It holds the platform's own at load; a test may replace any entry to fail it.
struct Operations {
    // The directory of the host executable (not of this library), ending with a separator; empty
    // when the executable's path cannot be obtained. Never limited to 260 characters.
    WideString (*executableDirectory)();
    // Creates `fileName` anew in the user's temporary directory, read afresh at each call, for
    // this process alone: an existing file is emptied, unless another opener holds it, in which
    // case it is left untouched and kNoFile is returned. kNoFile also when there is no usable
    // temporary directory.
    FileHandle (*createTempFile)(const TEVChar* fileName);
    // Moves the file position to the end of the file and gives that position; negative on failure.
    std::int64_t (*seekToEnd)(FileHandle file);
    // Writes up to `size` bytes at the current position: the number written (possibly fewer),
    // negative when nothing could be written.
    std::ptrdiff_t (*write)(FileHandle file, const void* bytes, std::size_t size);
    // Cuts the file to its first `size` bytes; false on failure.
    bool (*truncate)(FileHandle file, std::int64_t size);
    void (*close)(FileHandle file);
    // The current time as UTC calendar fields; false when the clock cannot be read.
    bool (*utcNow)(CalendarTime& now);
    // A library that a library depends on, as the system's loader would bind an import, and no
    // further: one already loaded under that name (found in the list of loaded modules, never by
    // a probe that opens files); else the file LocateDependency gives, loaded through openLibrary
    // by its full path (Windows) or by the descriptor it was checked through (Linux:
    // /proc/self/fd/N, so that a file swapped in after the check is not the one loaded). TEV binds
    // the analytics library with its own folders.
    Dependency (*loadDependency)(const char* fileName, const SearchFolders& folders);
    // The system's own loading of a library's file by its full path with the system's flags
    // (LoadLibraryExW's on Windows, dlopen's elsewhere): the library, or null with `failure` set
    // to the system's reason ("error 193"; the dynamic loader's message without the path).
    void* (*openLibrary)(const SystemPath& path, unsigned flags, WideString& failure);
    // A function a library loaded by loadDependency exports under `name`; null when it has none.
    void* (*findFunction)(void* library, const char* name);
};

extern Operations operations;

}  // namespace tev::platform

#endif
