// tev doctor on installer folders built for each case: what it says, and its exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#endif

#include "binaries/binary_image.h"
#include "tool_support.h"

namespace {

#ifdef _WIN32
constexpr char kTevFile[] = "TEV.dll";
constexpr char kLibraryFile[] = "KV8.dll";
#else
constexpr char kTevFile[] = "libtev.so";
constexpr char kLibraryFile[] = "libkv8.so";
#endif

const char* const kStatics[] = {TEV_KV8_STATICS};

// The report's lines that begin with `label`.
std::vector<std::string> Labelled(const std::string& out, const std::string& label) {
    std::vector<std::string> lines;
    for (const std::string& line : testing_support::Lines(out))
        if (line.rfind(label + " ", 0) == 0) lines.push_back(line);
    return lines;
}

// The one problem a report names, the doctor saying no (empty, a failure, when it names none or
// several).
std::string OnlyProblem(const testing_support::ProgramRun& run) {
    EXPECT_EQ(run.status, 1) << run.out;
    std::vector<std::string> problems = Labelled(run.out, "PROBLEM");
    EXPECT_EQ(problems.size(), 1u) << run.out;
    return problems.size() == 1 ? problems[0] : "";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

class Doctor : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        folder_ = tempDir_ / "installer";
        std::filesystem::create_directory(folder_);
    }

    void Put(const std::filesystem::path& file, const char* name) {
        std::filesystem::copy_file(file, folder_ / name);
    }

    // The folder an installer ships, with the analytics library `library`.
    void Installer(const std::filesystem::path& library) {
        Put(TEV_DOCTOR_TEV, kTevFile);
        Put(library, kLibraryFile);
    }

    testing_support::ProgramRun Diagnose() {
        testing_support::ProgramRun run = Tev({"doctor", folder_.string()});
        EXPECT_EQ(run.err, "");
        return run;
    }

    // Each static TEV calls, reported present.
    static void ExpectEveryStatic(const std::string& out) {
        std::vector<std::string> ok = Labelled(out, "ok");
        for (const char* name : kStatics)
            EXPECT_EQ(std::count_if(ok.begin(), ok.end(),
                                    [&](const std::string& line) {
                                        return Contains(line, std::string("(") + name + ")");
                                    }),
                      1)
                << name << "\n"
                << out;
    }

    std::filesystem::path folder_;
};

// A library that exports every static and carries no stand-in's mark: nothing to say.
TEST_F(Doctor, AFolderReadyToShipPassesEveryCheck) {
    Installer(TEV_DOCTOR_UNMARKED);
    testing_support::ProgramRun run = Diagnose();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Labelled(run.out, "PROBLEM").empty()) << run.out;
    EXPECT_TRUE(Labelled(run.out, "warning").empty()) << run.out;
    ExpectEveryStatic(run.out);
    std::string library = (folder_ / kLibraryFile).string();
    std::vector<std::string> ok = Labelled(run.out, "ok");
    EXPECT_TRUE(std::any_of(ok.begin(), ok.end(), [&](const std::string& line) {
        return Contains(line, library + ",") && Contains(line, ", TEV can load it");
    })) << run.out;
    EXPECT_TRUE(Contains(run.out, std::string(kTevFile) + " exports each of TEVUtil's")) << run.out;
    std::string bits = std::to_string(sizeof(void*) * 8) + "-bit";
    EXPECT_TRUE(std::any_of(ok.begin(), ok.end(), [&](const std::string& line) {
        return Contains(line, (folder_ / kTevFile).string()) && Contains(line, bits);
    })) << run.out;
#ifdef _WIN32
    EXPECT_TRUE(Contains(run.out, "version 1.0.0.0")) << run.out;  // TEV.dll's own
#endif
    EXPECT_TRUE(Contains(run.out, "TEV will report to the analytics library")) << run.out;
}

// The stand-in works, so only its mark tells it apart; the same folder otherwise passes.
TEST_F(Doctor, TheStandInIsFlaggedAsNotToShip) {
    Installer(TEV_DOCTOR_STANDIN);
    testing_support::ProgramRun run = Diagnose();
    ExpectEveryStatic(run.out);
    std::string problem = OnlyProblem(run);
    EXPECT_TRUE(Contains(problem, "stand-in")) << problem;
    EXPECT_TRUE(Contains(problem, "must not ship")) << problem;
}

TEST_F(Doctor, NoAnalyticsLibrarySaysWhereItLookedAndWhatToDo) {
    Put(TEV_DOCTOR_TEV, kTevFile);
    testing_support::ProgramRun run = Diagnose();
    std::string problem = OnlyProblem(run);
    EXPECT_TRUE(
        Contains(problem, std::string("put the maker's ") + kLibraryFile + " beside " + kTevFile))
        << problem;
    EXPECT_TRUE(Contains(run.out, "looked for, as TEV looks for it, in: " + folder_.string()))
        << run.out;
}

// The installer's own folder is not searched: an installer often runs from a downloads folder,
// where anyone may have left a library of that name. The doctor says the one there is not used.
TEST_F(Doctor, ALibraryBesideTheInstallerAloneIsUsedWithAWarning) {
    Put(TEV_DOCTOR_TEV, kTevFile);
    std::filesystem::path installer = tempDir_ / "setup";
    std::filesystem::create_directory(installer);
    std::filesystem::copy_file(TEV_DOCTOR_UNMARKED, installer / kLibraryFile);
    testing_support::ProgramRun run =
        Tev({"doctor", folder_.string(), "--installer-folder", installer.string()});
    EXPECT_EQ(run.status, 0) << run.out;
    std::string file = (installer / kLibraryFile).string();
    std::vector<std::string> warnings = Labelled(run.out, "warning");
    EXPECT_EQ(warnings, std::vector<std::string>{std::string("warning  ") + kLibraryFile +
                                                 " is beside the installer only, " + file +
                                                 ": TEV uses it, but an installer run from a "
                                                 "Downloads folder can find one planted there; "
                                                 "ship " +
                                                 kLibraryFile + " beside " + kTevFile})
        << run.out;
}

// Both folders hold the library: the copy beside TEV is the one checked (here the maker's, while
// the installer's is the stand-in, which would be flagged).
TEST_F(Doctor, TheLibraryBesideTevIsTheOneChecked) {
    Installer(TEV_DOCTOR_UNMARKED);
    std::filesystem::path installer = tempDir_ / "setup";
    std::filesystem::create_directory(installer);
    std::filesystem::copy_file(TEV_DOCTOR_STANDIN, installer / kLibraryFile);
    testing_support::ProgramRun run =
        Tev({"doctor", folder_.string(), "--installer-folder", installer.string()});
    EXPECT_EQ(run.status, 0) << run.out;
    std::vector<std::string> ok = Labelled(run.out, "ok");
    EXPECT_TRUE(std::any_of(ok.begin(), ok.end(), [&](const std::string& line) {
        return Contains(line, (folder_ / kLibraryFile).string() + ",");
    })) << run.out;
    EXPECT_FALSE(Contains(run.out, "stand-in")) << run.out;
}

