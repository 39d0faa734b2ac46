// tev doctor: checks an installer's folder as TEV will see it when the installer loads it from
// there, and says in plain words what stands in the way of its reports.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "KV8Control.h"
#include "analytics/library_statics.h"
#include "binaries/binary_image.h"
#include "tev/commands.h"
#include "tev/files.h"
#include "platform/platform.h"
#include "tev/tool_system.h"
#include "tev/help_texts.h"
#include "printers/escaped_text.h"
#include "vocabulary/log_format.h"
#include "tev_exported_entries.h"

namespace tevtool {
namespace {

constexpr const char* kTevFile = process::kTevLibraryFile;
constexpr const char* kLibraryFile = tev::analytics::kLibraryFile;

// The file the temporary folder is tried with: never the log itself, which a running setup may
// hold.
constexpr TEVChar kProbeFile[] = TEV_TEXT("Setup_TEV.doctor.tmp");

// Each name TEV exports one of TEVUtil's entries under, with the entry's field in the list.
struct EntryName {
    const char* field;
    const char* exported;
};
constexpr EntryName kTevEntries[] = {
#define TEV_ENTRY_NAME(field, exported) {#field, exported},
    TEV_EXPORTED_ENTRIES(TEV_ENTRY_NAME)
#undef TEV_ENTRY_NAME
};

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

// A library's file read, never loaded: its image, or false with why it cannot be read. Nothing but
// a regular file is read (a named pipe would block the reader for ever).
bool ReadImage(const std::filesystem::path& file, BinaryImage& image, std::string& error) {
    std::string bytes;
    std::vector<char> buffer(1 << 16);
    if (!process::ReadFilePieces(
            Utf8Of(file), buffer, kLargestBinary + 1,
            [&](std::string_view piece) { bytes.append(piece); }, error))
        return false;
    if (bytes.size() > kLargestBinary) {
        error =
            "larger than " + std::to_string(kLargestBinary >> 20) + " MB, more than any library";
        return false;
    }
    image = ReadBinaryImage(bytes);
    return true;
}

// ", version 1.0.0.0" from the image's version resource; where libraries carry none, nothing.
std::string VersionOf(const BinaryImage& image) {
    if (image.format != BinaryFormat::kPe) return "";
    if (!image.hasVersion) return ", no version information";
    return image.version.empty() ? "" : ", version " + image.version;
}

// The entries TEV's image does not export under one of their names, named by field.
std::vector<std::string> MissingEntries(const BinaryImage& image) {
    std::vector<std::string> missing;
    for (const EntryName& entry : kTevEntries)
        if (!image.Exports(entry.exported) &&
            std::find(missing.begin(), missing.end(), entry.field) == missing.end())
            missing.push_back(entry.field);
    return missing;
}

std::size_t EntryCount() {
    std::vector<std::string> fields;
    for (const EntryName& entry : kTevEntries)
        if (std::find(fields.begin(), fields.end(), entry.field) == fields.end())
            fields.push_back(entry.field);
    return fields.size();
}

void CheckTev(const std::filesystem::path& folder, Report& report) {
    std::filesystem::path file = folder / kTevFile;
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, error))) {
        // An NSIS installer carries TEV in its plug-ins folder: the folder to check is the one its
        // script's File lines take TEV and the analytics library from.
        report.Problem(std::string(kTevFile) + " is not in " + Utf8Of(folder) + ": put the SDK's " +
                       kTevFile +
                       " there, beside the installer (for an NSIS installer, in the folder "
                       "its script's File takes " +
                       kTevFile + " and " + kLibraryFile + " from: both go to $PLUGINSDIR)");
        return;
    }
    std::string use = ": use the " + std::to_string(process::NativeLibraryKind().bits) + "-bit " +
                      kTevFile + " of the SDK's bin/";
    BinaryImage image;
    std::string unreadable;
    if (!ReadImage(file, image, unreadable)) {
        report.Problem(std::string(kTevFile) + ": " + Utf8Of(file) + " cannot be read (" +
                       unreadable + ")" + use);
        return;
    }
    std::string wrong = Unfit(image, process::NativeLibraryKind());
    if (!wrong.empty()) {
        report.Problem(std::string(kTevFile) + ": " + Utf8Of(file) + ", " + wrong + use);
        return;
    }
    report.Ok(std::string(kTevFile) + ": " + Utf8Of(file) + VersionOf(image) + ", " +
              Describe(image, process::NativeLibraryKind()));
    std::vector<std::string> missing = MissingEntries(image);
    if (missing.empty()) {
        report.Ok(std::string(kTevFile) + " exports each of TEVUtil's " +
                  std::to_string(EntryCount()) +
                  " entries, under each name an installer may call it by");
        return;
    }
    std::string named;
    for (std::size_t i = 0; i < missing.size() && i < 3; ++i) named += (i ? ", " : "") + missing[i];
    report.Problem(std::string(kTevFile) + " does not export " + std::to_string(missing.size()) +
                   " of TEVUtil's " + std::to_string(EntryCount()) + " entries (" + named +
                   (missing.size() > 3 ? ", ..." : "") + "): it is not TEV, or not this SDK's" +
                   use);
}

