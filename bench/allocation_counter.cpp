// The benchmark binary's global operator new and delete: malloc and free with a small header that
// remembers the size, so that live and peak bytes are known without asking the allocator.
//
// Replacing them in the executable replaces them for the whole process, the stand-in and the
// standard library included, since the dynamic linker binds every library's operator new to the
// executable's. The aligned forms are left to the standard library: they neither reach these nor
// take memory from them.
#include <cstdlib>
#include <new>

#include "support.h"

namespace {

// Sixteen bytes keep the block as aligned as malloc's own.
constexpr std::size_t kHeader = 16;

std::uint64_t allocations = 0;
std::int64_t liveBytes = 0;
std::int64_t peakBytes = 0;

void* Allocate(std::size_t size) noexcept {
    void* block = std::malloc(size + kHeader);
    if (!block) return nullptr;
    *static_cast<std::size_t*>(block) = size;
    ++allocations;
    liveBytes += static_cast<std::int64_t>(size);
    if (liveBytes > peakBytes) peakBytes = liveBytes;
    return static_cast<char*>(block) + kHeader;
}

void* AllocateOrThrow(std::size_t size) {
    for (;;) {
        if (void* memory = Allocate(size)) return memory;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void Release(void* memory) noexcept {
    if (!memory) return;
    char* block = static_cast<char*>(memory) - kHeader;
    liveBytes -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

}  // namespace

namespace bench {

std::uint64_t Allocations() { return allocations; }
std::int64_t LiveBytes() { return liveBytes; }
std::int64_t PeakBytes() { return peakBytes; }
void ResetPeak() { peakBytes = liveBytes; }

}  // namespace bench

// Default visibility: the build hides our symbols, and these must be the ones every library binds.
#define TEV_BENCH_EXPORT __attribute__((visibility("default")))

TEV_BENCH_EXPORT void* operator new(std::size_t size) { return AllocateOrThrow(size); }
TEV_BENCH_EXPORT void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
TEV_BENCH_EXPORT void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
TEV_BENCH_EXPORT void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

TEV_BENCH_EXPORT void operator delete(void* memory) noexcept { Release(memory); }
TEV_BENCH_EXPORT void operator delete[](void* memory) noexcept { Release(memory); }
TEV_BENCH_EXPORT void operator delete(void* memory, std::size_t) noexcept { Release(memory); }
TEV_BENCH_EXPORT void operator delete[](void* memory, std::size_t) noexcept { Release(memory); }
TEV_BENCH_EXPORT void operator delete(void* memory, const std::nothrow_t&) noexcept {
    Release(memory);
}
TEV_BENCH_EXPORT void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    Release(memory);
}