// Each library lacks one static: that one, and only that one, is named missing.
class DoctorLacking : public Doctor, public ::testing::WithParamInterface<int> {};

TEST_P(DoctorLacking, NamesTheMissingStatic) {
    Installer(std::filesystem::path(TEV_LACKING_FOLDER) / std::to_string(GetParam()) /
              kLibraryFile);
    testing_support::ProgramRun run = Diagnose();
    std::string problem = OnlyProblem(run);
    EXPECT_TRUE(Contains(problem, std::string("does not export ")) &&
                Contains(problem, std::string("(") + kStatics[GetParam()] + ")"))
        << problem;
}

INSTANTIATE_TEST_SUITE_P(EachStatic, DoctorLacking,
                         ::testing::Range(0, static_cast<int>(std::size(kStatics))));

TEST_F(Doctor, AMissingTevIsAProblemAndTheRestIsStillChecked) {
    Put(TEV_DOCTOR_UNMARKED, kLibraryFile);
    testing_support::ProgramRun run = Diagnose();
    std::string problem = OnlyProblem(run);
    EXPECT_TRUE(Contains(problem, std::string(kTevFile) + " is not in ")) << problem;
    ExpectEveryStatic(run.out);
}

// A temporary folder that takes no file, or a folder in the log's place: TEV still reports, without
// its log; one warning naming the place, status 0, never "goes to".
TEST_F(Doctor, ATemporaryFolderThatTakesNoLogIsAWarning) {
    Installer(TEV_DOCTOR_UNMARKED);
    std::filesystem::path absent = tempDir_ / "absent", temp = tempDir_ / "temp";
    std::filesystem::create_directories(temp / "Setup_TEV.log");
    for (auto [folder, named] : {std::pair{absent, absent}, {temp, temp / "Setup_TEV.log"}}) {
        SCOPED_TRACE(named.string());
        testing_support::UseTempDirectory(folder);
        testing_support::ProgramRun run = Diagnose();
        EXPECT_EQ(run.status, 0) << run.out;
        std::vector<std::string> warnings = Labelled(run.out, "warning");
        ASSERT_EQ(warnings.size(), 1u) << run.out;
        EXPECT_TRUE(Contains(warnings[0], named.string() + " ")) << warnings[0];
        EXPECT_TRUE(Contains(warnings[0], "without its diagnostic log")) << warnings[0];
        EXPECT_FALSE(Contains(run.out, "goes to")) << run.out;
    }
}

// The probe file is removed, and a log already there is left as it was.
TEST_F(Doctor, TheTemporaryFolderIsLeftAsItWas) {
    Installer(TEV_DOCTOR_UNMARKED);
    std::filesystem::path temp = tempDir_ / "temp";
    std::filesystem::create_directory(temp);
    testing_support::UseTempDirectory(temp);
    std::ofstream(temp / "Setup_TEV.log") << "an earlier run's log";
    testing_support::ProgramRun run = Diagnose();
    EXPECT_EQ(run.status, 0) << run.out;
    std::vector<std::filesystem::path> after(std::filesystem::directory_iterator(temp), {});
    EXPECT_EQ(after, std::vector<std::filesystem::path>{temp / "Setup_TEV.log"});
    EXPECT_EQ(testing_support::ReadFile(temp / "Setup_TEV.log"), "an earlier run's log");
    EXPECT_TRUE(Contains(run.out, (temp / "Setup_TEV.log").string())) << run.out;
}

