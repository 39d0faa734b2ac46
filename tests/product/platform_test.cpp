// The platform layer: reading the executable's path, and the search for a library TEV depends on.
#include <algorithm>
#include <cstring>
#include <fstream>

#include "kv8_client/kv8_statics.h"
#include "support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace platform = tev::platform;
using testing_support::Utf8;

namespace {

constexpr const char* kStandIn = tev::kv8_client::kLibraryFile;
// A library of a name nothing in the process has loaded.
constexpr char kUnloaded[] = "tev-platform-test.dll";

// A folder as the search takes it: ending with a separator.
platform::SearchFolders FoldersOf(const std::filesystem::path& folder) {
    return {(folder / "").native(), {}};
}

}  // namespace

// The executable's path is read into a buffer that grows until the whole path fits, on both
// platforms (Wine starts no program at a long path, so the growth is tested here directly).
TEST(ExecutablePath, IsReadWholeHoweverLongAndNeverPastWhatWasWritten) {
    for (std::size_t length : {0u, 1u, 259u, 260u, 261u, 1000u, 40000u}) {
        WideString path(length, T('p'));
        int calls = 0;
        WideString read = platform::ReadWhole<WideString>([&](TEVChar* buffer, std::size_t size) {
            ++calls;
            std::size_t written = std::min(size, path.size());  // cut short, as the systems do
            std::copy_n(path.begin(), written, buffer);
            std::fill(buffer + written, buffer + size, T('#'));  // whatever lies beyond
            return static_cast<long>(written);
        });
        EXPECT_EQ(read, path) << length;
        EXPECT_GE(calls, 1);
    }
    EXPECT_EQ(platform::ReadWhole<WideString>([](TEVChar*, std::size_t) { return -1L; }),
              WideString());
    EXPECT_EQ(platform::ReadWhole<WideString>(
                  [](TEVChar*, std::size_t size) { return static_cast<long>(size); }),
              WideString());  // never fits: given up, not looping for ever
}

// Where a library TEV depends on is looked for, as a diagnosis shows it: one already loaded is
// taken as it is, with its file; else TEV's own folder (this program compiles TEV in: its folder)
// and, on Windows, the system's, and nothing found anywhere else.
TEST(LibrarySearch, SaysWhereItLookedAndWhatItFound) {
    platform::Dependency loaded =
        platform::operations.loadDependency(kStandIn, platform::OwnSearchFolders());
    EXPECT_NE(loaded.library, nullptr);
    std::string file = Utf8(loaded.file);
    ASSERT_GT(file.size(), std::strlen(kStandIn));
    EXPECT_EQ(file.substr(file.size() - std::strlen(kStandIn)), kStandIn);
    EXPECT_TRUE(loaded.folders.empty());

    platform::Dependency missing =
        platform::operations.loadDependency(kUnloaded, platform::OwnSearchFolders());
    EXPECT_EQ(missing.library, nullptr);
    EXPECT_TRUE(missing.file.empty());
    EXPECT_TRUE(missing.failure.empty());
    ASSERT_FALSE(missing.folders.empty());
    EXPECT_EQ(missing.folders.front(), platform::operations.executableDirectory());
#ifdef _WIN32
    ASSERT_EQ(missing.folders.size(), 2u);  // then the system's folder
    std::string system = Utf8(missing.folders.back());
    std::transform(system.begin(), system.end(), system.begin(), ::tolower);
    EXPECT_NE(system.find("\\system32\\"), std::string::npos) << system;
#else
    EXPECT_EQ(missing.folders.size(), 1u);
#endif
}

class LibraryFile : public ::testing::Test {
protected:
    void SetUp() override { folder_ = testing_support::MakeTempDirectory("tev-platform"); }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::filesystem::path File() const { return folder_ / kUnloaded; }

    std::filesystem::path folder_;
};

