// What the first bytes of a library file say of it: a Windows (PE) or a Linux (ELF) library, and
// for which processor, so that `tev doctor` can tell a 64-bit library from the 32-bit one an
// installer needs before the system's loader gives its terse reason.
#ifndef TEV_TOOL_BINARY_HEADER_H
#define TEV_TOOL_BINARY_HEADER_H

#include <filesystem>
#include <string>

namespace tevtool {

struct BinaryHeader {
    enum Format { kUnreadable, kOther, kPe, kElf } format = kUnreadable;
    int bits = 0;         // 32 or 64; 0 when the header does not say
    std::string machine;  // "x86", "x86-64", "ARM64"..., or "machine 0x1234"
};

// The header of `file`: kUnreadable when it cannot be read, kOther when it is neither format.
BinaryHeader ReadBinaryHeader(const std::filesystem::path& file);

// The format libraries of the platform the tool was built for have, and its processor's bits:
// what TEV's libraries must be for the installers that run beside this tool.
BinaryHeader::Format NativeLibraryFormat();
constexpr int kNativeBits = sizeof(void*) * 8;

// "32-bit x86", "64-bit x86-64 Linux library", "not a library" and the like, for people.
std::string Describe(const BinaryHeader& header);

}  // namespace tevtool

#endif
