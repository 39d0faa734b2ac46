// Bounded reading of a file's bytes: every read is checked against the bytes there are, and a read
// past them gives zero and marks the view as having been read out of bounds, so that a parser can
// read a structure field by field and ask once at the end whether all of it was there.
#ifndef TEV_TOOL_BYTE_VIEW_H
#define TEV_TOOL_BYTE_VIEW_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    std::string Text(std::uint64_t offset, std::uint64_t end, std::uint64_t longest) {
        end = end < bytes_.size() ? end : bytes_.size();
        if (offset < end && end - offset > longest) end = offset + longest;
        for (std::uint64_t at = offset; at < end; ++at)
            if (bytes_[static_cast<std::size_t>(at)] == '\0')
                return std::string(bytes_.substr(static_cast<std::size_t>(offset),
                                                 static_cast<std::size_t>(at - offset)));
        return "";
    }
    bool OutOfBounds() const { return outOfBounds_; }

private:
    std::string_view bytes_;
    bool big_;
    bool outOfBounds_ = false;
};

}  // namespace tevtool

#endif
