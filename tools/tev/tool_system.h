// What the tool needs of the system it runs on beyond standard C++: its command line, its standard
// streams, its environment, reading a file as a reader must, where TEV keeps its files, and what
// the libraries of an installer beside it must be. The
// build compiles tool_system_posix.cpp or tool_system_win32.cpp.
#ifndef TEV_TOOL_SYSTEM_H
#define TEV_TOOL_SYSTEM_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "TEVText.h"
#include "binaries/binary_image.h"

namespace tevtool::process {

// How every command says that a path names nothing, on every platform.
inline constexpr char kNoSuchPath[] = "no such file or folder";
// The words for a failure given as an errno value or an error code: kNoSuchPath for a path that
// names nothing (or goes through a file as if it were a folder), the system's own words otherwise.
std::string ErrorText(int code);
std::string ErrorText(const std::error_code& code);

// The arguments after the program's name, as UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

// Standard input, output and error pass bytes as they are, the same on every platform: no CR
// added before each LF, none taken from the input.
void UseBinaryStandardStreams();

// Whether the stream is a terminal that takes colour and cursor movement (on Windows, a console
// that was switched to take them).
bool IsTerminal(std::FILE* stream);

// Sets a variable of this process's environment, which TEV and the stand-in read, to UTF-8 text.
void SetEnvironment(const char* name, const std::string& value);
void UnsetEnvironment(const char* name);

// What tells a file apart from every other however it is named (a hard link, a link to it, a name
// in other letter case where names do not tell case apart): its device and inode, on Windows its
// volume's serial number and file index.
struct FileIdentity {
    std::uint64_t volume = 0, index = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of the file a UTF-8 path names (links followed); none when it cannot be opened.
std::optional<FileIdentity> IdentityOf(const std::string& path);
// The identity of what standard input reads; none when it is no file.
std::optional<FileIdentity> IdentityOfStandardInput();

// Opens a file (UTF-8 path) to be written anew, as std::fopen does: null with errno set when it
// cannot be.
std::FILE* OpenForWriting(const std::string& path);

// Reads a file (UTF-8 path) that is to be a regular one from byte `from`, at most `limit` bytes, a
// `buffer` full at a time handed to `piece` until it returns false; the file's size as the open
// file gives it goes to `size` (when not null) before the first piece. On Windows it is opened
// shared for reading and writing, as a reader must while anything else holds it (a log a running
// setup holds is said to be so); on Linux without blocking, so that a FIFO put in the file's place
// cannot hang the open. False with `error` when it is no regular file or could not be read to its
// end.
bool ReadFileUntil(const std::string& path, std::vector<char>& buffer, size_t limit,
                   const std::function<bool(std::string_view)>& piece, std::string& error,
                   std::uint64_t* size, std::uint64_t from = 0);
// A regular file (UTF-8 path) read where a reader asks, with positioned reads (never the whole
// file), for ReadBinaryImage; opened as ReadFileUntil opens it.
class FileBytes final : public ByteSource {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() override;
    // False with `error` when it is no regular file or cannot be opened.
    bool Open(const std::string& path, std::string& error);
    // Its size when it was opened.
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, char* into, std::size_t length) override;
    // Why a read failed ("Input/output error", "cut short while it was read"); empty while none
    // has.
    const std::string& Error() const { return error_; }

private:
    std::intptr_t handle_ = -1;  // a descriptor, or a Windows HANDLE
    std::uint64_t size_ = 0;
    std::string error_;
};

// From now on an interrupt (Ctrl-C; SIGINT on Linux) does not end the process: it is noted, for a
// loop that asks and ends cleanly.
void NoteInterrupts();
bool Interrupted();

// Makes a new folder, `prefix` followed by a suffix no other folder has, that only this user can
// enter; its path, or empty with `error`. Never one that existed before, nor a link to one.
std::string MakeOwnFolder(const std::string& prefix, std::string& error);

// A temporary directory TEV can make no file in, whatever is on the machine: a path through a
// device (on Windows, one too long for a temporary directory).
std::string NoTemporaryDirectory();

// Points the variables that TEV finds its temporary directory by at `dir` (UTF-8).
void SetTemporaryDirectory(const std::string& dir);

// Where TEV puts a file of this name in its temporary directory now, as UTF-8; empty when it has
// no usable temporary directory.
std::string TevTempFilePath(const TEVChar* name);

// The libraries of the installers that run beside this tool: TEV's file ("TEV.dll", "libtev.so"),
// and the format, width and processor every library they load must have.
extern const char kTevLibraryFile[];
LibraryKind NativeLibraryKind();

// The system's folders the loader looks in for a library that another library needs, after the
// folders that one gives (UTF-8): on Windows the system folder (where the known system libraries
// are too); on Linux those of /etc/ld.so.conf, then /lib and /usr/lib (for a 64-bit tool the
// lib64 ones first).
std::vector<std::string> SystemLibraryFolders();

// Whether the loader provides a library of this name without a file of it: on Windows an API set
// ("api-ms-win-...", "ext-ms-..."), which the system maps to its own libraries.
bool ProvidedBySystem(const std::string& name);

}  // namespace tevtool::process

#endif
