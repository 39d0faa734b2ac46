// The benchmark binary's global operator new and delete: malloc and free with a small header that
// remembers the size, so that live and peak bytes are known without asking the allocator.
//
// Replacing them in the executable replaces them for the whole process, the stand-in and the
// standard library included, since the dynamic linker binds every library's operator new to the
// executable's; libstdc++'s array and nothrow forms come down to these.
#include <cstdlib>
#include <new>

#include "support.h"

namespace {

constexpr std::size_t kHeader = 16;  // keeps the block as aligned as malloc's own

std::uint64_t allocations = 0;
std::int64_t liveBytes = 0;
std::int64_t peakBytes = 0;

}  // namespace

std::uint64_t bench::Allocations() { return allocations; }
std::int64_t bench::LiveBytes() { return liveBytes; }
std::int64_t bench::PeakBytes() { return peakBytes; }
void bench::ResetPeak() { peakBytes = liveBytes; }

// Default visibility: the build hides our symbols, and these must be the ones every library binds.
__attribute__((visibility("default"))) void* operator new(std::size_t size) {
    void* block = std::malloc(size + kHeader);
    if (!block) throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = size;
    ++allocations;
    liveBytes += static_cast<std::int64_t>(size);
    if (liveBytes > peakBytes) peakBytes = liveBytes;
    return static_cast<char*>(block) + kHeader;
}

__attribute__((visibility("default"))) void operator delete(void* memory) noexcept {
    if (!memory) return;
    char* block = static_cast<char*>(memory) - kHeader;
    liveBytes -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

__attribute__((visibility("default"))) void operator delete(void* memory, std::size_t) noexcept {
    operator delete(memory);
}
