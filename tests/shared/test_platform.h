// What the suites need of the machine, on Linux and on Windows (under Wine) alike.
#ifndef TEV_TESTS_TEST_PLATFORM_H
#define TEV_TESTS_TEST_PLATFORM_H

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../src/platform/platform.h"
#include "KV8Control.h"

namespace testing_support {

void SetEnv(const std::string& name, const std::string& value);

// One of the platform's operations replaced until destroyed, when the original is put back.
template <typename Function>
class ScopedOperation {
public:
    ScopedOperation(Function& slot, Function replacement) : slot_(slot), original_(slot) {
        slot_ = replacement;
    }
    ~ScopedOperation() { slot_ = original_; }
    ScopedOperation(const ScopedOperation&) = delete;
    ScopedOperation& operator=(const ScopedOperation&) = delete;
    Function Original() const { return original_; }

private:
    Function& slot_;
    Function original_;
};

// A whole file's bytes (empty when it cannot be read).
std::string ReadFile(const std::filesystem::path& path);
// The lines of a text (a program's output, a file), without their LF.
std::vector<std::string> Lines(const std::string& text);
#ifndef _WIN32
// What a shell command prints on its standard output.
std::string CommandOutput(const std::string& command);
#endif
// ASCII text as the UTF-16LE bytes the log holds it in.
std::string Utf16Le(const std::string& ascii);
// A log line as TEV writes it, in UTF-16LE, from ASCII text (CR LF added).
std::string Utf16Line(const std::string& ascii);
void UnsetEnv(const std::string& name);

// A new, empty directory under the machine's temporary directory (as it was when the suite began).
std::filesystem::path MakeTempDirectory(const std::string& prefix);
// Makes `dir` the user's temporary directory for this process (TMPDIR; TMP and TEMP on Windows).
void UseTempDirectory(const std::filesystem::path& dir);

// This test program's own file.
std::filesystem::path ThisProgram();

// The configuration path TEV must hand to the analytics library: beside this test program.
tev::WideString ExpectedConfigPath();

// The whole content of a file TEV holds open, read through TEV's own handle: on Windows nobody
// else may open the log while a run holds it.
std::string ReadHeldFile(tev::platform::FileHandle file);

// Moves a file's position back to its start.
void Rewind(tev::platform::FileHandle file);

// Holds a file open the way another run of TEV would, from another process where the platform
// lets a test do so deterministically, until destroyed.
class FileHolder {
public:
    explicit FileHolder(const std::filesystem::path& path);
    ~FileHolder();
    bool Holding() const { return holding_; }

private:
    bool holding_ = false;
    std::intptr_t handle_ = -1;
    [[maybe_unused]] int release_ = -1;  // the POSIX holder's end of its pipe
};

// A library loaded at run time, unloaded when destroyed or on Unload.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string& path);
    ~LoadedLibrary() { Unload(); }
    bool Loaded() const { return handle_ != nullptr; }
    void Unload();
    // Whether the library at `path` is in this process now (without loading it).
    static bool IsLoaded(const std::string& path);
    // An exported function, by its GCC name (Linux) or its Microsoft-decorated name (Windows).
    template <typename Function>
    Function Entry(const char* gccName, const char* decoratedName) const {
        return reinterpret_cast<Function>(Find(gccName, decoratedName));
    }

private:
    void* Find(const char* gccName, const char* decoratedName) const;
    void* handle_ = nullptr;
};

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program with these arguments, `input` on its standard input, and collects its output.
// With `timeoutSeconds`, a program still running then is ended, and its status is -1: a test of
// something that must not block fails instead of hanging.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& input, const std::filesystem::path& scratch,
                      unsigned timeoutSeconds = 0);

// A program left running while a test talks to it: its standard output read as it comes, its
// standard error into `scratch`/stderr, its standard input empty. Ended, if still running, when
// destroyed.
class RunningProgram {
public:
    RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& scratch);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Reads its output until it holds `text` after what earlier calls found (true), or until it
    // closes its output or `timeoutSeconds` pass (false): a guard against a hang, never a pause.
    bool ReadUntil(const std::string& text, unsigned timeoutSeconds = 60);
    const std::string& Output() const { return out_; }
    std::string Errors() const;
    // Sends it an interrupt (SIGINT); false where a test cannot (Windows).
    bool Interrupt();
    // Reads its output to its end and gives its exit status: -1 when it had to be ended after
    // `timeoutSeconds`.
    int Wait(unsigned timeoutSeconds = 60);

private:
    // Reads what is there, waiting at most until `deadline` (steady clock, ms) for some; false at
    // the end of its output or the deadline.
    bool ReadSome(long long deadline);
    void End();

    std::filesystem::path scratch_;
    std::string out_;
    size_t found_ = 0;  // where the next ReadUntil looks from
    bool closed_ = false;
    long long process_ = -1;  // pid, or process handle
    long long pipe_ = -1;     // the read end
    long long event_ = 0;     // Windows: the overlapped read's event
};

// Runs `work` in a child process and kills it outright (SIGKILL) once it has called the progress
// function it is given `steps` times, wherever it then is. False where a test cannot do so
// (Windows), or when the child ended before.
bool KillMidWay(int steps, const std::function<void(const std::function<void()>& progress)>& work);

// Runs `work` in a child process whose files cannot grow past `limit` bytes, as on a full disk: a
// write that would is stopped short. False where a test cannot do so (Windows), or when it failed.
bool RunWithFileSizeLimit(std::int64_t limit, const std::function<void()>& work);

}  // namespace testing_support

#endif