TEST_F(Doctor, AFolderThatDoesNotExistIsAUsageError) {
    testing_support::ProgramRun run = Tev({"doctor", (tempDir_ / "absent").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "tev: " + (tempDir_ / "absent").string() + ": no such file or folder\n");
    EXPECT_EQ(run.out, "");
}

// A library for the other processor width than this program's, in `dir`; empty when there is
// none to be had. On Windows, the 64-bit DLL the build makes where it has a compiler for one; on
// Linux, the header of a 32-bit library, which is all that the loader and the doctor read of it.
std::filesystem::path OtherWidthLibrary(const std::filesystem::path& dir) {
#ifdef _WIN32
    (void)dir;
#ifdef TEV_DOCTOR_64BIT_DLL
    return TEV_DOCTOR_64BIT_DLL;
#else
    return {};
#endif
#else
    std::string header(52, '\0');  // an ELF32 file header
    header.replace(0, 4,
                   "\x7f"
                   "ELF");
    header[4] = 1;   // 32-bit
    header[5] = 1;   // little-endian
    header[6] = 1;   // version
    header[16] = 3;  // a shared object
    header[18] = 3;  // x86
    header[20] = 1;  // version
    std::filesystem::path file = dir / "elf32.so";
    std::ofstream(file, std::ios::binary) << header;
    return file;
#endif
}

// Libraries built for another processor width than the installer's: TEV's own is refused by its
// header, the analytics library by the loader, and the doctor says which width each is.
TEST_F(Doctor, LibrariesOfTheWrongWidthAreRefused) {
    std::filesystem::path library = OtherWidthLibrary(tempDir_);
    if (library.empty())
        GTEST_SKIP() << "no 64-bit DLL could be built here: x86_64-w64-mingw32-gcc is missing "
                        "(scripts/install-deps.sh --windows installs it)";
    Put(library, kTevFile);
    Put(library, kLibraryFile);
    testing_support::ProgramRun run = Diagnose();
    EXPECT_EQ(run.status, 1) << run.out;
    std::vector<std::string> problems = Labelled(run.out, "PROBLEM");
    ASSERT_EQ(problems.size(), 2u) << run.out;
    std::string other = "it is " + std::to_string(sizeof(void*) == 4 ? 64 : 32) + "-bit";
    std::string mine = std::to_string(sizeof(void*) * 8) + "-bit installer cannot load it";
    EXPECT_TRUE(Contains(problems[0], kTevFile) && Contains(problems[0], other) &&
                Contains(problems[0], mine))
        << problems[0];
    EXPECT_TRUE(Contains(problems[1], "cannot be loaded: ") && Contains(problems[1], other) &&
                Contains(problems[1], mine))
        << problems[1];
}

namespace {

// `value` written into `bytes` at `at`, `width` bytes in the given byte order.
void Put(std::string& bytes, std::size_t at, std::uint64_t value, int width, bool big = false) {
    for (int i = 0; i < width; ++i)
        bytes[at + (big ? width - 1 - i : i)] = static_cast<char>(value >> (8 * i) & 0xFF);
}

std::string Patched(std::string bytes, std::size_t at, std::uint64_t value, int width) {
    Put(bytes, at, value, width);
    return bytes;
}

bool IsPe(const std::string& bytes) { return bytes.rfind("MZ", 0) == 0; }

std::size_t PeHeader(const std::string& bytes) {
    std::size_t at = 0;
    for (int i = 3; i >= 0; --i) at = at << 8 | static_cast<unsigned char>(bytes[0x3C + i]);
    return at;
}

// A DLL of one section that exports `name`: the headers, then the export table at 0x200.
std::string PeImage(bool wide, std::uint32_t machine, const std::string& name) {
    std::string bytes(0x400, '\0');
    bytes.replace(0, 2, "MZ");
    Put(bytes, 0x3C, 0x80, 4);
    Put(bytes, 0x80, 0x4550, 4);
    Put(bytes, 0x84, machine, 2);
    Put(bytes, 0x86, 1, 2);  // sections
    std::size_t optionalSize = wide ? 240 : 224, optional = 0x98;
    Put(bytes, 0x94, optionalSize, 2);
    Put(bytes, 0x96, 0x2102, 2);  // a DLL
    Put(bytes, optional, wide ? 0x20B : 0x10B, 2);
    Put(bytes, optional + 60, 0x200, 4);                  // SizeOfHeaders
    Put(bytes, optional + (wide ? 108 : 92), 16, 4);      // data directories
    Put(bytes, optional + (wide ? 112 : 96), 0x1000, 4);  // the export table's address
    Put(bytes, optional + (wide ? 116 : 100), 0x100, 4);
    std::size_t section = optional + optionalSize;
    bytes.replace(section, 6, ".edata");
    Put(bytes, section + 8, 0x200, 4);
    Put(bytes, section + 12, 0x1000, 4);      // its address
    Put(bytes, section + 16, 0x200, 4);       // its size in the file
    Put(bytes, section + 20, 0x200, 4);       // its offset
    Put(bytes, section + 36, 0x60000020, 4);  // code, run and read
    Put(bytes, 0x200 + 20, 1, 4);             // one address
    Put(bytes, 0x200 + 24, 1, 4);             // one name
    Put(bytes, 0x200 + 28, 0x1100, 4);        // the addresses, at 0x300: 0x1180
    Put(bytes, 0x200 + 32, 0x1028, 4);        // the names' addresses, at 0x228
    Put(bytes, 0x200 + 36, 0x1104, 4);        // the names' ordinals, at 0x304: 0
    Put(bytes, 0x228, 0x1030, 4);
    Put(bytes, 0x300, 0x1180, 4);
    bytes.replace(0x230, name.size(), name);
    return bytes;
}

// A PE32 image made by PeImage, importing each of `entries` (a library's name, and whether its
// entry has thunks), in an import table at 0x340 (address 0x1140) that ends with an empty entry.
std::string WithImports(std::string bytes,
                        const std::vector<std::pair<std::string, bool>>& entries) {
    Put(bytes, 0x98 + 104, 0x1140, 4);  // data directory 1, the import table
    Put(bytes, 0x98 + 108, 20 * (entries.size() + 1), 4);
    std::size_t name = 0x3A0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Put(bytes, 0x340 + 20 * i + 12, name - 0x200 + 0x1000, 4);           // Name
        Put(bytes, 0x340 + 20 * i + 16, entries[i].second ? 0x1390 : 0, 4);  // FirstThunk
        bytes.replace(name, entries[i].first.size(), entries[i].first);
        name += entries[i].first.size() + 1;
    }
    return bytes;
}

// An ELF shared object with no section headers, whose one exported symbol `name` is found through
// its dynamic segment and hash table.
std::string ElfImage(bool wide, bool big, std::uint32_t machine, const std::string& name) {
    std::string bytes(0x200, '\0');
    int word = wide ? 8 : 4;
    bytes.replace(0, 4,
                  "\x7f"
                  "ELF");
    bytes[4] = wide ? 2 : 1;
    bytes[5] = big ? 2 : 1;
    bytes[6] = 1;
    Put(bytes, 16, 3, 2, big);  // a shared object
    Put(bytes, 18, machine, 2, big);
    std::size_t headers = wide ? 64 : 52, entry = wide ? 56 : 32;
    Put(bytes, wide ? 32 : 28, headers, word, big);
    Put(bytes, wide ? 54 : 42, entry, 2, big);
    Put(bytes, wide ? 56 : 44, 2, 2, big);
    // PT_LOAD over the whole file at address 0, PT_DYNAMIC at 0x100.
    for (std::uint32_t type : {1u, 2u}) {
        std::size_t at = headers + (type - 1) * entry;
        std::uint64_t offset = type == 1 ? 0 : 0x100, size = type == 1 ? 0x200 : 0x50;
        Put(bytes, at, type, 4, big);
        Put(bytes, at + (wide ? 8 : 4), offset, word, big);
        Put(bytes, at + (wide ? 16 : 8), offset, word, big);
        Put(bytes, at + (wide ? 32 : 16), size, word, big);
        Put(bytes, at + (wide ? 4 : 24), 5, 4, big);  // read and run
    }
    std::uint64_t dynamic[][2] = {{4, 0x150}, {6, 0x160}, {5, 0x1A0}, {10, 0x40}, {0, 0}};
    for (std::size_t i = 0; i < std::size(dynamic); ++i) {
        Put(bytes, 0x100 + i * 2 * word, dynamic[i][0], word, big);
        Put(bytes, 0x100 + i * 2 * word + word, dynamic[i][1], word, big);
    }
    // The hash table: three buckets, two chains. The ELF hash of "Hello" is 0x4EC32F, 2 modulo 3:
    // bucket 2 (whose word is the null symbol's name, never read) leads to symbol 1.
    Put(bytes, 0x150, 3, 4, big);
    Put(bytes, 0x154, 2, 4, big);
    Put(bytes, 0x160, 1, 4, big);
    std::size_t symbol = 0x160 + (wide ? 24 : 16);
    Put(bytes, symbol, 1, 4, big);                    // its name, at 1 in the strings
    bytes[symbol + (wide ? 4 : 12)] = 0x12;           // global, a function
    Put(bytes, symbol + (wide ? 6 : 14), 7, 2, big);  // defined in a section
    Put(bytes, symbol + (wide ? 8 : 4), 0x180, word, big);
    bytes.replace(0x1A1, name.size(), name);
    return bytes;
}

struct ReadCase {
    const char* name;
    std::string bytes;
    tevtool::BinaryFormat format;
    int bits;
    const char* machine;
    const char* fault;  // a part of the fault, "" for a whole image
    std::vector<std::string> exports;
    bool library = true;
    std::vector<std::string> needs = {};
    std::vector<std::string> searchPath = {};
};

}  // namespace

