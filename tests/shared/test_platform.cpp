#include "test_platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testing_support {
namespace {
// Now, in milliseconds of the steady clock: the deadlines of a running program's reads.
long long SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

std::string ReadFile(const std::filesystem::path& path) {
    // Read at once: a character at a time, a debug build takes a minute for the machine's
    // libraries.
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : 0;
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    file.seekg(0);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::string Utf16Le(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) bytes += {c, '\0'};
    return bytes;
}

std::string Utf16Line(const std::string& ascii) { return Utf16Le(ascii + "\r\n"); }

namespace {

const std::filesystem::path& SuiteTempDirectory() {
    static const std::filesystem::path base = std::filesystem::temp_directory_path();
    return base;
}

}  // namespace

std::filesystem::path MakeTempDirectory(const std::string& prefix) {
    static unsigned counter = 0;
    std::random_device seed;
    for (;;) {
        std::filesystem::path dir = SuiteTempDirectory() / (prefix + "-" + std::to_string(seed()) +
                                                            "-" + std::to_string(++counter));
        if (std::filesystem::create_directory(dir)) return dir;
    }
}

#ifdef _WIN32

void SetEnv(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());  // the C runtime's copy and the process's alike
}

void UnsetEnv(const std::string& name) { _putenv_s(name.c_str(), ""); }

void UseTempDirectory(const std::filesystem::path& dir) {
    SuiteTempDirectory();
    _wputenv_s(L"TMP", dir.wstring().c_str());  // wide: the directory may have any name
    _wputenv_s(L"TEMP", dir.wstring().c_str());
}

std::filesystem::path ThisProgram() {
    wchar_t path[32768];
    DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    return std::wstring(path, length);
}

tev::WideString ExpectedConfigPath() {
    tev::WideString text = ThisProgram().wstring();
    return text.substr(0, text.rfind(L'\\') + 1) + L"ORB\\orbconfig.xml";
}

void Rewind(tev::platform::FileHandle file) {
    SetFilePointer(reinterpret_cast<HANDLE>(file), 0, nullptr, FILE_BEGIN);
}

std::string ReadHeldFile(tev::platform::FileHandle file) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    Rewind(file);
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(handle, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;  // TEV moves to the end itself before each line
}