// Whether the library is the stand-in: its version information or its mark says so.
bool IsStandIn(const BinaryImage& image) {
    std::string_view description = image.description, mark = kv8::kStandInDescription;
    return (description.size() >= mark.size() &&
            description.substr(description.size() - mark.size()) == mark) ||
           image.Exports(kv8::kStandInMarker);
}

void CheckStatics(const BinaryImage& image, Report& report) {
    for (const tev::analytics::StaticName& name : tev::analytics::kLibraryStatics) {
        std::string what = std::string(name.readable) + " (" + name.exported + ")";
        if (image.Exports(name.exported))
            report.Ok("exports " + what);
        else
            report.Problem("does not export " + what +
                           ": TEV cannot call this library and will report nothing; get the "
                           "maker's " +
                           kLibraryFile + " that matches TEV's KV8.h");
    }
}

void CheckLibrary(const std::filesystem::path& tevFolder,
                  const std::filesystem::path& installerFolder, Report& report) {
    tev::platform::Location found = tev::platform::LocateDependency(
        kLibraryFile, {tevFolder.native(), installerFolder.native()});
    if (!found.folders.empty()) {
        std::string folders;
        for (const tev::WideString& folder : found.folders)
            folders += (folders.empty() ? "" : ", ") + tev::ToUtf8(folder);
        report.Ok(std::string(kLibraryFile) + " looked for, as TEV looks for it, in: " + folders);
    }
    for (const tev::platform::SkippedFile& skipped : found.skipped)
        report.Warning(tev::ToUtf8(skipped.file) + " is " + tev::ToUtf8(skipped.reason) +
                       ", not a library: TEV passes it over");
    if (found.file.empty()) {
        report.Problem(std::string(kLibraryFile) +
                       " is in none of these folders: TEV will report nothing; put the maker's " +
                       kLibraryFile + " beside " + kTevFile);
        return;
    }
    // The second folder looked in is the installer's, unless it is TEV's own.
    std::error_code error;
    if (found.folder == 1 && std::filesystem::path(found.folders[1]) == installerFolder &&
        !std::filesystem::equivalent(tevFolder, installerFolder, error))
        report.Warning(std::string(kLibraryFile) + " is beside the installer only, " +
                       tev::ToUtf8(found.file) +
                       ": TEV uses it, but an installer run from a "
                       "Downloads folder can find one planted there; ship " +
                       kLibraryFile + " beside " + kTevFile);
    std::string file = tev::ToUtf8(found.file);
    if (!found.refusal.empty()) {
        report.Problem(std::string(kLibraryFile) + ": " + file + " is " +
                       tev::ToUtf8(found.refusal) +
                       ": TEV refuses to load it, since whoever can change it could run code in "
                       "the installer; let only the installer's user change it");
        return;
    }
    std::string put = "; put the " + std::to_string(process::NativeLibraryKind().bits) + "-bit " +
                      kLibraryFile + " in its place";
    BinaryImage image;
    std::string unreadable;
    if (!ReadImage(std::filesystem::path(found.file), image, unreadable)) {
        report.Problem(std::string(kLibraryFile) + ": " + file + " cannot be read (" + unreadable +
                       ")" + put);
        return;
    }
    std::string wrong = Unfit(image, process::NativeLibraryKind());
    if (!wrong.empty()) {
        report.Problem(std::string(kLibraryFile) + ": " + file + " cannot be loaded: " + wrong +
                       put);
        return;
    }
    report.Ok(std::string(kLibraryFile) + ": " + file + VersionOf(image) + ", " +
              Describe(image, process::NativeLibraryKind()) + ", TEV can load it");
    CheckStatics(image, report);
    if (IsStandIn(image))
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
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::symlink_status(log, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        report.Warning(tev::ToUtf8(log) +
                       " is no file TEV can write its log to (a folder, or another kind of "
                       "file): TEV will report, but without its diagnostic log; remove it");
        return;
    }
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
                    std::string("The installer's own folder, when it is not FOLDER (TEV looks "
                                "there for ") +
                        kLibraryFile + " after FOLDER)");
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
                std::error_code unreadable;
                std::filesystem::directory_iterator listing(tevPath, unreadable);
                if (unreadable) {
                    report.Problem("the folder " + Utf8Of(tevPath) + " cannot be read (" +
                                   unreadable.message() +
                                   "): neither it nor what it holds can be checked; run tev "
                                   "doctor as a user who can read it");
                } else {
                    CheckTev(tevPath, report);
                    CheckLibrary(tevPath, AsFolder(installerFolder), report);
                }
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