// The readers on images made here, of both formats whatever the platform, hostile ones included:
// each gives the format, width and processor, and a fault for anything a loader would not take.
TEST(BinaryImage, ReadsEachFormatAndRefusesWhatIsNotWhole) {
    using tevtool::BinaryFormat;
    constexpr BinaryFormat kPe = BinaryFormat::kPe, kElf = BinaryFormat::kElf;
    std::string pe32 = PeImage(false, 0x14C, "Hello"), elf64 = ElfImage(true, false, 62, "Hello");
    std::string elf32 = ElfImage(false, false, 3, "Hello");
    // The Windows loader's import list ends at the first entry without a name or without thunks.
    std::string imports = WithImports(pe32, {{"VCRUNTIME140.dll", true}, {"KERNEL32.dll", true}});
    std::string thunkless =
        WithImports(pe32, {{"VCRUNTIME140.dll", true}, {"B.dll", false}, {"KERNEL32.dll", true}});
    // ELF32's dynamic entries of 8 bytes: DT_RPATH (15) in DT_NULL's place at 0x120, naming
    // "/rpath:$ORIGIN/lib" at 7 in the strings; then DT_RUNPATH (29) after it, naming "/runpath"
    // at 26, which the loader takes alone.
    std::string rpath = Patched(Patched(elf32, 0x120, 15, 4), 0x124, 7, 4);
    rpath.replace(0x1A7, 19, "/rpath:$ORIGIN/lib", 19);
    std::string runpath = Patched(Patched(rpath, 0x128, 29, 4), 0x12C, 26, 4);
    runpath.replace(0x1BA, 9, "/runpath", 9);
    // Empty folders in the path (the loader takes them for its working folder, which the doctor
    // cannot know for an installer) are left out.
    std::string emptyFolders = rpath;
    emptyFolders.replace(0x1A7, 19, ":/rpath::/origin::", 19);
    // clang-format off
    const ReadCase cases[] = {
        {"PE32", pe32, kPe, 32, "x86", "", {"Hello"}},
        {"PE32+", PeImage(true, 0x8664, "Hello"), kPe, 64, "x86-64", "", {"Hello"}},
        {"PE of 0xFFFF sections", Patched(pe32, 0x86, 0xFFFF, 2), kPe, 32, "x86", "cut short", {}},
        {"PE cut by a byte", pe32.substr(0, 0x3FF), kPe, 32, "x86", "cut short", {}},
        {"PE header past the end", Patched(pe32, 0x3C, 0xFFFFFFF0, 4), kPe, 0, "", "cut short", {}},
        {"MZ alone", "MZ", kPe, 0, "", "cut short: its PE header is past the file's end", {}},
        {"PE names past the end", Patched(pe32, 0x200 + 24, 0xFFFFFFFF, 4), kPe, 32, "x86", "", {"Hello"}},
        // Past the section's bytes (the 0x400 the file has), a name pointer the loader never maps.
        {"PE names past its section", Patched(pe32, 0x200 + 24, 0xFFFF, 4) + std::string("\x32\x10\0\0", 4),
         kPe, 32, "x86", "", {"Hello"}},
        {"PE without a signature", Patched(pe32, 0x80, 0, 4), BinaryFormat::kNone, 0, "", "", {}},
        {"PE program", Patched(pe32, 0x96, 0x0102, 2), kPe, 32, "x86", "", {"Hello"}, false},
        {"PE optional header 0x10C", Patched(pe32, 0x98, 0x10C, 2), kPe, 0, "x86", "of no known kind", {}},
        {"PE32+ for x86", PeImage(true, 0x14C, "Hello"), kPe, 64, "x86", "of no known kind", {}},
        {"PE without sections", Patched(pe32, 0x86, 0, 2), kPe, 32, "x86", "without sections", {}},
        {"PE importing two", imports, kPe, 32, "x86", "", {"Hello"}, true, {"VCRUNTIME140.dll", "KERNEL32.dll"}},
        {"PE imports, one without thunks", thunkless, kPe, 32, "x86", "", {"Hello"}, true, {"VCRUNTIME140.dll"}},
        // NumberOfRvaAndSizes 1: the import table's entry is past the directories the loader reads.
        {"PE of one data directory", Patched(imports, 0x98 + 92, 1, 4), kPe, 32, "x86", "", {"Hello"}},
        {"ELF32 big-endian", ElfImage(false, true, 20, "Hello"), kElf, 32, "PowerPC", "", {"Hello"}},
        {"ELF64 big-endian", ElfImage(true, true, 21, "Hello"), kElf, 64, "PowerPC64", "", {"Hello"}},
        {"ELF64", elf64, kElf, 64, "x86-64", "", {"Hello"}},
        {"ELF stub", elf64.substr(0, 22), kElf, 64, "x86-64", "cut short", {}},
        {"ELF with 2^32 symbols", Patched(elf64, 0x154, 0xFFFFFFFF, 4), kElf, 64, "x86-64", "cut short", {}},
        {"ELF cut by a byte", elf64.substr(0, 0x1FF), kElf, 64, "x86-64", "cut short", {}},
        {"ELF segment past the end", Patched(elf32, 52 + 16, 0x1000, 4), kElf, 32, "x86", "cut short", {}},
        {"ELF weak", Patched(elf64, 0x17C, 0x22, 1), kElf, 64, "x86-64", "", {"Hello"}},
        {"ELF undefined", Patched(elf64, 0x17E, 0, 2), kElf, 64, "x86-64", "", {}},
        {"ELF hidden", Patched(elf64, 0x17D, 2, 1), kElf, 64, "x86-64", "", {}},
        {"ELF executable (ET_EXEC)", Patched(elf64, 16, 2, 2), kElf, 64, "x86-64", "", {"Hello"}, false},
        {"ELF with DT_RPATH", rpath, kElf, 32, "x86", "", {"Hello"}, true, {}, {"/rpath", "$ORIGIN/lib"}},
        {"ELF with empty folders in DT_RPATH", emptyFolders, kElf, 32, "x86", "", {"Hello"}, true, {}, {"/rpath", "/origin"}},
        {"ELF with DT_RUNPATH and DT_RPATH", runpath, kElf, 32, "x86", "", {"Hello"}, true, {}, {"/runpath"}},
        {"ELF program (DF_1_PIE)", Patched(Patched(elf64, 0x130, 0x6ffffffb, 8), 0x138, 0x08000000, 8),
         kElf, 64, "x86-64", "", {}, false},
        {"text", "not a library at all", BinaryFormat::kNone, 0, "", "", {}},
    };
    // clang-format on
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        tevtool::BinaryImage image = tevtool::ReadBinaryImage(c.bytes);
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.bits, c.bits);
        EXPECT_EQ(image.machine, c.machine);
        EXPECT_TRUE(*c.fault ? Contains(image.fault, c.fault) : image.fault.empty()) << image.fault;
        EXPECT_EQ(image.exports, c.exports);
        EXPECT_TRUE(c.format == BinaryFormat::kNone || *c.fault || image.library == c.library);
        EXPECT_EQ(image.needs, c.needs);
        EXPECT_EQ(image.searchPath, c.searchPath);
    }
}

