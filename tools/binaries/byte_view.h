// Bounded reading of a file's bytes: every read is checked against the bytes there are, and a read
// past them gives zero and marks the view as having been read out of bounds, so that a parser can
// read a structure field by field and ask once at the end whether all of it was there.
//
// The view holds no more of its source than a few pages at a time (kPageBytes each, at most
// kMostPages of them, the least recently used given up first), whatever the file's size: 4 MB at
// most, on a library of 1 GB as on one of 40 MB. A read the source fails is taken as one past the
// end, and the source keeps why it failed.
#ifndef TEV_TOOL_BYTE_VIEW_H
#define TEV_TOOL_BYTE_VIEW_H

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "binaries/binary_image.h"

namespace tevtool {

constexpr std::size_t kPageBytes = std::size_t{16} << 10;
constexpr std::size_t kMostPages = 256;  // 4 MB

class ByteView {
public:
    explicit ByteView(ByteSource& source) : source_(source), size_(source.Size()) {}
    ByteView(const ByteView&) = delete;
    ByteView& operator=(const ByteView&) = delete;

    // The order of the bytes of the integers read from now on: little-endian until told.
    void UseBigEndian(bool big) { big_ = big; }

    std::uint64_t size() const { return size_; }
    // Whether `length` bytes from `offset` are all there (without overflowing).
    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // An unsigned integer of `width` bytes (1, 2, 4 or 8) at `offset`; zero, and out of bounds
    // from then on, when it is not all there.
    std::uint64_t Unsigned(std::uint64_t offset, int width) {
        unsigned char bytes[8];
        if (!Holds(offset, static_cast<std::uint64_t>(width)) ||
            !Copy(offset, reinterpret_cast<char*>(bytes), static_cast<std::size_t>(width))) {
            outOfBounds_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i) value = value << 8 | bytes[big_ ? i : width - 1 - i];
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
    std::string Text(std::uint64_t offset, std::uint64_t end, std::uint64_t longest);
    // The `length` bytes from `offset` up to the first NUL among them, or all of them; empty when
    // they are not all there. For the short fields of a header (a section's name).
    std::string Padded(std::uint64_t offset, std::uint64_t length);
    bool OutOfBounds() const { return outOfBounds_; }
    // The bytes of the source the view holds now: never more than kMostPages pages.
    std::size_t HeldBytes() const {
        return pages_.size() * static_cast<std::size_t>(std::min<std::uint64_t>(kPageBytes, size_));
    }

private:
    // The bytes from `offset` to the end of its page, `available` of them; null when the source
    // could not read the page.
    const char* At(std::uint64_t offset, std::size_t& available) {
        std::uint64_t index = offset / kPageBytes;
        if (index != currentIndex_ && !Load(index)) return nullptr;
        auto within = static_cast<std::size_t>(offset % kPageBytes);
        available = currentLength_ - within;
        return pages_[current_].bytes.get() + within;
    }
    // Makes page `index` the current one, read from the source unless it is held; false when the
    // source fails (then and from then on).
    bool Load(std::uint64_t index);
    // `length` bytes from `offset` (all within the source) into `into`; false when the source
    // failed.
    bool Copy(std::uint64_t offset, char* into, std::size_t length) {
        while (length > 0) {
            std::size_t available = 0;
            const char* bytes = At(offset, available);
            if (!bytes) return false;
            std::size_t part = std::min(available, length);
            std::copy(bytes, bytes + part, into);
            into += part;
            offset += part;
            length -= part;
        }
        return true;
    }

    static constexpr std::uint64_t kNoPage = ~std::uint64_t{0};
    struct Page {
        std::uint64_t index = kNoPage, lastUse = 0;
        std::unique_ptr<char[]> bytes;
    };
    ByteSource& source_;
    std::uint64_t size_;
    bool big_ = false;
    bool outOfBounds_ = false;
    bool failed_ = false;
    std::vector<Page> pages_;
    std::unordered_map<std::uint64_t, std::size_t> slotOf_;  // a held page's place in pages_
    std::uint64_t uses_ = 0;
    std::uint64_t currentIndex_ = kNoPage;
    std::size_t current_ = 0, currentLength_ = 0;
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
        std::string name = view_.Text(offset, end, longest);
        spent_ += name.empty() ? window + 1 : name.size() + 1 + sizeof(std::string);
        if (spent_ > budget_) return false;
        if (!name.empty()) names.push_back(std::move(name));
        return true;
    }

private:
    ByteView& view_;
    std::uint64_t budget_, spent_ = 0;
};

}  // namespace tevtool

#endif
