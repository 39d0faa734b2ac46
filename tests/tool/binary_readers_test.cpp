// The library readers against outside ones, on every library of the machine: the names each
// exports and the libraries it needs as llvm-readobj (Windows) and llvm-readelf (Linux) list them,
// each found the way the loader looks for it; the same without section headers; cut to its headers,
// cut short; with bytes changed, read within bounds. The view the readers read through, on sources
// made up here.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binaries/binary_image.h"
#include "binaries/byte_view.h"

namespace {

using tevtool::kPageBytes;

// A source of `size` bytes made up where asked, each byte the low byte of its offset, except
// those given in `planted` (by offset); it counts its reads, and fails each read that reaches
// `failFrom`.
class MadeUpBytes final : public tevtool::ByteSource {
public:
    MadeUpBytes(std::uint64_t size, std::vector<std::pair<std::uint64_t, std::string>> planted = {},
                std::uint64_t failFrom = ~std::uint64_t{0})
        : size_(size), planted_(std::move(planted)), failFrom_(failFrom) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, char* into, std::size_t length) override {
        EXPECT_LE(offset + length, size_);
        ++reads;
        if (offset + length > failFrom_) return false;
        for (std::size_t i = 0; i < length; ++i) into[i] = static_cast<char>(offset + i);
        for (const auto& [at, bytes] : planted_)
            for (std::size_t i = 0; i < bytes.size(); ++i)
                if (at + i >= offset && at + i < offset + length)
                    into[static_cast<std::size_t>(at + i - offset)] = bytes[i];
        return true;
    }
    int reads = 0;

private:
    std::uint64_t size_;
    std::vector<std::pair<std::uint64_t, std::string>> planted_;
    std::uint64_t failFrom_;
};

}  // namespace