#ifdef TEV_VERSIONED_DLL
// Version information as MinGW's resource compiler writes it (tests/tool/versioned.rc): file
// version 1,2,3,4, and a description in each of two languages' tables, of which the first is read.
TEST(BinaryImage, ReadsVersionInformationAsACompilerWritesIt) {
    tevtool::BinaryImage image =
        tevtool::ReadBinaryImage(testing_support::ReadFile(TEV_VERSIONED_DLL));
    EXPECT_TRUE(image.hasVersion);
    EXPECT_EQ(image.version, "1.2.3.4");
    EXPECT_EQ(image.description, "first");
}
#endif

// Names looked up as the loader looks them up: found, and why what is found is no function of the
// library's own (the PE image's one address at 0x300, its ordinal at 0x304; the ELF symbol at
// 0x178).
TEST(BinaryImage, LooksNamesUpAsTheLoaderDoes) {
    std::string pe = PeImage(false, 0x14C, "Hello"), elf = ElfImage(true, false, 62, "Hello");
    // A GNU hash table at 0xB0 (DT_GNU_HASH in DT_NULL's place): 2 buckets, the first hashed symbol
    // 3, one bloom word of all bits. "Hello" hashes to 0x0D4F2079, bucket 1, which holds 1: the
    // loader (dlsym, asked of a library so changed) reads symbol 1's chain word 8 bytes before the
    // chains at 0xD0, bucket 0's word, here that hash.
    std::string gnu = Patched(Patched(elf, 0x140, 0x6ffffef5, 8), 0x148, 0xB0, 8);
    for (auto [at, value, width] : {std::tuple{0xB0, 2ull, 4},
                                    {0xB4, 3, 4},
                                    {0xB8, 1, 4},
                                    {0xC0, ~0ull, 8},
                                    {0xC8, 0x0D4F2079, 4},
                                    {0xCC, 1, 4}})
        Put(gnu, at, value, width);
    std::string forwarded = Patched(pe, 0x300, 0x1040, 4);
    forwarded.replace(0x240, 11, "EVIL.Hello", 11);
    const struct {
        const char* name;
        std::string bytes;
        bool found;
        const char* problem;
    } cases[] = {
        {"PE function", pe, true, ""},
        {"PE forwarded", forwarded, true,
         "it is forwarded to \"EVIL.Hello\", not the library's own"},
        {"PE at 0xdeadbeef", Patched(pe, 0x300, 0xDEADBEEF, 4), true,
         "its address 0xdeadbeef is outside the library"},
        {"PE in data", Patched(pe, 0x19C, 0x40000040, 4), true,
         "its address 0x1180 is in the library's data (section \".edata\"), not its code"},
        {"PE ordinal past the table", Patched(pe, 0x304, 5, 2), true,
         "its ordinal 5 is past the export address table's 1 entries"},
        {"PE just past the export table", Patched(pe, 0x300, 0x1100, 4), true, ""},
        {"PE past its section's size in memory", Patched(pe, 0x180, 0x100, 4), true,
         "its address 0x1180 is outside the library"},
        // A section of virtual size 0 spans its size in the file once loaded.
        {"PE in a section of no size in memory", Patched(pe, 0x180, 0, 4), true, ""},
        {"ELF function", elf, true, ""},
        {"ELF data", Patched(elf, 0x17C, 0x11, 1), true, "it is a data object, not a function"},
        {"ELF hidden", Patched(elf, 0x17D, 2, 1), true,
         "it is hidden: the library keeps it to itself"},
        {"ELF internal", Patched(elf, 0x17D, 1, 1), true,
         "it is hidden: the library keeps it to itself"},
        // st_value 0 (not thread-local): the loader passes over it as over an undefined one.
        {"ELF function at 0", Patched(elf, 0x180, 0, 8), true,
         "it is not defined in the library, which takes it from another"},
        // Past p_filesz 0x200 and within p_memsz 0x400: zero-filled, mapped runnable all the same.
        {"ELF in a runnable segment's zero-filled part",
         Patched(Patched(elf, 64 + 40, 0x400, 8), 0x180, 0x300, 8), true, ""},
        {"ELF undefined", Patched(elf, 0x17E, 0, 2), true,
         "it is not defined in the library, which takes it from another"},
        {"ELF local", Patched(elf, 0x17C, 0x02, 1), false, ""},
        {"ELF thread-local at 0", Patched(Patched(elf, 0x17C, 0x16, 1), 0x180, 0, 8), true,
         "it is no function (symbol type 6)"},
        {"ELF named past its strings", Patched(elf, 0x138, 1, 8), false, ""},
        {"ELF not runnable", Patched(elf, 64 + 4, 4, 4), true,
         "its address 0x180 is outside the library's code"},
        {"ELF GNU hash, a bucket below the first hashed symbol", gnu, true, ""},
        {"ELF in another bucket", Patched(Patched(elf, 0x160, 0, 4), 0x15C, 1, 4), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tevtool::BinaryImage image = tevtool::ReadBinaryImage(c.bytes, {"Hello", "Absent"});
        ASSERT_EQ(image.resolved.size(), 2u);
        EXPECT_EQ(image.resolved[0].found, c.found);
        EXPECT_EQ(image.resolved[0].problem, c.problem);
        EXPECT_FALSE(image.resolved[1].found);
    }
}

namespace {

struct HostileCase {
    const char* name;
    const char* planted;  // kTevFile or kLibraryFile, planted over the ready folder's
    std::function<std::string(const std::string& tev, const std::string& library)> bytes;
    const char* reason;  // a part of the one problem named
    // When not 0, the file's length once written: zeros past its bytes, a hole in the file.
    std::uint64_t length = 0;
};

}  // namespace

// Files that are no library TEV or an installer can load, planted over a folder otherwise ready to
// ship: each is refused, with the reason read from its bytes.
TEST_F(Doctor, FilesThatCannotServeAreRefusedWithTheirReason) {
    auto part = [](std::size_t size) {
        return [size](const std::string& tev, const std::string&) { return tev.substr(0, size); };
    };
    auto otherMachine = [](const std::string& bytes, const std::string&) {
        return IsPe(bytes) ? Patched(bytes, PeHeader(bytes) + 4, 0x1C4, 2)
                           : Patched(bytes, 18, 183, 2);
    };
    const HostileCase cases[] = {
        {"TEV cut to 64 bytes", kTevFile, part(64), "it is cut short"},
        {"TEV cut to 1 KB", kTevFile, part(1024), "it is cut short"},
        {"a 22-byte stub", kTevFile, part(22), "it is cut short"},
        {"TEV for another processor", kTevFile, otherMachine, "it is for ARM"},
        {"TEV of no known width (optional header magic 0x10C, ELF class 3)", kTevFile,
         [](const std::string& tev, const std::string&) {
             return IsPe(tev) ? Patched(tev, PeHeader(tev) + 24, 0x10C, 2) : Patched(tev, 4, 3, 1);
         },
         "it is of no known kind"},
        {"TEV with 0xFFFF sections or segments", kTevFile,
         [](const std::string& tev, const std::string&) {
             return IsPe(tev) ? Patched(tev, PeHeader(tev) + 6, 0xFFFF, 2)
                              : Patched(tev, 56, 0xFFFF, 2);
         },
         "it is cut short"},
        {"a program", kTevFile,
         [](const std::string&, const std::string&) {
             return testing_support::ReadFile(TEV_TOOL_PATH);
         },
         "it is a program, not a library"},
        {"an unrelated library", kTevFile,
         [](const std::string&, const std::string& library) { return library; },
         "does not export 28 of TEVUtil's 28 entries (InitML, ShutdownML, OnCrash, ...)"},
        {"text", kTevFile, [](const std::string&, const std::string&) { return "garbage"; },
         "it is not a library"},
        {"the library text", kLibraryFile,
         [](const std::string&, const std::string&) { return "not a library"; },
         "cannot be loaded: it is not a library"},
        {"a library cut to 1 KB", kLibraryFile,
         [](const std::string&, const std::string& library) { return library.substr(0, 1024); },
         "cannot be loaded: it is cut short"},
        {"a library for another processor", kLibraryFile,
         [&](const std::string&, const std::string& library) { return otherMachine(library, ""); },
         "cannot be loaded: it is for ARM"},
        {"a library past 1 GB", kLibraryFile,
         [](const std::string&, const std::string& library) { return library; },
         "larger than 1 GB, more than any library an installer ships",
         (std::uint64_t{1} << 30) + 1},
    };
    std::string tev = testing_support::ReadFile(TEV_DOCTOR_TEV);
    std::string library = testing_support::ReadFile(TEV_DOCTOR_UNMARKED);
    ASSERT_FALSE(tev.empty() || library.empty());
    int index = 0;
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        folder_ = tempDir_ / ("case" + std::to_string(index++));
        std::filesystem::create_directory(folder_);
        Installer(TEV_DOCTOR_UNMARKED);
        std::filesystem::remove(folder_ / c.planted);
        std::ofstream(folder_ / c.planted, std::ios::binary) << c.bytes(tev, library);
        if (c.length) std::filesystem::resize_file(folder_ / c.planted, c.length);
        std::string problem = OnlyProblem(Diagnose());
        EXPECT_TRUE(Contains(problem, c.planted) && Contains(problem, c.reason)) << problem;
    }
}

