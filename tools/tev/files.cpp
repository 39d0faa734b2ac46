#include "tev/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

#include "tev/commands.h"
#include "tev/tool_system.h"

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

std::string process::ErrorText(int code) {
    return code == ENOENT || code == ENOTDIR ? kNoSuchPath : std::strerror(code);
}

std::string process::ErrorText(const std::error_code& code) {
    return code == std::errc::no_such_file_or_directory || code == std::errc::not_a_directory
               ? kNoSuchPath
               : code.message();
}

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& error,
                     size_t limit) {
    bytes.clear();
    return ReadRegularFile(
        path, [&](std::string_view piece) { bytes.append(piece); }, error, limit);
}

namespace {

// Reads through the process's one buffer, at most `limit` bytes of a file.
bool ReadThroughBuffer(const std::string& path, const std::function<bool(std::string_view)>& piece,
                       std::string& error, size_t limit, std::uint64_t* size, bool knownRegular,
                       std::uint64_t from = 0) {
    constexpr size_t kPiece = 1 << 20;
    static std::vector<char> buffer(kPiece);
    if (size) *size = 0;
    if (path == "-") {
        for (size_t left = limit; left > 0;) {
            std::streamsize asked = static_cast<std::streamsize>(std::min(buffer.size(), left));
            if (!std::cin.read(buffer.data(), asked) && std::cin.gcount() == 0) break;
            size_t read = static_cast<size_t>(std::cin.gcount());
            if (!piece(std::string_view(buffer.data(), read))) break;
            left -= read;
        }
        return true;
    }
    if (!knownRegular) {
        error = NotRegular(PathOf(path));
        if (!error.empty()) return false;
    }
    bool read = process::ReadFileUntil(path, buffer, limit, piece, error, size, from);
    if (!read && knownRegular) {  // no longer a regular file: said as it would have been
        std::string named = NotRegular(PathOf(path));
        if (!named.empty()) error = named;
    }
    return read;
}

}  // namespace

bool ReadRegularFile(const std::string& path, const std::function<void(std::string_view)>& piece,
                     std::string& error, size_t limit) {
    return ReadThroughBuffer(
        path,
        [&](std::string_view bytes) {
            piece(bytes);
            return true;
        },
        error, limit, nullptr, false);
}

bool ReadRegularFileUntil(const std::string& path,
                          const std::function<bool(std::string_view)>& piece, std::string& error,
                          std::uint64_t* size, bool knownRegular, std::uint64_t from) {
    return ReadThroughBuffer(path, piece, error, SIZE_MAX, size, knownRegular, from);
}

void EndIfWriteFailed(std::FILE* stream, const std::string& name) {
    if (!std::ferror(stream)) return;
    int error = errno ? errno : EIO;
    if (error == EPIPE) std::_Exit(kReaderGone);
    std::string message = "tev: cannot write " + name + ": " + std::strerror(error) + "\n";
    std::fputs(message.c_str(), stderr);
    std::_Exit(kInternalError);
}

void ForEachFile(const std::string& dir, const std::function<void(const std::string&)>& visit,
                 const std::function<void(const std::string&, const std::string&)>& unreadable) {
    namespace fs = std::filesystem;
    using Name = std::basic_string_view<fs::path::value_type>;
    // The folders being walked, deepest last. A folder's entries are held while its subfolders are
    // walked, never a whole tree, and only by name, in one block: a folder of ten thousand logs
    // costs a few hundred kilobytes. Only the deepest folder's path is held: each folder keeps the
    // length of its own, so that a chain of folders thousands deep costs memory in its depth.
    struct Folder {
        size_t pathLength;            // of the folder's path, in `at` while it is walked
        fs::path::string_type names;  // each entry's name, ended by a null
        std::vector<size_t> order;    // where each name begins in `names`, in name order
        // What each entry is, as the folder's listing says (by where its name begins): a folder
        // or a regular file is known without asking the system again, a link or anything else not.
        std::vector<std::pair<size_t, fs::file_type>> kinds;
        size_t next = 0;
    };
    std::vector<Folder> open;
    fs::path at;  // the deepest folder being walked
    auto enter = [&](fs::path path) {
        std::error_code error;
        Folder entered{path.native().size(), {}, {}, {}, 0};
        fs::directory_iterator entries(path, error), end;
        for (; !error && entries != end; entries.increment(error)) {
            // From the listing alone where it says (no system call); a link is looked at later.
            std::error_code unknown;
            fs::file_type kind = entries->is_symlink(unknown)        ? fs::file_type::symlink
                                 : entries->is_directory(unknown)    ? fs::file_type::directory
                                 : entries->is_regular_file(unknown) ? fs::file_type::regular
                                                                     : fs::file_type::unknown;
            entered.kinds.emplace_back(entered.names.size(),
                                       unknown ? fs::file_type::unknown : kind);
            entered.order.push_back(entered.names.size());
            entered.names += entries->path().filename().native();
            entered.names.push_back(0);
        }
        if (error) return unreadable(Utf8Of(path), process::ErrorText(error));
        const fs::path::value_type* names = entered.names.data();
        std::sort(entered.order.begin(), entered.order.end(),
                  [&](size_t a, size_t b) { return Name(names + a) < Name(names + b); });
        open.push_back(std::move(entered));
        at = std::move(path);
    };
    enter(PathOf(dir));
    while (!open.empty()) {
        Folder& folder = open.back();
        if (folder.next == folder.order.size()) {
            open.pop_back();
            if (!open.empty()) at = fs::path(at.native().substr(0, open.back().pathLength));
            continue;
        }
        size_t name = folder.order[folder.next++];
        fs::file_type kind = std::lower_bound(folder.kinds.begin(), folder.kinds.end(),
                                              std::make_pair(name, fs::file_type::none))
                                 ->second;
        fs::path entry = at / Name(folder.names.data() + name);
        std::error_code error;
        if (kind == fs::file_type::directory)
            enter(std::move(entry));  // invalidates `folder`
        else if (kind == fs::file_type::regular)
            visit(Utf8Of(entry));
        else if (fs::is_directory(fs::symlink_status(entry, error)))
            enter(std::move(entry));
        else if (!error && fs::is_regular_file(fs::status(entry, error)))
            visit(Utf8Of(entry));
        if (error) unreadable(Utf8Of(entry), process::ErrorText(error));
    }
}

}  // namespace tevtool
