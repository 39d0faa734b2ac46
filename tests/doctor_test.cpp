// tev doctor on installer folders built for each case: what it says, and its exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

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
        return Contains(line, library + ",") && Contains(line, ", loads");
    })) << run.out;
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
// where anyone may have left a library of that name.
TEST_F(Doctor, ALibraryBesideTheInstallerAloneIsNotLookedFor) {
    Put(TEV_DOCTOR_TEV, kTevFile);
    std::filesystem::path installer = tempDir_ / "setup";
    std::filesystem::create_directory(installer);
    std::filesystem::copy_file(TEV_DOCTOR_UNMARKED, installer / kLibraryFile);
    testing_support::ProgramRun run =
        Tev({"doctor", folder_.string(), "--installer-folder", installer.string()});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_FALSE(Contains(run.out, (installer / kLibraryFile).string())) << run.out;
    EXPECT_TRUE(Contains(OnlyProblem(run), "is in none of these folders")) << run.out;
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

// A file of the library's name that no loader takes: the system's reason is given.
TEST_F(Doctor, ALibraryThatCannotBeLoadedGivesTheSystemsReason) {
    Put(TEV_DOCTOR_TEV, kTevFile);
    std::ofstream(folder_ / kLibraryFile) << "not a library";
    testing_support::ProgramRun run = Diagnose();
    std::string problem = OnlyProblem(run);
    EXPECT_TRUE(Contains(problem, "cannot be loaded (")) << problem;
    EXPECT_TRUE(Contains(problem, "it is not a library")) << problem;
#ifdef _WIN32
    EXPECT_TRUE(Contains(problem, "(error 193)")) << problem;
#endif
}

// Without a usable temporary folder TEV still reports, without its log: a warning, status 0.
TEST_F(Doctor, ATemporaryFolderThatTakesNoFileIsAWarning) {
    Installer(TEV_DOCTOR_UNMARKED);
    testing_support::UseTempDirectory(tempDir_ / "absent");
    testing_support::ProgramRun run = Diagnose();
    EXPECT_EQ(run.status, 0) << run.out;
    std::vector<std::string> warnings = Labelled(run.out, "warning");
    ASSERT_EQ(warnings.size(), 1u) << run.out;
    EXPECT_TRUE(Contains(warnings[0], (tempDir_ / "absent").string())) << warnings[0];
    EXPECT_TRUE(Contains(warnings[0], "without its diagnostic log")) << warnings[0];
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
    EXPECT_TRUE(Contains(run.err, "is not a folder")) << run.err;
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
    EXPECT_TRUE(Contains(problems[1], "cannot be loaded (") && Contains(problems[1], other) &&
                Contains(problems[1], mine))
        << problems[1];
#ifdef _WIN32
    EXPECT_TRUE(Contains(problems[1], "(error 193)")) << problems[1];
#endif
}