// The doctor reads the files it checks and never loads them: a library whose loading runs code
// (a constructor, DllMain) in TEV's place and the library's runs none of it in the doctor.
TEST_F(Doctor, NothingOfTheFilesItChecksRuns) {
    std::filesystem::path marker = tempDir_ / "loaded";
    testing_support::SetEnv("TEV_TEST_LOADED_MARKER", marker.string());
    Put(TEV_DOCTOR_RUNS_CODE, kTevFile);
    Put(TEV_DOCTOR_RUNS_CODE, kLibraryFile);
    testing_support::ProgramRun run = Diagnose();
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_FALSE(std::filesystem::exists(marker)) << "the doctor loaded a library it checked";
    // Loading it does leave the mark: the check above would see a doctor that loads.
    testing_support::LoadedLibrary(TEV_DOCTOR_RUNS_CODE).Unload();
    EXPECT_TRUE(std::filesystem::exists(marker));
    testing_support::UnsetEnv("TEV_TEST_LOADED_MARKER");
}

#ifndef _WIN32
// What the file system alone says against a folder or a file: a named pipe in a library's place
// (which a reader that opens it would wait on for ever: the run is ended after a minute), a library
// others may change, a folder that cannot be read. Each is named, never waited on.
TEST_F(Doctor, WhatTheFileSystemSaysIsNamedAndNeverWaitedOn) {
    struct FileSystemCase {
        const char* name;
        std::function<void(const std::filesystem::path& folder)> plant;
        const char* reason;   // a part of the one problem named
        const char* warning;  // a part of the one warning given, or null for none
    };
    auto pipe = [](const char* name) {
        return [name](const std::filesystem::path& folder) {
            std::filesystem::remove(folder / name);
            ASSERT_EQ(mkfifo((folder / name).c_str(), 0644), 0);
        };
    };
    const FileSystemCase cases[] = {
        {"TEV a named pipe", pipe(kTevFile), "cannot be read (is not a regular file)", nullptr},
        {"the library a named pipe", pipe(kLibraryFile), "is in none of these folders",
         "is a named pipe"},
        {"a library others may change",
         [](const std::filesystem::path& folder) {
             std::filesystem::permissions(folder / kLibraryFile,
                                          std::filesystem::perms::others_write,
                                          std::filesystem::perm_options::add);
         },
         "is writable by others: TEV refuses to load it", nullptr},
    };
    int index = 0;
    for (const FileSystemCase& c : cases) {
        SCOPED_TRACE(c.name);
        folder_ = tempDir_ / ("case" + std::to_string(index++));
        std::filesystem::create_directory(folder_);
        Installer(TEV_DOCTOR_UNMARKED);
        c.plant(folder_);
        testing_support::ProgramRun run =
            testing_support::RunTool(tempDir_, {"doctor", folder_.string()}, "", TEV_TOOL_PATH, 60);
        EXPECT_TRUE(Contains(OnlyProblem(run), c.reason)) << run.out;
        std::vector<std::string> warnings = Labelled(run.out, "warning");
        EXPECT_EQ(warnings.size(), c.warning ? 1u : 0u) << run.out;
        EXPECT_TRUE(!c.warning || (warnings.size() == 1 && Contains(warnings[0], c.warning)));
    }
}