// Reads of each kind at a page's edges and the file's end, the values as the bytes planted spell
// them: a field that crosses from one page into the next is read whole.
TEST(ByteView, ReadsFieldsAcrossPagesAndRefusesThemPastTheEnd) {
    const std::uint64_t second = kPageBytes, size = 3 * kPageBytes + 64;
    MadeUpBytes source(size, {{second - 2, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
                              {2 * second - 3, std::string(".text\0\0\0", 8)},
                              {2 * second + 100, std::string("abc\0", 4)},
                              {3 * second - 3, std::string("KV8.dll\0", 8)},
                              {size - 4, std::string("\xEF\xBE\xAD\xDE", 4)}});
    tevtool::ByteView view(source);
    const struct {
        const char* name;
        std::uint64_t offset;
        int width;
        bool big;
        std::uint64_t value;
        bool outOfBounds;
    } numbers[] = {
        {"a word across the first page's end", second - 2, 4, false, 0x04030201, false},
        {"the same, big-endian", second - 2, 4, true, 0x01020304, false},
        {"eight bytes across it", second - 2, 8, false, 0x0807060504030201, false},
        {"a half-word ending at it", second - 2, 2, false, 0x0201, false},
        {"the file's last word", size - 4, 4, false, 0xDEADBEEF, false},
        {"the file's last byte", size - 1, 1, false, 0xDE, false},
        {"a word one byte past the end", size - 3, 4, false, 0, true},
        {"a word at the end", size, 4, false, 0, true},
        {"a word far past it", std::uint64_t{1} << 62, 4, false, 0, true},
    };
    for (const auto& c : numbers) {
        SCOPED_TRACE(c.name);
        tevtool::ByteView fresh(source);
        fresh.UseBigEndian(c.big);
        EXPECT_EQ(fresh.Unsigned(c.offset, c.width), c.value);
        EXPECT_EQ(fresh.OutOfBounds(), c.outOfBounds);
    }
    const struct {
        const char* name;
        std::string text;
        std::string expected;
    } texts[] = {
        {"a section's name padded with NULs, across the second page's end",
         view.Padded(2 * second - 3, 8), ".text"},
        {"a name across the third page's end", view.Text(3 * second - 3, size, 4096), "KV8.dll"},
        {"a name within a page", view.Text(2 * second + 100, size, 4096), "abc"},
        {"a name longer than allowed", view.Text(3 * second - 3, size, 7), ""},
        {"a name as long as allowed, with its NUL", view.Text(3 * second - 3, size, 8), "KV8.dll"},
        {"a name whose NUL is past `end`", view.Text(3 * second - 3, 3 * second + 4, 4096), ""},
        {"a name at the end", view.Text(size, size + 10, 4096), ""},
        {"a field past the end", view.Padded(size - 4, 8), ""},
        {"a field of the file's last bytes", view.Padded(size - 4, 4),
         std::string("\xEF\xBE\xAD\xDE", 4)},
    };
    for (const auto& c : texts) EXPECT_EQ(c.text, c.expected) << c.name;
    EXPECT_FALSE(view.OutOfBounds());
}

// A file of 64 MB read all over (a word in each of its 4,096 pages, twice) is never held beyond
// 256 pages of 16 KB: the least recently used is given up, and read again when asked again.
TEST(ByteView, HoldsAFewMegabytesOfAnySource) {
    constexpr std::uint64_t kSize = std::uint64_t{64} << 20, kPages = kSize / (16 << 10);
    MadeUpBytes source(kSize);
    tevtool::ByteView view(source);
    for (int round = 0; round < 2; ++round)
        for (std::uint64_t page = 0; page < kPages; ++page)
            EXPECT_EQ(view.U32(page * (16 << 10) + 4), 0x07060504u) << page;
    EXPECT_EQ(view.HeldBytes(), 4u << 20);
    EXPECT_EQ(source.reads, 2 * 4096);
    // Page 0 kept in use among 300 others stays; page 1, used once, is read again after them.
    MadeUpBytes kept(kSize);
    tevtool::ByteView recent(kept);
    recent.U32(16 << 10);
    for (std::uint64_t page = 2; page < 302; ++page) {
        recent.U32(0);
        recent.U32(page * (16 << 10));
    }
    EXPECT_EQ(kept.reads, 302);
    recent.U32(0);
    EXPECT_EQ(kept.reads, 302);
    recent.U32(16 << 10);
    EXPECT_EQ(kept.reads, 303);
    // A file smaller than a page is held in a page of its size.
    MadeUpBytes small(100);
    tevtool::ByteView tiny(small);
    EXPECT_EQ(tiny.U16(98), 0x6362u);
    EXPECT_EQ(tiny.HeldBytes(), 100u);
}

// A read the source fails is the file's end from then on: the readers stop there without reading
// on, and whoever gave the source says why (the doctor names the file as one it cannot read).
TEST(ByteView, AFailedReadIsTheEndAndIsNotRetried) {
    MadeUpBytes source(4 * kPageBytes, {{kPageBytes - 2, std::string("KV8.dll\0", 8)}},
                       2 * kPageBytes);
    tevtool::ByteView view(source);
    EXPECT_EQ(view.U16(10), 0x0B0Au);
    EXPECT_EQ(view.Text(kPageBytes - 2, 4 * kPageBytes, 4096), "KV8.dll");
    EXPECT_FALSE(view.OutOfBounds());
    EXPECT_EQ(source.reads, 2);
    EXPECT_EQ(view.U32(3 * kPageBytes), 0u);
    EXPECT_TRUE(view.OutOfBounds());
    EXPECT_EQ(source.reads, 3);
    // Nothing more is read, not even the pages read before.
    EXPECT_EQ(view.U16(10), 0u);
    EXPECT_EQ(view.Text(kPageBytes - 2, 4 * kPageBytes, 4096), "");
    EXPECT_EQ(view.Padded(0, 8), "");
    EXPECT_EQ(source.reads, 3);
    // An ELF64 header read whole, its program header (at 0x10000) failing: a verdict, no crash.
    MadeUpBytes elf(1 << 20,
                    {{0, std::string("\x7f"
                                     "ELF\x02\x01\x01",
                                     7)},
                     {16, std::string("\x03\x00\x3e\x00", 4)},
                     {32, std::string("\x00\x00\x01\x00\x00\x00\x00\x00", 8)},
                     {54, std::string("\x38\x00\x01\x00", 4)}},
                    kPageBytes);
    tevtool::BinaryImage image = tevtool::ReadBinaryImage(elf, {"CMLFacade"});
    EXPECT_EQ(image.format, tevtool::BinaryFormat::kElf);
    EXPECT_EQ(image.bits, 64);
    EXPECT_EQ(image.machine, "x86-64");
    EXPECT_EQ(image.fault, "without loadable segments");
    EXPECT_FALSE(image.resolved[0].found);
}

#ifndef _WIN32
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "binaries/binary_image.h"
#include "test_platform.h"

namespace {

// What the outside reader lists of one file: the names it exports, the libraries it needs.
struct Listing {
    std::set<std::string> names;
    std::vector<std::string> needs;
    std::string block;  // the block of llvm-readobj's output the lines are in
};

// llvm-readobj --coff-exports --coff-imports: "Name: NAME" in "Export {" blocks (empty for an
// export by ordinal alone) and in "Import {" blocks.
void CoffLine(std::istringstream& row, const std::string& first, Listing& listing) {
    std::string name;
    if (first == "Export" || first == "Import" || first == "DelayImport") listing.block = first;
    if (first != "Name:" || !(row >> name)) return;
    if (listing.block == "Export") listing.names.insert(name);
    if (listing.block == "Import") listing.needs.push_back(name);
}

// llvm-readelf --dyn-syms --dynamic: "Num: Value Size Type Bind Vis Ndx Name@version", those
// defined, global, weak or unique, and of default or protected visibility; "(NEEDED) Shared
// library: [NAME]".
void ElfLine(std::istringstream& row, const std::string& first, Listing& listing) {
    std::string value, size, type, bind, visibility, section, name;
    std::string text = row.str();
    if (text.find("(NEEDED)") != std::string::npos)
        listing.needs.push_back(
            text.substr(text.find('[') + 1, text.find(']') - text.find('[') - 1));
    else if (first.back() == ':' &&
             row >> value >> size >> type >> bind >> visibility >> section >> name &&
             section != "UND" && bind != "LOCAL" &&
             (visibility == "DEFAULT" || visibility == "PROTECTED"))
        listing.names.insert(name.substr(0, name.find('@')));
}

}  // namespace

TEST(BinaryReaders, AgreeWithAnOutsideReaderOnEveryLibraryOfTheMachine) {
    if (testing_support::CommandOutput("command -v llvm-readobj").empty())
        GTEST_SKIP() << "llvm-readobj is missing (scripts/install-deps.sh installs llvm)";
    const struct {
        const char *name, *ending, *command;
        std::vector<std::string> folders;
        void (*parse)(std::istringstream&, const std::string&, Listing&);
    } kinds[] = {
        {"Windows",
         ".dll",
         "llvm-readobj --coff-exports --coff-imports",
         {"/usr/lib/i386-linux-gnu/wine", "/usr/lib/x86_64-linux-gnu/wine", "/usr/lib/gcc",
          "/usr/i686-w64-mingw32", "/usr/x86_64-w64-mingw32", "/usr/share/nsis", TEV_BUILD_FOLDER},
         CoffLine},
        {"Linux",
         ".so",
         "llvm-readelf --dyn-syms --dynamic --wide",
         {"/usr/lib/x86_64-linux-gnu", TEV_BUILD_FOLDER},
         ElfLine},
    };
    for (const auto& kind : kinds) {
        std::map<std::string, Listing> listed;  // by file
        auto list = [&](const std::string& files) {
            std::istringstream out(
                testing_support::CommandOutput(kind.command + files + " 2>/dev/null"));
            std::string file;
            for (std::string text; std::getline(out, text);) {
                std::istringstream row(text);
                std::string first;
                row >> first;
                if (first == "File:")
                    listed[file = text.substr(6)];
                else if (!file.empty())
                    kind.parse(row, first, listed[file]);
            }
        };
        std::vector<std::string> files;
        std::error_code error;
        for (const std::string& folder : kind.folders)
            for (std::filesystem::recursive_directory_iterator it(folder, error), end;
                 !error && it != end; it.increment(error))
                if (it->path().string().find(kind.ending) != std::string::npos &&
                    !it->is_symlink() && it->is_regular_file() &&
                    it->file_size() <= tevtool::kLargestBinary)
                    files.push_back(it->path().string());
        // A hundred files a run; a file it refuses ends its run, so those after it go alone.
        for (std::size_t first = 0; first < files.size(); first += 100) {
            std::string batch;
            for (std::size_t i = first; i < files.size() && i < first + 100; ++i)
                batch += " '" + files[i] + "'";
            list(batch);
            for (std::size_t i = first; i < files.size() && i < first + 100; ++i)
                if (!listed.count(files[i])) list(" '" + files[i] + "'");
        }
        std::size_t compared = 0, names = 0;
        for (const auto& [file, outside] : listed) {
            std::string bytes = testing_support::ReadFile(file);
            std::vector<std::string> wanted(outside.names.begin(), outside.names.end());
            tevtool::BinaryImage image = tevtool::ReadBinaryImage(bytes, wanted);
            if (image.format == tevtool::BinaryFormat::kNone && wanted.empty()) continue;
            SCOPED_TRACE(file);
            ++compared;
            names += wanted.size();
            EXPECT_EQ(image.exports, wanted);
            EXPECT_EQ(image.needs, outside.needs);
            EXPECT_EQ(image.fault, "");
            for (const tevtool::BinaryImage::Resolution& name : image.resolved)
                EXPECT_TRUE(name.found) << name.name;
            // Its headers alone: what the loader maps is past the end.
            EXPECT_EQ(tevtool::ReadBinaryImage(bytes.substr(0, 512)).fault.rfind("cut short: ", 0),
                      0u);
            if (image.format == tevtool::BinaryFormat::kElf && image.bits == 64) {
                // Without section headers, the symbols are counted through the hash tables.
                bytes.replace(40, 8, 8, '\0');
                EXPECT_EQ(tevtool::ReadBinaryImage(bytes).exports, wanted);
            }
            for (std::size_t i = 0; i < 64; ++i) bytes[i * 2654435761u % bytes.size()] ^= 0x5A;
            tevtool::ReadBinaryImage(bytes,
                                     wanted);  // changed: read within bounds (the sanitizers look)
        }
        std::printf("%s: %zu libraries, %zu names, as the outside reader lists them\n", kind.name,
                    compared, names);
        EXPECT_GT(compared, 0u);
    }
}

#endif
