#include "binaries/binary_header.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace tevtool {
namespace {

// Enough for the DOS stub and the PE headers of any library a linker makes.
constexpr std::size_t kHeaderBytes = 4096;

std::uint32_t Little(const std::vector<unsigned char>& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
    return value;
}

std::uint32_t Big(const std::vector<unsigned char>& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
    return value;
}

std::string UnknownMachine(std::uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(code));
    return std::string("machine ") + hex;
}

std::string PeMachine(std::uint32_t code) {
    switch (code) {
    case 0x14C: return "x86";
    case 0x8664: return "x86-64";
    case 0xAA64: return "ARM64";
    case 0x1C4: return "ARM";
    default: return UnknownMachine(code);
    }
}

std::string ElfMachine(std::uint32_t code) {
    switch (code) {
    case 3: return "x86";
    case 62: return "x86-64";
    case 183: return "ARM64";
    case 40: return "ARM";
    default: return UnknownMachine(code);
    }
}

}  // namespace

BinaryHeader ReadBinaryHeader(const std::filesystem::path& file) {
    BinaryHeader header;
    std::ifstream in(file, std::ios::binary);
    if (!in) return header;
    std::vector<unsigned char> bytes(kHeaderBytes);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    header.format = BinaryHeader::kOther;
    if (bytes.size() >= 0x40 && bytes[0] == 'M' && bytes[1] == 'Z') {
        std::size_t pe = Little(bytes, 0x3C, 4);
        // The signature, the file header (20 bytes) and the optional header's magic.
        if (pe > bytes.size() || bytes.size() - pe < 26 || Little(bytes, pe, 4) != 0x4550)
            return header;
        header.format = BinaryHeader::kPe;
        header.machine = PeMachine(Little(bytes, pe + 4, 2));
        std::uint32_t magic = Little(bytes, pe + 24, 2);
        header.bits = magic == 0x10B ? 32 : magic == 0x20B ? 64 : 0;
    } else if (bytes.size() >= 20 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' &&
               bytes[3] == 'F') {
        header.format = BinaryHeader::kElf;
        header.bits = bytes[4] == 1 ? 32 : bytes[4] == 2 ? 64 : 0;
        std::uint32_t machine = bytes[5] == 2 ? Big(bytes, 18, 2) : Little(bytes, 18, 2);
        header.machine = ElfMachine(machine);
    }
    return header;
}

BinaryHeader::Format NativeLibraryFormat() {
#ifdef _WIN32
    return BinaryHeader::kPe;
#else
    return BinaryHeader::kElf;
#endif
}

std::string Describe(const BinaryHeader& header) {
    switch (header.format) {
    case BinaryHeader::kUnreadable: return "cannot be read";
    case BinaryHeader::kOther: return "not a library";
    default: break;
    }
    std::string text = header.bits ? std::to_string(header.bits) + "-bit " : "";
    text += header.machine;
    if (header.format != NativeLibraryFormat())
        text += header.format == BinaryHeader::kPe ? " Windows library" : " Linux library";
    return text;
}

}  // namespace tevtool