// A folder the doctor cannot read is said to be so, not taken for one without TEV.
TEST_F(Doctor, AFolderThatCannotBeReadIsSaidSo) {
    Installer(TEV_DOCTOR_UNMARKED);
    std::filesystem::permissions(folder_, std::filesystem::perms::none);
    std::error_code readable;
    std::filesystem::directory_iterator probe(folder_, readable);
    if (!readable) {
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all);
        GTEST_SKIP() << "this user reads every folder (root)";
    }
    testing_support::ProgramRun run = Diagnose();
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all);
    EXPECT_TRUE(Contains(OnlyProblem(run), "cannot be read")) << run.out;
    EXPECT_FALSE(Contains(run.out, "is not in")) << run.out;
}

// A read that fails in the middle of a library (EIO past its first 16 KB, as from a failing disk)
// names the file as one that cannot be read, in the system's words: not a file cut short, not an
// internal error.
TEST_F(Doctor, AReadFailingMidFileIsNamed) {
    Installer(TEV_DOCTOR_UNMARKED);
    ASSERT_GT(std::filesystem::file_size(folder_ / kLibraryFile), 4 * 16384u);
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanBefore = asan ? asan : "";
    testing_support::SetEnv("ASAN_OPTIONS", asanBefore + ":verify_asan_link_order=0");
    testing_support::SetEnv("TEV_TEST_PREAD_FAILS", std::string("/") + kLibraryFile);
    testing_support::SetEnv("LD_PRELOAD", TEV_PREAD_FAILS);
    testing_support::ProgramRun run = Diagnose();
    testing_support::UnsetEnv("LD_PRELOAD");
    testing_support::UnsetEnv("TEV_TEST_PREAD_FAILS");
    if (asan)
        testing_support::SetEnv("ASAN_OPTIONS", asanBefore);
    else
        testing_support::UnsetEnv("ASAN_OPTIONS");
    EXPECT_EQ(OnlyProblem(run), std::string("PROBLEM  ") + kLibraryFile + ": " +
                                    (folder_ / kLibraryFile).string() +
                                    " cannot be read (Input/output error); put the 64-bit " +
                                    kLibraryFile + " in its place");
    EXPECT_TRUE(Contains(run.out, std::string("ok       ") + kTevFile + ": ")) << run.out;
}
#endif