// Windows refuses a second opener of a file held without sharing, in this process or another.
FileHolder::FileHolder(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    holding_ = file != INVALID_HANDLE_VALUE;
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

FileHolder::~FileHolder() {
    if (holding_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

LoadedLibrary::LoadedLibrary(const std::string& path)
    : handle_(
          reinterpret_cast<void*>(LoadLibraryW(std::filesystem::path(path).wstring().c_str()))) {}

void LoadedLibrary::Unload() {
    if (handle_) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

bool LoadedLibrary::IsLoaded(const std::string& path) {
    return GetModuleHandleW(std::filesystem::path(path).wstring().c_str()) != nullptr;
}

void* LoadedLibrary::Find(const char*, const char* decoratedName) const {
    return reinterpret_cast<void*>(
        GetProcAddress(reinterpret_cast<HMODULE>(handle_), decoratedName));
}

namespace {

// A UTF-8 argument, quoted for the command line.
std::wstring Quoted(const std::string& argument) {
    std::wstring quoted = L"\"";
    for (wchar_t c :
         std::filesystem::path(std::u8string(argument.begin(), argument.end())).wstring()) {
        if (c == L'"') quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}

HANDLE Inheritable(const std::filesystem::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ, &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts `program` with `arguments`, its standard handles these (inherited); false when it
// cannot be started.
bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                  HANDLE input, HANDLE output, HANDLE error, PROCESS_INFORMATION& process) {
    std::wstring command = Quoted(program);
    for (const std::string& argument : arguments) command += L" " + Quoted(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    std::wstring application = std::filesystem::path(program).wstring();
    return CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, &process);
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& input, const std::filesystem::path& scratch,
                      unsigned timeoutSeconds) {
    std::ofstream(scratch / "stdin", std::ios::binary) << input;
    HANDLE in = Inheritable(scratch / "stdin", false), out = Inheritable(scratch / "stdout", true),
           err = Inheritable(scratch / "stderr", true);
    PROCESS_INFORMATION process{};
    ProgramRun run;
    if (StartProgram(program, arguments, in, out, err, process)) {
        DWORD status = 0;
        if (WaitForSingleObject(process.hProcess, timeoutSeconds ? timeoutSeconds * 1000
                                                                 : INFINITE) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
        } else if (GetExitCodeProcess(process.hProcess, &status)) {
            run.status = static_cast<int>(status);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        run.err = "CreateProcess failed: " + std::to_string(GetLastError());
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    run.out = ReadFile(scratch / "stdout");
    if (run.status != -1) run.err = ReadFile(scratch / "stderr");
    return run;
}

// Its output through a named pipe read with overlapped reads, so that a read can wait with a
// deadline.
RunningProgram::RunningProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::filesystem::path& scratch)
    : scratch_(scratch) {
    static LONG pipes = 0;
    std::wstring name = L"\\\\.\\pipe\\tev-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(InterlockedIncrement(&pipes));
    HANDLE read = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 1 << 16, 0, nullptr);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write = CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    std::ofstream(scratch / "stdin", std::ios::binary);
    HANDLE in = Inheritable(scratch / "stdin", false), err = Inheritable(scratch / "stderr", true);
    PROCESS_INFORMATION process{};
    if (read != INVALID_HANDLE_VALUE && write != INVALID_HANDLE_VALUE &&
        StartProgram(program, arguments, in, write, err, process)) {
        CloseHandle(process.hThread);
        process_ = reinterpret_cast<long long>(process.hProcess);
    }
    CloseHandle(in);
    CloseHandle(err);
    if (write != INVALID_HANDLE_VALUE) CloseHandle(write);
    pipe_ = reinterpret_cast<long long>(read);
    event_ = reinterpret_cast<long long>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    closed_ = process_ == -1;
}

bool RunningProgram::ReadSome(long long deadline) {
    if (closed_) return false;
    HANDLE pipe = reinterpret_cast<HANDLE>(pipe_);
    char buffer[4096];
    OVERLAPPED overlapped{};
    overlapped.hEvent = reinterpret_cast<HANDLE>(event_);
    ResetEvent(overlapped.hEvent);
    DWORD read = 0;
    if (!ReadFile(pipe, buffer, sizeof buffer, &read, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return closed_ = true, false;
        long long left = std::max(0LL, deadline - SteadyMilliseconds());
        if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(left)) != WAIT_OBJECT_0) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, &overlapped, &read, TRUE);
            out_.append(buffer, read);
            return false;
        }
        if (!GetOverlappedResult(pipe, &overlapped, &read, FALSE)) return closed_ = true, false;
    }
    out_.append(buffer, read);
    return true;
}

bool RunningProgram::Interrupt() { return false; }

int RunningProgram::Wait(unsigned timeoutSeconds) {
    const long long deadline = SteadyMilliseconds() + 1000LL * timeoutSeconds;
    while (ReadSome(deadline)) {
    }
    if (process_ == -1) return -1;
    HANDLE process = reinterpret_cast<HANDLE>(process_);
    long long left = std::max(0LL, deadline - SteadyMilliseconds());
    DWORD status = 0;
    int result = -1;
    if (WaitForSingleObject(process, static_cast<DWORD>(left)) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
    } else if (GetExitCodeProcess(process, &status)) {
        result = static_cast<int>(status);
    }
    CloseHandle(process);
    process_ = -1;
    return result;
}

void RunningProgram::End() {
    if (process_ != -1) {
        HANDLE process = reinterpret_cast<HANDLE>(process_);
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
        process_ = -1;
    }
    if (pipe_ != -1) CloseHandle(reinterpret_cast<HANDLE>(pipe_));
    if (event_) CloseHandle(reinterpret_cast<HANDLE>(event_));
    pipe_ = -1;
    event_ = 0;
}

RunningProgram::~RunningProgram() { End(); }

bool KillMidWay(int, const std::function<void(const std::function<void()>&)>&) { return false; }

bool RunWithFileSizeLimit(std::int64_t, const std::function<void()>&) { return false; }

#else

void SetEnv(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string& name) { unsetenv(name.c_str()); }

void UseTempDirectory(const std::filesystem::path& dir) {
    SuiteTempDirectory();
    SetEnv("TMPDIR", dir.string());
}

std::filesystem::path ThisProgram() { return std::filesystem::read_symlink("/proc/self/exe"); }

tev::WideString ExpectedConfigPath() {
    std::string path = ThisProgram().string();
    path = path.substr(0, path.rfind('/') + 1) + "ORB/orbconfig.xml";
    return tev::WideString(path.begin(), path.end());  // test programs live at ASCII paths
}

void Rewind(tev::platform::FileHandle file) { lseek(static_cast<int>(file), 0, SEEK_SET); }

LoadedLibrary::LoadedLibrary(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

void LoadedLibrary::Unload() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

bool LoadedLibrary::IsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);  // the reference RTLD_NOLOAD took
    return handle != nullptr;
}

void* LoadedLibrary::Find(const char* gccName, const char*) const {
    return dlsym(handle_, gccName);
}

std::string ReadHeldFile(tev::platform::FileHandle file) {
    std::string bytes;
    char buffer[65536];
    ssize_t read = 0;
    for (off_t at = 0; (read = pread(static_cast<int>(file), buffer, sizeof buffer, at)) > 0;
         at += read)
        bytes.append(buffer, static_cast<size_t>(read));
    return bytes;
}

// A child process takes the lock, says so through a pipe, and keeps it until the other pipe closes.
FileHolder::FileHolder(const std::filesystem::path& path) {
    int locked[2], release[2];
    if (pipe(locked) != 0 || pipe(release) != 0) return;
    pid_t child = fork();
    if (child == 0) {
        close(locked[0]);
        close(release[1]);
        int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
        char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
        if (write(locked[1], &ok, 1) != 1) _exit(1);
        char ignored;
        while (read(release[0], &ignored, 1) > 0) {
        }
        _exit(0);
    }
    close(locked[1]);
    close(release[0]);
    char ok = 0;
    holding_ = child > 0 && read(locked[0], &ok, 1) == 1 && ok == 1;
    close(locked[0]);
    handle_ = child;
    release_ = release[1];
}

FileHolder::~FileHolder() {
    if (release_ >= 0) close(release_);
    if (handle_ > 0) waitpid(static_cast<pid_t>(handle_), nullptr, 0);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& input, const std::filesystem::path& scratch,
                      unsigned timeoutSeconds) {
    std::ofstream(scratch / "stdin", std::ios::binary) << input;
    ProgramRun run;
    pid_t child = fork();
    if (child == 0) {
        int in = open((scratch / "stdin").c_str(), O_RDONLY);
        int out = open((scratch / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        alarm(timeoutSeconds);  // kept across execv: the program is killed by SIGALRM then
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = ReadFile(scratch / "stdout");
    run.err = ReadFile(scratch / "stderr");
    return run;
}

RunningProgram::RunningProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::filesystem::path& scratch)
    : scratch_(scratch) {
    int out[2];
    if (pipe(out) != 0) {
        closed_ = true;
        return;
    }
    pid_t child = fork();
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int err = open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    pipe_ = out[0];
    process_ = child;
    closed_ = child < 0;
}

bool RunningProgram::ReadSome(long long deadline) {
    if (closed_) return false;
    pollfd ready{static_cast<int>(pipe_), POLLIN, 0};
    long long left = std::max(0LL, deadline - SteadyMilliseconds());
    int polled = poll(&ready, 1, static_cast<int>(left));
    if (polled < 0 && errno == EINTR) return true;
    if (polled <= 0) return false;
    char buffer[4096];
    ssize_t read = ::read(static_cast<int>(pipe_), buffer, sizeof buffer);
    if (read <= 0) return closed_ = true, false;
    out_.append(buffer, static_cast<size_t>(read));
    return true;
}

bool RunningProgram::Interrupt() {
    return process_ > 0 && kill(static_cast<pid_t>(process_), SIGINT) == 0;
}

int RunningProgram::Wait(unsigned timeoutSeconds) {
    const long long deadline = SteadyMilliseconds() + 1000LL * timeoutSeconds;
    while (ReadSome(deadline)) {
    }
    if (process_ <= 0) return -1;
    const bool ended = closed_;  // its output closed: it ended before the deadline
    if (!ended) kill(static_cast<pid_t>(process_), SIGKILL);
    int status = 0;
    bool exited =
        waitpid(static_cast<pid_t>(process_), &status, 0) == process_ && ended && WIFEXITED(status);
    process_ = -1;
    return exited ? WEXITSTATUS(status) : -1;
}

void RunningProgram::End() {
    if (process_ > 0) {
        kill(static_cast<pid_t>(process_), SIGKILL);
        waitpid(static_cast<pid_t>(process_), nullptr, 0);
        process_ = -1;
    }
    if (pipe_ >= 0) close(static_cast<int>(pipe_));
    pipe_ = -1;
}

RunningProgram::~RunningProgram() { End(); }

bool KillMidWay(int steps, const std::function<void(const std::function<void()>&)>& work) {
    int progress[2];
    if (pipe(progress) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        close(progress[0]);
        work([&] {
            if (write(progress[1], "", 1) != 1) _exit(1);
        });
        _exit(0);
    }
    close(progress[1]);
    int seen = 0;
    char ignored;
    while (child > 0 && seen < steps && read(progress[0], &ignored, 1) == 1) ++seen;
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    close(progress[0]);
    return seen == steps;
}

bool RunWithFileSizeLimit(std::int64_t limit, const std::function<void()>& work) {
    pid_t child = fork();
    if (child == 0) {
        rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit then stops short instead
        if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(2);
        work();
        _exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

std::string CommandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}
#endif

bool RunningProgram::ReadUntil(const std::string& text, unsigned timeoutSeconds) {
    const long long deadline = SteadyMilliseconds() + 1000LL * timeoutSeconds;
    for (;;) {
        size_t at = out_.find(text, found_);
        if (at != std::string::npos) {
            found_ = at + text.size();
            return true;
        }
        if (!ReadSome(deadline)) return false;
    }
}

std::string RunningProgram::Errors() const { return ReadFile(scratch_ / "stderr"); }

}  // namespace testing_support
