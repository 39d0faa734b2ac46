// tev doctor: checks an installer's folder as TEV will see it when the installer loads it from
// there, and says in plain words what stands in the way of its reports.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <string>

#include "KV8Control.h"
#include "analytics/library_statics.h"
#include "binaries/binary_header.h"
#include "tev/commands.h"
#include "tev/files.h"
#include "platform/platform.h"
#include "tev/tool_system.h"
#include "tev/help_texts.h"
#include "printers/shown.h"
#include "vocabulary/log_format.h"

namespace tevtool {
namespace {

#ifdef _WIN32
constexpr char kTevFile[] = "TEV.dll";
#else
constexpr char kTevFile[] = "libtev.so";
#endif
constexpr const char* kLibraryFile = tev::analytics::kLibraryFile;

// The file the temporary folder is tried with: never the log itself, which a running setup may
// hold.
constexpr TEVChar kProbeFile[] = TEV_TEXT("Setup_TEV.doctor.tmp");

// One line per check; the problems counted for the verdict.
class Report {
public:
    void Ok(const std::string& text) { Line("ok", text); }
    void Warning(const std::string& text) { Line("warning", text); }
    void Problem(const std::string& text) {
        Line("PROBLEM", text);
        ++problems_;
    }
    int Problems() const { return problems_; }

private:
    static void Line(const std::string& label, const std::string& text) {
        std::cout << label << std::string(9 - label.size(), ' ') << text << '\n';
    }
    int problems_ = 0;
};

// A folder as the platform's search takes it: absolute, ending with a separator.
std::filesystem::path AsFolder(const std::string& utf8) {
    return (std::filesystem::absolute(PathOf(utf8)).lexically_normal() / "");
}

// ", version 1.0.0.0" from the file's version information; where libraries carry none, says so.
std::string VersionOf(const std::filesystem::path& file) {
    process::VersionInfo info;
    if (!process::ReadVersionInfo(Utf8Of(file), info)) return ", no version information";
    return info.version.empty() ? "" : ", version " + info.version;
}

// A library of the wrong kind for the installers beside this tool: what to say of it, or empty.
std::string WrongKind(const BinaryHeader& header) {
    if (header.format == NativeLibraryFormat() && header.bits == kNativeBits) return "";
    if (header.format == NativeLibraryFormat() && header.bits)
        return "it is " + std::to_string(header.bits) + "-bit, and a " +
               std::to_string(kNativeBits) + "-bit installer cannot load it";
    return "it is " + Describe(header);
}

void CheckTev(const std::filesystem::path& folder, Report& report) {
    std::filesystem::path file = folder / kTevFile;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        // An NSIS installer carries TEV in its plug-ins folder: the folder to check is the one its
        // script's File lines take TEV and the analytics library from.
        report.Problem(std::string(kTevFile) + " is not in " + Utf8Of(folder) + ": put the SDK's " +
                       kTevFile +
                       " there, beside the installer (for an NSIS installer, in the folder "
                       "its script's File takes " +
                       kTevFile + " and " + kLibraryFile + " from: both go to $PLUGINSDIR)");
        return;
    }
    BinaryHeader header = ReadBinaryHeader(file);
    std::string wrong = WrongKind(header);
    if (!wrong.empty()) {
        report.Problem(std::string(kTevFile) + ": " + Utf8Of(file) + ", " + wrong + ": use the " +
                       std::to_string(kNativeBits) + "-bit " + kTevFile + " of the SDK's bin/");
        return;
    }
    report.Ok(std::string(kTevFile) + ": " + Utf8Of(file) + VersionOf(file) + ", " +
              Describe(header));
}

// Whether the library loaded is the stand-in: its version information or its mark says so.
bool IsStandIn(const std::filesystem::path& file, void* library) {
    process::VersionInfo info;
    return (process::ReadVersionInfo(Utf8Of(file), info) &&
            info.description.find(kv8::kStandInDescription) != std::string::npos) ||
           tev::platform::operations.findFunction(library, kv8::kStandInMarker);
}

void CheckStatics(void* library, Report& report) {
    for (const tev::analytics::StaticName& name : tev::analytics::kLibraryStatics) {
        std::string what = std::string(name.readable) + " (" + name.exported + ")";
        if (tev::platform::operations.findFunction(library, name.exported))
            report.Ok("exports " + what);
        else
            report.Problem("does not export " + what +
                           ": TEV cannot call this library and will report nothing; get the "
                           "maker's " +
                           kLibraryFile + " that matches TEV's KV8.h");
    }
}

void CheckLibrary(const std::filesystem::path& tevFolder, Report& report) {
    tev::platform::Dependency found =
        tev::platform::operations.loadDependency(kLibraryFile, {tevFolder.native()});
    if (!found.folders.empty()) {
        std::string folders;
        for (const tev::WideString& folder : found.folders)
            folders += (folders.empty() ? "" : ", ") + tev::ToUtf8(folder);
        report.Ok(std::string(kLibraryFile) + " looked for, as TEV looks for it, in: " + folders);
    }
    if (found.file.empty()) {
        report.Problem(std::string(kLibraryFile) +
                       " is in none of these folders: TEV will report nothing; put the maker's " +
                       kLibraryFile + " beside " + kTevFile);
        return;
    }
    std::filesystem::path file(found.file);
    BinaryHeader header = ReadBinaryHeader(file);
    if (!found.library) {
        std::string wrong = WrongKind(header);
        report.Problem(std::string(kLibraryFile) + ": " + tev::ToUtf8(found.file) +
                       " cannot be loaded (" + tev::ToUtf8(found.failure) + ")" +
                       (wrong.empty() ? ": check that it is whole and that what it needs is there"
                                      : ": " + wrong + "; put the " + std::to_string(kNativeBits) +
                                            "-bit " + kLibraryFile + " in its place"));
        return;
    }
    report.Ok(std::string(kLibraryFile) + ": " + tev::ToUtf8(found.file) + VersionOf(file) + ", " +
              Describe(header) + ", loads");
    CheckStatics(found.library, report);
    if (IsStandIn(file, found.library))
        report.Problem(std::string(kLibraryFile) +
                       " is the stand-in for TEV's tests, not the maker's analytics library: it "
                       "must not ship; put the maker's " +
                       kLibraryFile + " in its place");
}

// The temporary folder as TEV finds it, and whether TEV can create its log there.
void CheckTemporaryFolder(Report& report) {
    tev::WideString log = tev::platform::TempFilePath(tev::logformat::kFileName);
    if (log.empty()) {
        report.Warning(
            "there is no usable temporary folder: TEV will report, but without its "
            "diagnostic log; set TMP and TEMP to a folder of the user's");
        return;
    }
    std::filesystem::path folder = std::filesystem::path(log).parent_path();
    tev::platform::FileHandle probe = tev::platform::operations.createTempFile(kProbeFile);
    if (probe == tev::platform::kNoFile) {
        report.Warning("the temporary folder " + Utf8Of(folder) +
                       " takes no new file: TEV will report, but without its diagnostic log; "
                       "set TMP and TEMP (TMPDIR on Linux) to a folder the user can write in");
        return;
    }
    tev::platform::operations.close(probe);
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(tev::platform::TempFilePath(kProbeFile)),
                            ignored);
    report.Ok("the diagnostic log, when asked for, goes to " + tev::ToUtf8(log));
}

}  // namespace