namespace {

#ifndef _WIN32
// Where llvm-readelf says a section of `file` is in the file.
std::size_t SectionOffset(const std::string& file, const std::string& section) {
    std::string sections = testing_support::CommandOutput("llvm-readelf -S --wide '" + file + "'");
    std::size_t row = sections.find(section + " ");
    if (row == std::string::npos) return 0;
    std::istringstream fields(sections.substr(row));
    std::string name, type, address, offset;
    fields >> name >> type >> address >> offset;
    return std::stoul(offset, nullptr, 16);
}

std::uint32_t Word(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The library with its GNU hash table's bloom filter zeroed. The table: a header of four words
// (buckets, the first hashed symbol, bloom words, shift), the bloom filter of 64-bit words, the
// buckets, then a word a hashed symbol, its chains.
std::string BloomZeroed(std::string bytes, const std::string& file) {
    std::size_t table = SectionOffset(file, ".gnu.hash");
    if (table == 0) return "";
    bytes.replace(table + 16, Word(bytes, table + 8) * 8, Word(bytes, table + 8) * 8, '\0');
    return bytes;
}

// What the loader says of a library: whether dlopen loads it and dlsym finds each static, in a
// child process (the test may load what the doctor must not).
bool LoaderTakes(const std::filesystem::path& file) {
    pid_t child = fork();
    if (child == 0) {
        void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        for (const char* name : kStatics)
            if (!library || !dlsym(library, name)) _exit(1);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

}  // namespace

// Analytics libraries that export every static, but not so that TEV can call them, or that look
// unlike a library and load as one: the doctor's verdict is the loader's. On Linux the loader
// itself is asked too, for every case it can judge (it finds data as readily as functions).
TEST_F(Doctor, TheVerdictIsTheLoaders) {
    std::string unmarked = testing_support::ReadFile(TEV_DOCTOR_UNMARKED);
    auto Faulty = [](const char* which) {  // the libraries kv8_faulty.cpp builds, by case
        return testing_support::ReadFile(std::filesystem::path(TEV_FAULTY_FOLDER) / which /
                                         kLibraryFile);
    };
    const struct {
        const char* name;
        std::string library;
        std::size_t problems;           // how many the doctor names: 0, the folder is ready
        const char* reason;             // a part of each
        bool dependencyBeside = false;  // the library it needs shipped beside it
    } cases[] = {
        {"the maker's", unmarked, 0, ""},
#ifdef _WIN32
        {"data", Faulty("data"), 9, "is in the library's data (section "},
        {"forwarded", Faulty("forwarded"), 9, "it is forwarded to \"NOSUCH."},
        {"a library it needs is missing", Faulty("needs"), 1,
         "needs libtevmissingdependency.dll, which is in none of "},
        {"a library it needs beside it", Faulty("needs"), 0, "", true},
#else
        {"data", Faulty("data"), 9, "it is a data object, not a function"},
        {"a library it needs is missing", Faulty("needs"), 1,
         "needs libtevmissingdependency.so, which is in none of "},
        {"a library it needs beside it, no RUNPATH leading there", Faulty("needs"), 1,
         "needs libtevmissingdependency.so, which is in none of ", true},
        {"a library it needs beside it, RUNPATH $ORIGIN", Faulty("origin"), 0, "", true},
        {"a library it needs missing, RUNPATH $ORIGIN", Faulty("origin"), 1,
         "needs libtevmissingdependency.so, which is in none of "},
        {"runnable", Faulty("runnable"), 0, ""},
        {"bloom filter zeroed", BloomZeroed(unmarked, TEV_DOCTOR_UNMARKED), 9,
         "where the loader looks for it"},
        {"a SysV hash table alone", Faulty("sysv"), 0, ""},
#endif
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.library.empty());
        folder_ = tempDir_ / ("case" + std::to_string(index++));
        std::filesystem::create_directory(folder_);
        Put(TEV_DOCTOR_TEV, kTevFile);
        testing_support::WriteBytes(folder_ / kLibraryFile, c.library);
        if (c.dependencyBeside)
            std::filesystem::copy_file(
                TEV_FAULTY_DEPENDENCY,
                folder_ / std::filesystem::path(TEV_FAULTY_DEPENDENCY).filename());
        testing_support::ProgramRun run = Diagnose();
        std::vector<std::string> problems = Labelled(run.out, "PROBLEM");
        EXPECT_EQ(problems.size(), c.problems) << run.out;
        EXPECT_EQ(run.status, c.problems ? 1 : 0) << run.out;
        for (const std::string& problem : problems)
            EXPECT_TRUE(Contains(problem, c.reason)) << problem;
#ifndef _WIN32
        if (std::string(c.name) != "data") {
            EXPECT_EQ(LoaderTakes(folder_ / kLibraryFile), run.status == 0) << run.out;
        }
#endif
    }
}

#ifndef _WIN32
// Files built to cost a reader gigabytes are judged in an address space of 64 MB: a million ELF
// symbols all naming one name of 4,095 bytes; 65,536 PE names pointing at one name of 4 KB; a
// million distinct names of 14 bytes, 15 MB of text in a file of 40 MB, past the names' budget with
// the strings that would hold them. So is the maker's library made 64 MB and 1 GB long (zeros after
// its bytes, which the loader never maps), and it is judged ready to ship.
TEST_F(Doctor, FilesBuiltToExhaustAReaderAreJudgedWithin64MB) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
    constexpr std::size_t kSymbols = 1 << 20, kSymbolsAt = 0x1000, kLong = 4095;
    std::string elf = ElfImage(true, false, 62, ""), pe = PeImage(false, 0x14C, "");
    std::size_t strings = kSymbolsAt + 24 * kSymbols, kNameAt = 0x40300;
    elf.resize(strings + kLong + 2, '\0');
    elf.replace(strings + 1, kLong, kLong, 'a');
    // The loadable segment the whole file, then DT_SYMTAB, DT_STRTAB, DT_STRSZ and the chains.
    for (auto [at, value, width] : {std::tuple{64 + 32, elf.size(), 8},
                                    {0x118, kSymbolsAt, 8},
                                    {0x128, strings, 8},
                                    {0x138, kLong + 2, 8},
                                    {0x154, kSymbols, 4}})
        ::Put(elf, at, value, width);
    for (std::size_t at = kSymbolsAt + 24; at < strings; at += 24)
        ::Put(elf, at, 0x0007'0012'00000001, 8);  // named at 1, a global function, in section 7
    std::string distinct = ElfImage(true, false, 62, "");
    std::size_t names = kSymbolsAt + 24 * kSymbols;
    distinct.resize(names + 15 * kSymbols, '\0');
    for (auto [at, value, width] : {std::tuple{64 + 32, distinct.size(), 8},
                                    {0x118, kSymbolsAt, 8},
                                    {0x128, names, 8},
                                    {0x138, 15 * kSymbols, 8},
                                    {0x154, kSymbols, 4}})
        ::Put(distinct, at, value, width);
    for (std::size_t i = 1; i < kSymbols; ++i) {
        std::string name = std::to_string(10'000'000'000'000 + i);  // 14 digits
        distinct.replace(names + 15 * i, 14, name);
        ::Put(distinct, kSymbolsAt + 24 * i, 0x0007'0012'00000000 | 15 * i, 8);
    }
    pe.resize(0x42000, '\0');
    ::Put(pe, 0x178 + 8, 0x41E00, 4);   // the section's size in memory
    ::Put(pe, 0x178 + 16, 0x41E00, 4);  // and in the file
    ::Put(pe, 0x200 + 24, 1 << 16, 4);  // names
    for (std::size_t i = 0; i < 1 << 16; ++i) ::Put(pe, 0x228 + 4 * i, kNameAt - 0x200 + 0x1000, 4);
    pe.replace(kNameAt, 4095, 4095, 'a');
    std::string unmarked = testing_support::ReadFile(TEV_DOCTOR_UNMARKED);
    const struct {
        const char* name;
        const std::string& bytes;
        std::uint64_t length;  // when not 0, the file's length: zeros after its bytes
        const char* problem;   // a part of the one problem named; null for a folder ready to ship
    } cases[] = {
        {"a million symbols naming one long name", elf, 0, "too strange to judge"},
        {"65,536 PE names naming one", pe, 0, "it is 32-bit x86 Windows library"},
        {"a million distinct names in 40 MB", distinct, 0, "too strange to judge"},
        {"the maker's library, 64 MB less a byte", unmarked, (64u << 20) - 1, nullptr},
        {"the maker's library, 1 GB", unmarked, tevtool::kLargestBinary, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Put(TEV_DOCTOR_TEV, kTevFile);
        testing_support::WriteBytes(folder_ / kLibraryFile, c.bytes);
        if (c.length) std::filesystem::resize_file(folder_ / kLibraryFile, c.length);
        testing_support::ProgramRun run = testing_support::RunTool(
            tempDir_, {"--as=67108864", "--", TEV_TOOL_PATH, "doctor", folder_.string()}, "",
            "/usr/bin/prlimit");
        EXPECT_EQ(run.err, "");
        if (c.problem)
            EXPECT_TRUE(Contains(OnlyProblem(run), c.problem)) << run.out;
        else
            EXPECT_EQ(run.status, 0) << run.out;
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directory(folder_);
    }
}

// Paths are shown with their control characters escaped: a folder's name cannot retitle or clear
// the terminal of whoever reads the report.
TEST_F(Doctor, PathsAreShownEscaped) {
    folder_ = tempDir_ / "setup\x1b]0;owned\x07";
    std::filesystem::create_directory(folder_);
    Installer(TEV_DOCTOR_UNMARKED);
    testing_support::ProgramRun run = Diagnose();
    testing_support::ProgramRun absent = Tev({"doctor", (tempDir_ / "gone\x1b[2J").string()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ((run.out + absent.err).find_first_of("\x1b\x07"), std::string::npos) << run.out;
    EXPECT_EQ(testing_support::Count(run.out, "setup\\x1b]0;owned\\x07/"), 4u) << run.out;
    EXPECT_TRUE(Contains(absent.err, "gone\\x1b[2J: no such file or folder")) << absent.err;
}
#endif
