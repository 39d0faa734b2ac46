// Put before the C library (LD_PRELOAD): a positioned read of a file whose path ends with
// $TEV_TEST_PREAD_FAILS fails with EIO past the file's first 16 KB, as a disk failing in the middle
// of a file does. Every other read is the C library's.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Fails(int fd, off_t offset) {
    const char* ending = std::getenv("TEV_TEST_PREAD_FAILS");
    char link[64], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, path, sizeof path - 1);
    if (!ending || offset < 16384 || length <= 0) return false;
    path[length] = '\0';
    std::size_t tail = std::strlen(ending);
    return static_cast<std::size_t>(length) >= tail &&
           std::strcmp(path + length - tail, ending) == 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t pread(int fd, void* into, size_t length,
                                                                off_t offset) {
    using Read = ssize_t (*)(int, void*, size_t, off_t);
    static Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "pread"));
    if (Fails(fd, offset)) {
        errno = EIO;
        return -1;
    }
    return real(fd, into, length, offset);
}

extern "C" __attribute__((visibility("default"))) ssize_t pread64(int fd, void* into, size_t length,
                                                                  off_t offset) {
    return pread(fd, into, length, offset);
}