// Anything of the library's name that is not a regular file is passed over, and the search goes on
// as if it were not there: a directory is no library, and opening a named pipe would block the
// host until something wrote to it. Nothing is opened to find out.
TEST_F(LibraryFile, ThatIsNoRegularFileIsPassedOver) {
    struct Case {
        const char* what;
        bool (*make)(const std::filesystem::path& file);
        std::string reason;
    };
    std::vector<Case> cases = {
        {"a directory",
         [](const std::filesystem::path& file) { return std::filesystem::create_directory(file); },
         "a directory"},
#ifndef _WIN32
        {"a named pipe",
         [](const std::filesystem::path& file) { return mkfifo(file.c_str(), 0600) == 0; },
         "a named pipe"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.make(File()));
#ifndef _WIN32
        // Held open for writing with something in it: a search that opened the pipe would get
        // bytes that are no library and fail, rather than wait for ever.
        int writer = open(File().c_str(), O_RDWR | O_NONBLOCK);
        if (writer >= 0) {
            EXPECT_EQ(write(writer, "not a library", 13), 13);
        }
#endif
        platform::Location location = platform::LocateDependency(kUnloaded, FoldersOf(folder_));
        EXPECT_TRUE(location.file.empty()) << Utf8(location.file);
        ASSERT_EQ(location.skipped.size(), 1u);
        EXPECT_EQ(Utf8(location.skipped[0].file), File().string());
        EXPECT_EQ(Utf8(location.skipped[0].reason), c.reason);
        platform::Dependency dependency =
            platform::operations.loadDependency(kUnloaded, FoldersOf(folder_));
        EXPECT_EQ(dependency.library, nullptr);
        EXPECT_TRUE(dependency.file.empty()) << Utf8(dependency.file);
        EXPECT_TRUE(dependency.failure.empty()) << Utf8(dependency.failure);
#ifndef _WIN32
        if (writer >= 0) close(writer);
#endif
        std::filesystem::remove(File());
    }
}

#ifndef _WIN32
// Called after each stat of the suite's process, once a test sets it: the suite links with
// --wrap=stat, so a test can change a path between the search's look at it and its open.
static void (*afterStat)(const char* path) = nullptr;
extern "C" int __real_stat(const char* path, struct stat* status);
extern "C" int __wrap_stat(const char* path, struct stat* status) {
    int result = __real_stat(path, status);
    if (afterStat) afterStat(path);
    return result;
}

// A named pipe swapped in after the search saw a regular file is not waited on either: the open
// returns at once and the pipe is passed over. Opened blocking, it would hold the host until
// something wrote to it; here an alarm interrupts that open, and the search reports its failure.
TEST_F(LibraryFile, APipeSwappedInAfterTheLookIsNotWaitedOn) {
    static std::filesystem::path file;
    file = File();
    std::ofstream(file) << "a regular file when looked at";
    afterStat = [](const char* path) {
        if (file != path) return;
        afterStat = nullptr;
        std::filesystem::remove(file);
        ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    };
    struct sigaction interrupt = {}, previous = {};
    interrupt.sa_handler = [](int) {};  // without SA_RESTART, so a blocked open fails
    sigaction(SIGALRM, &interrupt, &previous);
    alarm(5);
    platform::Location location = platform::LocateDependency(kUnloaded, FoldersOf(folder_));
    alarm(0);
    sigaction(SIGALRM, &previous, nullptr);
    afterStat = nullptr;
    EXPECT_TRUE(location.file.empty()) << Utf8(location.file) << ": " << Utf8(location.refusal);
    ASSERT_EQ(location.skipped.size(), 1u);
    EXPECT_EQ(Utf8(location.skipped[0].reason), "a named pipe");
}
#endif