Command AddDoctorCommand(CLI::App& tev) {
    CLI::App* app = tev.add_subcommand(
        "doctor", "Check an installer's folder: will TEV find and call the analytics library?");
    auto folder = std::make_shared<std::string>();
    auto hostFolder = std::make_shared<std::string>();
    app->add_option("FOLDER", *folder,
                    std::string("The folder the installer loads ") + kTevFile +
                        " from (default: the folder tev is in)");
    app->add_option("--installer-folder", *hostFolder,
                    "The installer's own folder, when it is not FOLDER");
    app->footer(std::string("\n") + resource::kDoctorHelp);
    return {app, [folder, hostFolder] {
                std::string tevFolder =
                    folder->empty() ? tev::ToUtf8(tev::platform::operations.executableDirectory())
                                    : *folder;
                std::string installerFolder = hostFolder->empty() ? tevFolder : *hostFolder;
                for (const std::string* given : {&tevFolder, &installerFolder}) {
                    std::error_code error;
                    if (!std::filesystem::is_directory(PathOf(*given), error)) {
                        std::cerr << "tev doctor: " << *given << " is not a folder\n";
                        return kUsageError;
                    }
                }
                std::filesystem::path tevPath = AsFolder(tevFolder);
                std::cout << "Checking " << Utf8Of(tevPath) << " as TEV will see it there.\n";
                Report report;
                CheckTev(tevPath, report);
                CheckLibrary(tevPath, report);
                CheckTemporaryFolder(report);
                if (report.Problems() == 0) {
                    std::cout << "TEV will report to the analytics library from this folder.\n";
                    return 0;
                }
                std::cout << "Not ready: TEV will not report to the maker's analytics library: "
                          << report.Problems()
                          << (report.Problems() == 1 ? " problem.\n" : " problems.\n");
                return kFailure;
            }};
}

}  // namespace tevtool
