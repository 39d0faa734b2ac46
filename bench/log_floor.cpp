// What decoding a log must cost at the least, for tool_log.sh to time `tev log` against: reads
// each file named (a folder: every file in it, by name) through one buffer, converts UTF-16LE to
// UTF-8 four ASCII units per 64-bit word, and writes each CR LF line as a line of text; with
// --json, each line as a JSON array of its fields (split at ';', escaped). No record is checked,
// no stamp read, no token looked up: that is what the tool adds.
// Usage: tev_log_floor [--json] FILE|DIR...
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kHigh = 0xFF80FF80FF80FF80ull;  // a unit past ASCII
constexpr std::uint64_t kOnes = 0x0001000100010001ull, kTops = 0x8000800080008000ull;

// Whether one of the four units of `word` equals `unit` (an ASCII one), the usual zero test.
inline bool HasUnit(std::uint64_t word, std::uint64_t unit) {
    std::uint64_t x = word ^ (unit * kOnes);
    return ((x - kOnes) & ~x & kTops) != 0;
}

class Floor {
public:
    explicit Floor(bool json) : json_(json) {}
    ~Floor() { Flush(); }

    void File(const char* path) {
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        carry_.clear();
        for (;;) {
            ssize_t got = read(fd, buffer_.data(), buffer_.size());
            if (got <= 0) break;
            Units(buffer_.data(), static_cast<size_t>(got));
        }
        close(fd);
        if (!carry_.empty()) {  // a last line not ended
            Put(carry_.data(), carry_.size());
            EndLine();
        }
    }

private:
    // Lines are converted where they lie in the read buffer; only a line that a read cuts is
    // copied, to be ended by the next. (A 1 MiB read of a file never ends inside a unit.)
    void Units(const char* bytes, size_t size) {
        const char16_t* u = reinterpret_cast<const char16_t*>(bytes);
        size_t n = size / 2, start = 0, at = 0;
        if (!carry_.empty() && carry_.back() == '\r' && n && u[0] == '\n') {  // CR | LF
            carry_.pop_back();
            at = 1;
        } else if (!carry_.empty()) {  // the cut line's end: up to the first CR LF
            while (at + 1 < n && !(u[at] == '\r' && u[at + 1] == '\n')) ++at;
            if (at + 1 >= n) {
                carry_.append(u, n);
                return;
            }
            carry_.append(u, at);
            at += 2;
        }
        if (at) {
            Put(carry_.data(), carry_.size());
            EndLine();
            carry_.clear();
            start = at;
        }
        while (at < n) {
            // four units at a time while none is a CR
            while (at + 4 <= n) {
                std::uint64_t word;
                std::memcpy(&word, u + at, 8);
                if (HasUnit(word, '\r')) break;
                at += 4;
            }
            while (at < n && u[at] != '\r') ++at;
            if (at + 1 >= n) break;
            if (u[at + 1] == '\n') {
                Put(u + start, at - start);
                EndLine();
                at += 2;
                start = at;
            } else {
                ++at;
            }
        }
        carry_.assign(u + start, n - start);
    }

    // The line's units as UTF-8 (JSON: each field quoted and escaped), straight into the output.
    void Put(const char16_t* u, size_t n) {
        if (json_) Raw("[\"", 2);
        for (size_t at = 0; at < n;) {
            size_t part = std::min<size_t>(n - at, 1 << 16);
            Room(part * 3 + 8);
            o_ = Convert(u + at, part, o_);
            at += part;
        }
        if (json_) Raw("\"]", 2);
    }

    char* Convert(const char16_t* u, size_t n, char* o) const {
        size_t at = 0;
        while (at < n) {
            while (at + 4 <= n) {
                std::uint64_t w;
                std::memcpy(&w, u + at, 8);
                if ((w & kHigh) || (json_ && (HasUnit(w, ';') || HasUnit(w, '"') ||
                                              HasUnit(w, '\\') || HasUnit(w, '\n'))))
                    break;
                std::uint64_t x = w | (w >> 8);
                auto packed = static_cast<std::uint32_t>((x & 0xFFFF) | ((x >> 16) & 0xFFFF0000));
                std::memcpy(o, &packed, 4);
                o += 4;
                at += 4;
            }
            size_t stop = std::min(n, at + 4);  // one word's units, one at a time
            for (; at < stop; ++at) {
                char16_t c = u[at];
                if (c < 0x80) {
                    if (json_ && c == ';') {
                        std::memcpy(o, "\",\"", 3);
                        o += 3;
                    } else if (json_ && (c == '"' || c == '\\' || c < 0x20)) {
                        *o++ = '\\';
                        *o++ = c == '\n' ? 'n' : c == '\r' ? 'r' : static_cast<char>(c);
                    } else {
                        *o++ = static_cast<char>(c);
                    }
                } else if (c < 0x800) {
                    *o++ = static_cast<char>(0xC0 | (c >> 6));
                    *o++ = static_cast<char>(0x80 | (c & 0x3F));
                } else if (c >= 0xD800 && c < 0xDC00 && at + 1 < n && u[at + 1] >= 0xDC00 &&
                           u[at + 1] < 0xE000) {
                    char32_t p = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (u[at + 1] - 0xDC00);
                    *o++ = static_cast<char>(0xF0 | (p >> 18));
                    *o++ = static_cast<char>(0x80 | ((p >> 12) & 0x3F));
                    *o++ = static_cast<char>(0x80 | ((p >> 6) & 0x3F));
                    *o++ = static_cast<char>(0x80 | (p & 0x3F));
                    ++at;
                } else {
                    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
                    *o++ = static_cast<char>(0xE0 | (c >> 12));
                    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                    *o++ = static_cast<char>(0x80 | (c & 0x3F));
                }
            }
        }
        return o;
    }

    void Room(size_t bytes) {
        if (static_cast<size_t>(out_.get() + kOut - o_) < bytes) Flush();
    }
    void Raw(const char* text, size_t size) {
        Room(size);
        std::memcpy(o_, text, size);
        o_ += size;
    }
    void EndLine() {
        Raw("\n", 1);
        if (static_cast<size_t>(o_ - out_.get()) >= kOut / 2) Flush();
    }

    void Flush() {
        const char* at = out_.get();
        while (at < o_) {
            ssize_t put = write(1, at, static_cast<size_t>(o_ - at));
            if (put <= 0) break;
            at += put;
        }
        o_ = out_.get();
    }

    static constexpr size_t kOut = 1 << 20;  // more than 3 bytes for each of 2^16 units
    bool json_;
    std::vector<char> buffer_ = std::vector<char>(1 << 20);
    std::u16string carry_;
    std::unique_ptr<char[]> out_ = std::make_unique<char[]>(kOut);
    char* o_ = out_.get();
};

}  // namespace

int main(int argc, char** argv) {
    bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
    Floor floor(json);
    std::vector<std::string> files;
    for (int i = json ? 2 : 1; i < argc; ++i) {
        std::error_code error;
        if (std::filesystem::is_directory(argv[i], error)) {
            files.clear();
            for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i], error))
                if (entry.is_regular_file(error)) files.push_back(entry.path().string());
            std::sort(files.begin(), files.end());
            for (const std::string& file : files) floor.File(file.c_str());
        } else {
            floor.File(argv[i]);
        }
    }
    return 0;
}
