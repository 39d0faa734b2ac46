#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tevtool {
namespace {

// What a path names, when it is not a regular file; empty when it is (or when it cannot be told).
std::string NotRegular(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) return "";
    switch (status.type()) {
    case std::filesystem::file_type::directory: return "is a directory";
    case std::filesystem::file_type::fifo: return "is a FIFO, not a regular file";
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block: return "is a device, not a regular file";
    case std::filesystem::file_type::socket: return "is a socket, not a regular file";
    default: return "";
    }
}

}  // namespace

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    return ReadRegularFile(
        path, [&](std::string_view piece) { bytes.append(piece); }, error);
}

bool ReadRegularFile(const std::string& path, const std::function<void(std::string_view)>& piece,
                     std::string& error, size_t limit) {
    constexpr size_t kPiece = 1 << 20;
    std::vector<char> buffer(std::min(kPiece, limit));
    if (path == "-") {
        while (std::cin.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               std::cin.gcount() > 0)
            piece(std::string_view(buffer.data(), static_cast<size_t>(std::cin.gcount())));
        return true;
    }
    error = NotRegular(PathOf(path));
    if (!error.empty()) return false;
#ifdef _WIN32
    // Shared for reading and writing: what a reader must allow while anything else holds the file.
    HANDLE file = CreateFileW(PathOf(path).wstring().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        error = code == ERROR_SHARING_VIOLATION
                    ? "held open by a running setup; it can be read once the setup ends"
                : code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                    ? "No such file or directory"
                : code == ERROR_ACCESS_DENIED
                    ? "Permission denied"
                    : "cannot be opened (Windows error " + std::to_string(code) + ")";
        return false;
    }
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    if (!ok) error = "is not a regular file";
    DWORD read = 0;
    while (ok && limit > 0 &&
           (ok = ReadFile(file, buffer.data(), static_cast<DWORD>(std::min(kPiece, limit)), &read,
                          nullptr)) &&
           read > 0) {
        piece(std::string_view(buffer.data(), read));
        limit -= read;
    }
    if (!ok && error.empty())
        error = "cannot be read (Windows error " + std::to_string(GetLastError()) + ")";
    CloseHandle(file);
    return ok;
#else
    // Non-blocking: a FIFO put in the file's place after the check above must not hang the open.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = S_ISDIR(info.st_mode) ? "is a directory" : "is not a regular file";
        return false;
    }
    while (limit > 0) {
        ssize_t read = ::read(fd, buffer.data(), std::min(kPiece, limit));
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) error = std::strerror(errno);
        if (read <= 0) break;
        piece(std::string_view(buffer.data(), static_cast<size_t>(read)));
        limit -= static_cast<size_t>(read);
    }
    close(fd);
    return error.empty();
#endif
}

bool ReadFileStart(const std::string& path, size_t size, std::string& bytes, std::string& error) {
    bytes.clear();
    return ReadRegularFile(
        path, [&](std::string_view piece) { bytes.append(piece); }, error, size);
}

void ForEachFile(const std::string& dir, const std::function<void(const std::string&)>& visit,
                 const std::function<void(const std::string&, const std::string&)>& unreadable) {
    namespace fs = std::filesystem;
    using Name = std::basic_string_view<fs::path::value_type>;
    // The folders being walked, deepest last. A folder's entries are held while its subfolders are
    // walked, never a whole tree, and only by name, in one block: a folder of ten thousand logs
    // costs a few hundred kilobytes.
    struct Folder {
        fs::path path;
        fs::path::string_type names;  // each entry's name, ended by a null
        std::vector<size_t> order;    // where each name begins in `names`, in name order
        size_t next = 0;
    };
    std::vector<Folder> open;
    auto enter = [&](const fs::path& path) {
        std::error_code error;
        Folder entered{path, {}, {}, 0};
        fs::directory_iterator entries(path, error), end;
        for (; !error && entries != end; entries.increment(error)) {
            entered.order.push_back(entered.names.size());
            entered.names += entries->path().filename().native();
            entered.names.push_back(0);
        }
        if (error) return unreadable(Utf8Of(path), error.message());
        const fs::path::value_type* names = entered.names.data();
        std::sort(entered.order.begin(), entered.order.end(),
                  [&](size_t a, size_t b) { return Name(names + a) < Name(names + b); });
        open.push_back(std::move(entered));
    };
    enter(PathOf(dir));
    while (!open.empty()) {
        Folder& folder = open.back();
        if (folder.next == folder.order.size()) {
            open.pop_back();
            continue;
        }
        fs::path entry = folder.path / Name(folder.names.data() + folder.order[folder.next++]);
        std::error_code error;
        if (fs::is_directory(fs::symlink_status(entry, error)))
            enter(entry);  // invalidates `folder`
        else if (!error && fs::is_regular_file(fs::status(entry, error)))
            visit(Utf8Of(entry));
        if (error) unreadable(Utf8Of(entry), error.message());
    }
}

}  // namespace tevtool
