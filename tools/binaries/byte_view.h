// Bounded reading of a file's bytes: every read is checked against the bytes there are, and a read
// past them gives zero and marks the view as having been read out of bounds, so that a parser can
// read a structure field by field and ask once at the end whether all of it was there.
#ifndef TEV_TOOL_BYTE_VIEW_H
#define TEV_TOOL_BYTE_VIEW_H

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tevtool {

class ByteView {
public:
    ByteView(std::string_view bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}

    std::uint64_t size() const { return bytes_.size(); }
    // Whether `length` bytes from `offset` are all there (without overflowing).
    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    // An unsigned integer of `width` bytes (1, 2, 4 or 8) at `offset`; zero, and out of bounds
    // from then on, when it is not all there.
    std::uint64_t Unsigned(std::uint64_t offset, int width) {
        if (!Holds(offset, static_cast<std::uint64_t>(width))) {
            outOfBounds_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i) {
            auto byte = static_cast<unsigned char>(
                bytes_[static_cast<std::size_t>(offset + (big_ ? i : width - 1 - i))]);
            value = value << 8 | byte;
        }
        return value;
    }
    std::uint32_t U16(std::uint64_t offset) {
        return static_cast<std::uint32_t>(Unsigned(offset, 2));
    }
    std::uint32_t U32(std::uint64_t offset) {
        return static_cast<std::uint32_t>(Unsigned(offset, 4));
    }
    std::uint64_t U64(std::uint64_t offset) { return Unsigned(offset, 8); }
    // The text at `offset` up to its NUL, within `end` and at most `longest` bytes; empty when no
    // NUL ends it there.
    std::string_view TextView(std::uint64_t offset, std::uint64_t end,
                              std::uint64_t longest) const {
        end = end < bytes_.size() ? end : bytes_.size();
        if (offset >= end) return {};
        if (end - offset > longest) end = offset + longest;
        const char* start = bytes_.data() + offset;
        const void* nul = std::memchr(start, '\0', static_cast<std::size_t>(end - offset));
        return nul ? std::string_view(
                         start, static_cast<std::size_t>(static_cast<const char*>(nul) - start))
                   : std::string_view();
    }
    // The bytes from `offset` to the first NUL within `length`, or all `length` of them; empty when
    // they are not all there.
    std::string_view Padded(std::uint64_t offset, std::uint64_t length) const {
        if (!Holds(offset, length)) return {};
        std::string_view field =
            bytes_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
        return field.substr(0, field.find('\0'));
    }
    bool OutOfBounds() const { return outOfBounds_; }

private:
    std::string_view bytes_;
    bool big_;
    bool outOfBounds_ = false;
};

// The names a table points at, gathered within a budget of bytes read and held, each entry's read
// counted however many entries point at one name, and each name kept counted with the string that
// holds it: a file of a million entries naming one long name, or a million short names, stops at
// the budget instead of holding gigabytes. A real library's names fill a fraction of it.
class NameList {
public:
    NameList(ByteView& view, std::uint64_t budget) : view_(view), budget_(budget) {}
    // Adds the name at `offset` (up to its NUL, within `end` and `longest`); false once the budget
    // is spent, when reading should stop.
    bool Add(std::uint64_t offset, std::uint64_t end, std::uint64_t longest,
             std::vector<std::string>& names) {
        // What is read: up to the NUL, or the whole window when there is none.
        std::uint64_t last = std::min(end, view_.size());
        std::uint64_t window = offset < last ? std::min(longest, last - offset) : 0;
        std::string_view name = view_.TextView(offset, end, longest);
        spent_ += name.empty() ? window + 1 : name.size() + 1 + sizeof(std::string);
        if (spent_ > budget_) return false;
        if (!name.empty()) names.emplace_back(name);
        return true;
    }

private:
    ByteView& view_;
    std::uint64_t budget_, spent_ = 0;
};

}  // namespace tevtool

#endif
