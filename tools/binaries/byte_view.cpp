#include "binaries/byte_view.h"

#include <cstring>

namespace tevtool {

std::string ByteView::Text(std::uint64_t offset, std::uint64_t end, std::uint64_t longest) {
    end = std::min(end, size_);
    if (offset >= end) return {};
    if (end - offset > longest) end = offset + longest;
    std::string text;
    for (std::uint64_t at = offset; at < end;) {
        std::size_t available = 0;
        const char* bytes = At(at, available);
        if (!bytes) {
            outOfBounds_ = true;
            return {};
        }
        auto part = static_cast<std::size_t>(std::min<std::uint64_t>(available, end - at));
        const void* nul = std::memchr(bytes, '\0', part);
        if (nul) return text.append(bytes, static_cast<const char*>(nul));
        text.append(bytes, part);
        at += part;
    }
    return {};
}

std::string ByteView::Padded(std::uint64_t offset, std::uint64_t length) {
    if (!Holds(offset, length)) return {};
    std::string field(static_cast<std::size_t>(length), '\0');
    if (!Copy(offset, field.data(), field.size())) {
        outOfBounds_ = true;
        return {};
    }
    field.resize(std::min(field.find('\0'), field.size()));
    return field;
}

bool ByteView::Load(std::uint64_t index) {
    if (failed_) return false;
    std::size_t slot = 0;
    auto held = slotOf_.find(index);
    if (held != slotOf_.end()) {
        slot = held->second;
    } else {
        if (pages_.size() < kMostPages) {
            slot = pages_.size();
            pages_.push_back(Page{kNoPage, 0,
                                  std::make_unique<char[]>(static_cast<std::size_t>(
                                      std::min<std::uint64_t>(kPageBytes, size_)))});
        } else {
            for (std::size_t i = 1; i < pages_.size(); ++i)
                if (pages_[i].lastUse < pages_[slot].lastUse) slot = i;
            slotOf_.erase(pages_[slot].index);
            pages_[slot].index = kNoPage;
        }
        std::uint64_t start = index * kPageBytes;
        auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kPageBytes, size_ - start));
        if (!source_.ReadAt(start, pages_[slot].bytes.get(), length)) {
            failed_ = true;
            currentIndex_ = kNoPage;
            return false;
        }
        pages_[slot].index = index;
        slotOf_[index] = slot;
    }
    pages_[slot].lastUse = ++uses_;
    current_ = slot;
    currentIndex_ = index;
    currentLength_ =
        static_cast<std::size_t>(std::min<std::uint64_t>(kPageBytes, size_ - index * kPageBytes));
    return true;
}

}  // namespace tevtool