// The loading call's own failure is the dependency's. Windows 7 without KB2533623 refuses the
// LOAD_LIBRARY_SEARCH flags as an invalid parameter (87): the file is then loaded again with the
// altered search, and only then.
TEST_F(LibraryFile, ThatTheSystemRefusesIsReportedAndWithoutTheSearchFlagsLoadedTheOldWay) {
    std::ofstream(File()) << "what the loading call is never asked to read";
#ifdef _WIN32
    const unsigned kFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    const unsigned kOldWay = LOAD_WITH_ALTERED_SEARCH_PATH;
#else
    const unsigned kFlags = RTLD_NOW | RTLD_LOCAL;
    const unsigned kOldWay = kFlags;  // never asked for
#endif
    static int library;  // what the loading call gives, once it succeeds
    static std::vector<std::string> failures;
    static std::vector<unsigned> asked;
    struct Case {
        std::vector<std::string> failures;  // the loading call's, one per call, then success
        std::vector<unsigned> asked;
        bool loaded;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {{}, {kFlags}, true, ""},
        {{"error 193"}, {kFlags}, false, "error 193"},
#ifdef _WIN32
        {{"error 87"}, {kFlags, kOldWay}, true, ""},
        {{"error 87", "error 126"}, {kFlags, kOldWay}, false, "error 126"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure + " after " + std::to_string(c.failures.size()));
        failures = c.failures;
        asked.clear();
        testing_support::ScopedOperation fake(
            platform::operations.openLibrary,
            +[](const platform::SystemPath& path, unsigned flags, tev::WideString& failure) {
#ifdef _WIN32
                EXPECT_EQ(path, (std::filesystem::path(path).parent_path() / kUnloaded).native());
#else  // the descriptor the file was checked through
                EXPECT_EQ(path.rfind("/proc/self/fd/", 0), 0u) << path;
                EXPECT_EQ(std::filesystem::read_symlink(path).filename(), kUnloaded);
#endif
                asked.push_back(flags);
                if (asked.size() > failures.size()) return static_cast<void*>(&library);
                failure = tev::WideString(failures[asked.size() - 1].begin(),
                                          failures[asked.size() - 1].end());
                return static_cast<void*>(nullptr);
            });
        platform::Dependency dependency =
            platform::operations.loadDependency(kUnloaded, FoldersOf(folder_));
        EXPECT_EQ(dependency.library, c.loaded ? &library : nullptr);
        EXPECT_EQ(Utf8(dependency.file), File().string());
        EXPECT_EQ(Utf8(dependency.failure), c.failure);
        EXPECT_EQ(asked, c.asked);
    }
    (void)kOldWay;
}

