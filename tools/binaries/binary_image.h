// What a library's file says of itself, read from its bytes alone (nothing is loaded, nothing of
// it runs): a Windows (PE) or a Linux (ELF) image, for which processor and width, whether it is
// whole, the names it exports and, for a Windows library, its version resource. Both formats are
// read on every platform, so a folder made for the other system can be checked too.
//
// The readers take hostile files: every offset and size is checked against the bytes there are,
// the tables read are capped, and nothing recurses.
#ifndef TEV_TOOL_BINARY_IMAGE_H
#define TEV_TOOL_BINARY_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tevtool {

enum class BinaryFormat { kNone, kPe, kElf };

// Where the readers' bytes come from: a file, read piece by piece where the readers ask, or bytes
// already in memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies the `length` bytes from `offset` (all within Size()) into `into`; false when they
    // cannot be read (the source says why as it can).
    virtual bool ReadAt(std::uint64_t offset, char* into, std::size_t length) = 0;
};

// Bytes in memory, which the source does not own.
class MemoryBytes final : public ByteSource {
public:
    explicit MemoryBytes(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, char* into, std::size_t length) override {
        bytes_.copy(into, length, static_cast<std::size_t>(offset));
        return true;
    }

private:
    std::string_view bytes_;
};

struct BinaryImage {
    BinaryFormat format = BinaryFormat::kNone;
    int bits = 0;         // 32 or 64; 0 when the header does not say
    std::string machine;  // "x86", "x86-64", "ARM64"..., or "machine 0x1234"
    // A library (a DLL, an ELF shared object), not a program or an object file.
    bool library = false;
    // Why the image is not one a loader would take whole ("cut short: ..."); empty when it is.
    std::string fault;
    std::vector<std::string> exports;  // the names it exports, sorted
    // From a Windows library's version resource; empty when it has none.
    std::string version;      // its file version, "1.0.0.0"
    std::string description;  // its FileDescription
    bool hasVersion = false;
    // The libraries the loader loads before it (a Windows library's imports, an ELF's DT_NEEDED),
    // in the order given; a library missing among them fails its load.
    std::vector<std::string> needs;
    // An ELF library's own folders for them (DT_RUNPATH, else DT_RPATH), as written: "$ORIGIN"
    // stands for its own folder.
    std::vector<std::string> searchPath;
    // What the loader finds under each name asked of ReadBinaryImage, in the order asked.
    struct Resolution {
        std::string name;
        // Whether the loader's own search finds the name (the Windows loader's binary search of
        // the sorted names, the ELF loader's hash table); a name listed but not found this way is
        // not found when called for.
        bool found = false;
        // When found: why it is no function the caller can call ("it is forwarded to EVIL.Init",
        // "it is a data object, not a function"); empty when it is one.
        std::string problem;
    };
    std::vector<Resolution> resolved;

    bool Exports(std::string_view name) const;
    // The resolution of a name asked for; null when it was not asked.
    const Resolution* Resolved(std::string_view name) const;
};

// The largest file the readers take: far beyond any library an installer ships (a compiler's, the
// largest library of a Linux machine, is some 120 MB). Its size costs no memory: what the readers
// hold of a file is bounded however large it is.
constexpr std::uint64_t kLargestBinary = std::uint64_t{1} << 30;
// The most bytes read and held for exported names, all names together, each with its string (a
// library of the largest kind, with some 48,000 C++ names, takes 5 MB): past it a file is too
// strange to judge.
constexpr std::uint64_t kMostNameBytes = std::uint64_t{16} << 20;

// The image whose file holds `bytes`; format kNone when it is neither format. Each of `wanted` is
// looked up as the loader looks a name up, into `resolved`. The readers hold a few MB of the
// source at most, whatever its size; a read the source fails is taken as the file's end.
BinaryImage ReadBinaryImage(ByteSource& bytes, const std::vector<std::string>& wanted = {});
BinaryImage ReadBinaryImage(std::string_view bytes, const std::vector<std::string>& wanted = {});

// What a library must be to be loaded: its format, width and processor.
struct LibraryKind {
    BinaryFormat format;
    int bits;
    const char* machine;
};

// "32-bit x86", "64-bit x86-64 Linux library", "not a library" and the like, for people; the
// format is named when it is not `native`'s.
std::string Describe(const BinaryImage& image, const LibraryKind& native);

// Why `image` cannot be loaded as a library of kind `native` ("it is 64-bit, and a 32-bit installer
// cannot load it", "it is cut short: ..."); empty when it can.
std::string Unfit(const BinaryImage& image, const LibraryKind& native);

// Reading each format; the front above picks one by the file's first bytes, and gives each the
// names to resolve in `image.resolved`, none found yet.
class ByteView;
void ReadPe(ByteView& bytes, BinaryImage& image);
void ReadElf(ByteView& bytes, BinaryImage& image);

}  // namespace tevtool

#endif
