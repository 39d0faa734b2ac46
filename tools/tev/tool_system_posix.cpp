// The tool's process on Linux: arguments and environment are UTF-8 already.
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/platform.h"
#include "tev/tool_system.h"
#include "printers/escaped_text.h"

namespace tevtool::process {

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void UseBinaryStandardStreams() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void UnsetEnvironment(const char* name) { unsetenv(name); }

namespace {

// A regular file opened to be read, without blocking (a FIFO put in its place cannot hang the
// open); its size as the open file gives it. -1 with `error` when it is no regular file or cannot
// be opened.
int OpenRegular(const std::string& path, std::string& error, std::uint64_t& size) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = ErrorText(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = S_ISDIR(info.st_mode) ? "is a directory" : "is not a regular file";
        return -1;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

}  // namespace

bool ReadFileUntil(const std::string& path, std::vector<char>& buffer, size_t limit,
                   const std::function<bool(std::string_view)>& piece, std::string& error,
                   std::uint64_t* size, std::uint64_t from) {
    std::uint64_t bytes = 0;
    int fd = OpenRegular(path, error, bytes);
    if (fd < 0) return false;
    if (size) *size = bytes;
    if (from && lseek(fd, static_cast<off_t>(from), SEEK_SET) < 0) {
        error = ErrorText(errno);
        close(fd);
        return false;
    }
    while (limit > 0) {
        ssize_t read = ::read(fd, buffer.data(), std::min(buffer.size(), limit));
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) error = ErrorText(errno);
        if (read <= 0) break;
        if (!piece(std::string_view(buffer.data(), static_cast<size_t>(read)))) break;
        limit -= static_cast<size_t>(read);
    }
    close(fd);
    return error.empty();
}

FileBytes::~FileBytes() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool FileBytes::Open(const std::string& path, std::string& error) {
    handle_ = OpenRegular(path, error, size_);
    return handle_ >= 0;
}

bool FileBytes::ReadAt(std::uint64_t offset, char* into, std::size_t length) {
    while (length > 0) {
        ssize_t read = pread(static_cast<int>(handle_), into, length, static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) {
            error_ = read < 0 ? ErrorText(errno) : "cut short while it was read";
            return false;
        }
        into += read;
        offset += static_cast<std::uint64_t>(read);
        length -= static_cast<std::size_t>(read);
    }
    return true;
}

namespace {

std::optional<FileIdentity> IdentityOfStatus(int result, const struct stat& info) {
    if (result != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat info {};
    return IdentityOfStatus(stat(path.c_str(), &info), info);
}

std::optional<FileIdentity> IdentityOfStandardInput() {
    struct stat info {};
    int result = fstat(STDIN_FILENO, &info);
    return S_ISREG(info.st_mode) ? IdentityOfStatus(result, info) : std::nullopt;
}

namespace {
volatile std::sig_atomic_t interrupted = 0;
}

void NoteInterrupts() {
    struct sigaction action {};
    action.sa_handler = [](int) { interrupted = 1; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return interrupted != 0; }

std::FILE* OpenForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

std::string MakeOwnFolder(const std::string& prefix, std::string& error) {
    std::string path = prefix + "XXXXXX";
    if (mkdtemp(path.data())) return path;
    error = ErrorText(errno);
    return "";
}

std::string NoTemporaryDirectory() { return "/dev/null/tev-run"; }

void SetTemporaryDirectory(const std::string& dir) { SetEnvironment("TMPDIR", dir); }

std::string TevTempFilePath(const TEVChar* name) {
    return tev::ToUtf8(tev::platform::TempFilePath(name));
}

const char kTevLibraryFile[] = "libtev.so";

LibraryKind NativeLibraryKind() {
    // The processor this tool was built for, which a program beside it runs on.
#if defined(__x86_64__)
    const char* machine = "x86-64";
#elif defined(__i386__)
    const char* machine = "x86";
#elif defined(__aarch64__)
    const char* machine = "ARM64";
#elif defined(__arm__)
    const char* machine = "ARM";
#else
    const char* machine = nullptr;  // not compared
#endif
    return {BinaryFormat::kElf, static_cast<int>(sizeof(void*) * 8), machine};
}

namespace {

// The folders a loader configuration file names, its includes followed (a glob each, relative to
// /etc), at most `depth` deep.
void ReadLoaderConfiguration(const std::string& file, int depth,
                             std::vector<std::string>& folders) {
    std::ifstream in(file);
    std::string line;
    while (depth > 0 && std::getline(in, line) && folders.size() < 1024) {
        line = line.substr(0, line.find('#'));
        std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos) continue;
        line = line.substr(start, line.find_last_not_of(" \t\r") + 1 - start);
        if (line.rfind("include", 0) == 0 && line.size() > 7 &&
            (line[7] == ' ' || line[7] == '\t')) {
            std::string pattern = line.substr(line.find_first_not_of(" \t", 7));
            if (pattern.front() != '/') pattern = "/etc/" + pattern;
            glob_t found{};
            if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
                for (std::size_t i = 0; i < found.gl_pathc; ++i)
                    ReadLoaderConfiguration(found.gl_pathv[i], depth - 1, folders);
            globfree(&found);
        } else if (line.front() == '/') {
            folders.push_back(line);
        }
    }
}

}  // namespace

std::vector<std::string> SystemLibraryFolders() {
    std::vector<std::string> folders;
    ReadLoaderConfiguration("/etc/ld.so.conf", 8, folders);
    if (sizeof(void*) == 8)
        for (const char* folder : {"/lib64", "/usr/lib64"}) folders.push_back(folder);
    for (const char* folder : {"/lib", "/usr/lib"}) folders.push_back(folder);
    return folders;
}

bool ProvidedBySystem(const std::string&) { return false; }

}  // namespace tevtool::process
