// The outbox file, written alike by every process that loads the stand-in (see outbox.h).
#include "outbox.h"
#include "trace.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kv8 {
namespace {

std::string DeliveryJson(const Delivery& delivery) {
    std::string json = "{\"call\":\"" + delivery.call + "\",\"waypoint\":";
    json += delivery.hasWaypoint ? Quoted(delivery.waypoint) : "null";
    json += ",\"states\":[";
    for (size_t s = 0; s < delivery.states.size(); ++s) {
        const DeliveredState& state = delivery.states[s];
        if (s) json += ',';
        json += "{\"state\":" + Quoted(state.name) + ",\"attributes\":[";
        for (size_t a = 0; a < state.attributes.size(); ++a) {
            if (a) json += ',';
            json += "{\"name\":" + Quoted(state.attributes[a].name) +
                    ",\"value\":" + Quoted(state.attributes[a].value) + "}";
        }
        json += "]}";
    }
    json += "]}";
    return json;
}

// The file KV8_OUTBOX names, opened and locked for the time of one line: processes that load the
// library take turns at it, so a line is never cut by another writer. On Windows the name is read
// and opened as UTF-16, so that any path works.
class OutboxFile {
public:
#ifdef _WIN32
    OutboxFile() {
        const wchar_t* path = _wgetenv(L"KV8_OUTBOX");
        if (!path || !*path) return;
        file_ = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED whole{};
        if (file_ != INVALID_HANDLE_VALUE &&
            !LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
    }
    ~OutboxFile() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);  // the lock goes with the handle
    }
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    std::int64_t Size() const {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_, &size) ? size.QuadPart : -1;
    }
    bool Read(std::int64_t at, char* bytes, std::size_t count) const {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD read = 0;
        return ReadFile(file_, bytes, static_cast<DWORD>(count), &read, &where) && read == count;
    }
    bool CutAt(std::int64_t size) const {
        LARGE_INTEGER where;
        where.QuadPart = size;
        return SetFilePointerEx(file_, where, nullptr, FILE_BEGIN) && SetEndOfFile(file_);
    }
    bool Append(const std::string& bytes) const {
        LARGE_INTEGER none{};
        DWORD written = 0;
        return SetFilePointerEx(file_, none, nullptr, FILE_END) &&
               WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
#else
    OutboxFile() {
        const char* path = std::getenv("KV8_OUTBOX");
        if (!path || !*path) return;
        fd_ = open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~OutboxFile() {
        if (fd_ >= 0) close(fd_);  // the lock goes with the descriptor
    }
    bool IsOpen() const { return fd_ >= 0; }
    std::int64_t Size() const {
        struct stat status;
        return fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : -1;
    }
    bool Read(std::int64_t at, char* bytes, std::size_t count) const {
        return pread(fd_, bytes, count, at) == static_cast<ssize_t>(count);
    }
    bool CutAt(std::int64_t size) const { return ftruncate(fd_, size) == 0; }
    bool Append(const std::string& bytes) const {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

private:
    int fd_ = -1;
#endif
};

// Where the outbox's last line begins (just after its last line feed, or 0).
std::int64_t LastLineStart(const OutboxFile& file, std::int64_t end) {
    char chunk[4096];
    while (end > 0) {
        std::int64_t start =
            std::max<std::int64_t>(0, end - static_cast<std::int64_t>(sizeof chunk));
        if (!file.Read(start, chunk, static_cast<std::size_t>(end - start))) return -1;
        for (std::int64_t at = end; at > start; --at)
            if (chunk[at - 1 - start] == '\n') return at;
        end = start;
    }
    return 0;
}

}  // namespace

bool OutboxWanted() { return std::getenv("KV8_OUTBOX") != nullptr; }

// Appends one JSON line to the outbox, whole or not at all, in one write: a process killed while
// writing leaves at most a cut last line, and the next writer cuts that off before it writes. What
// does not look like a line of ours is kept, and the new line starts on a line of its own.
void WriteOutbox(const Delivery& delivery) {
    OutboxFile file;
    if (!file.IsOpen()) return;
    std::string line = DeliveryJson(delivery) + "\n";
    std::int64_t end = file.Size();
    char last = '\n';
    if (end > 0 && !file.Read(end - 1, &last, 1)) return;
    if (last != '\n') {
        static const char kOurs[] = "{\"call\":";
        char start[sizeof kOurs - 1];
        std::int64_t cut = LastLineStart(file, end);
        std::size_t compared = static_cast<std::size_t>(
            std::min<std::int64_t>(end - cut, static_cast<std::int64_t>(sizeof start)));
        if (cut >= 0 && file.Read(cut, start, compared) &&
            std::equal(start, start + compared, kOurs) && file.CutAt(cut))
            end = cut;
        else
            line.insert(line.begin(), '\n');
    }
    if (!file.Append(line) && end >= 0)
        file.CutAt(end);  // a short write (a full disk) is taken back
}

}  // namespace kv8