#ifndef _WIN32
// On Linux the file found is loaded only when nobody but the effective user or root, and the
// owner's own group, can change it: whoever can write it could run code in the host. Refused
// without loading, and the search ends.
TEST_F(LibraryFile, ThatOthersCanChangeIsRefusedWithItsCause) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    constexpr uid_t kNobody = 65534;
    constexpr gid_t kNoGroup = 65534, kUsers = 100;
    struct Case {
        const char* what;
        uid_t owner;
        gid_t group;
        mode_t mode;
        uid_t searcher;  // the effective user who searches, with the group of the same number
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {"root's, for root", 0, 0, 0644, 0, ""},
        {"root's, for another user", 0, 0, 0755, kNobody, ""},
        {"the user's own", kNobody, kNoGroup, 0600, kNobody, ""},
        {"the user's own, built under umask 002", kNobody, kNoGroup, 0664, kNobody, ""},
        {"root's, writable by root's group", 0, 0, 0664, 0, ""},
        {"another user's", kNobody, kNoGroup, 0644, 0, "owned by another user"},
        {"writable by others", 0, 0, 0646, 0, "writable by others"},
        {"root's, writable by a group of users", 0, kUsers, 0664, 0, "writable by its group"},
        {"the user's, writable by a group of users", kNobody, kUsers, 0664, kNobody,
         "writable by its group"},
        {"the user's own, writable by others", kNobody, kNoGroup, 0666, kNobody,
         "writable by others"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(File()) << "a library";
        ASSERT_EQ(chown(File().c_str(), c.owner, c.group), 0);
        ASSERT_EQ(chmod(File().c_str(), c.mode), 0);
        // Searched as that user in a process of its own, which says by its status whether it
        // found the refusal expected.
        pid_t child = fork();
        if (child == 0) {
            if (setegid(c.searcher) != 0 || seteuid(c.searcher) != 0) _exit(2);
            platform::Location location = platform::LocateDependency(kUnloaded, FoldersOf(folder_));
            bool found =
                Utf8(location.file) == File().string() && Utf8(location.refusal) == c.refusal;
            // A refused file is not loaded: its refusal is the dependency's failure.
            platform::Dependency dependency =
                platform::operations.loadDependency(kUnloaded, FoldersOf(folder_));
            bool refused =
                c.refusal.empty() || (!dependency.library && Utf8(dependency.failure) == c.refusal);
            _exit(found && refused ? 0 : 1);
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::filesystem::remove(File());
    }
}

// The file loaded is the file checked: one swapped in at the same place after the check (by
// whoever can write the folder) is not the one loaded. Here a library that lacks the first static
// is checked, and a library that has it is put in its place just before the loading call.
TEST_F(LibraryFile, SwappedAfterTheCheckIsNotTheOneLoaded) {
    static std::filesystem::path checked, swapped;
    checked = File();
    swapped = folder_ / "swapped-in";
    std::filesystem::copy_file(std::filesystem::path(TEV_LACKING_FOLDER) / "0" / kStandIn, checked);
    std::filesystem::copy_file(std::filesystem::path(TEV_LACKING_FOLDER) / "1" / kStandIn, swapped);
    static void* (*const load)(const platform::SystemPath&, unsigned, tev::WideString&) =
        platform::operations.openLibrary;
    testing_support::ScopedOperation swap(
        platform::operations.openLibrary,
        +[](const platform::SystemPath& path, unsigned flags, tev::WideString& failure) {
            std::filesystem::rename(swapped, checked);
            return load(path, flags, failure);
        });
    platform::Dependency dependency =
        platform::operations.loadDependency(kUnloaded, FoldersOf(folder_));
    ASSERT_NE(dependency.library, nullptr) << Utf8(dependency.failure);
    EXPECT_EQ(Utf8(dependency.file), checked.string());
    const char* first = tev::kv8_client::kLibraryStatics[0].exported;
    const char* second = tev::kv8_client::kLibraryStatics[1].exported;
    EXPECT_EQ(platform::operations.findFunction(dependency.library, first), nullptr);
    EXPECT_NE(platform::operations.findFunction(dependency.library, second), nullptr);
}
#endif

#ifndef _WIN32
// A library already loaded is taken by its own file name only, not by a name that holds it.
TEST_F(LibraryFile, AlreadyLoadedIsTakenByItsOwnNameOnly) {
    std::filesystem::path longer = folder_ / (std::string("old-") + kUnloaded);
    std::filesystem::copy_file(std::filesystem::path(TEV_LACKING_FOLDER) / "0" / kStandIn, longer);
    void* other = dlopen(longer.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(platform::operations.loadDependency(kUnloaded, FoldersOf(folder_)).library, nullptr);
    dlclose(other);
}
#endif

#ifndef _WIN32
// An empty TMPDIR is no directory: the log goes to /tmp, as when TMPDIR is unset.
TEST(TempFile, AnEmptyTmpdirMeansTheSystemsTemporaryFolder) {
    const std::string name = "tev-empty-tmpdir-" + std::to_string(getpid()) + ".log";
    const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", "", 1);
    platform::FileHandle file = platform::operations.createTempFile(tev::FromUtf8(name).c_str());
    setenv("TMPDIR", saved.c_str(), 1);
    ASSERT_NE(file, platform::kNoFile);
    platform::operations.close(file);
    EXPECT_TRUE(std::filesystem::remove("/tmp/" + name));
}
#endif
