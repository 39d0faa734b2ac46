// tev doctor: checks an installer's folder as TEV will see it when the installer loads it from
// there, and says in plain words what stands in the way of its reports.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "KV8Control.h"
#include "kv8_client/kv8_statics.h"
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
constexpr const char* kLibraryFile = tev::kv8_client::kLibraryFile;

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

// A path, or a name from a file, as shown: nothing in it can move the cursor or start a line.
std::string Shown(const std::filesystem::path& path) { return ShownUtf8(Utf8Of(path)); }

// A library's file read, never loaded: its image, with each of `wanted` looked up as the loader
// looks it up, or false with why it cannot be read. Nothing but a regular file is read (a named
// pipe would block the reader for ever), and only the pieces the readers ask for, so that any file
// costs a few MB.
bool ReadImage(const std::filesystem::path& file, BinaryImage& image, std::string& error,
               const std::vector<std::string>& wanted) {
    process::FileBytes bytes;
    if (!bytes.Open(Utf8Of(file), error)) return false;
    if (bytes.Size() > kLargestBinary) {
        error = "larger than " + std::to_string(kLargestBinary >> 30) +
                " GB, more than any library an installer ships";
        return false;
    }
    image = ReadBinaryImage(bytes, wanted);
    error = bytes.Error();
    return error.empty();
}

// ", version 1.0.0.0" from the image's version resource; where libraries carry none, nothing.
std::string VersionOf(const BinaryImage& image) {
    if (image.format != BinaryFormat::kPe) return "";
    if (!image.hasVersion) return ", no version information";
    return image.version.empty() ? "" : ", version " + image.version;
}

// The names TEV exports its entries under, which the doctor asks the loader's way.
std::vector<std::string> TevNames() {
    std::vector<std::string> names;
    for (const EntryName& entry : kTevEntries) names.push_back(entry.exported);
    return names;
}

// The entries TEV's image does not export under one of their names where the loader finds them,
// named by field.
std::vector<std::string> MissingEntries(const BinaryImage& image) {
    std::vector<std::string> missing;
    for (const EntryName& entry : kTevEntries) {
        const BinaryImage::Resolution* found = image.Resolved(entry.exported);
        if ((!found || !found->found) &&
            std::find(missing.begin(), missing.end(), entry.field) == missing.end())
            missing.push_back(entry.field);
    }
    return missing;
}

// The names TEV exports that the loader finds but that lead elsewhere than TEV's own code (a
// forwarder to another library, data): "InitML (name): why".
std::vector<std::string> MisledEntries(const BinaryImage& image) {
    std::vector<std::string> misled;
    for (const EntryName& entry : kTevEntries) {
        const BinaryImage::Resolution* found = image.Resolved(entry.exported);
        if (found && found->found && !found->problem.empty())
            misled.push_back(std::string(entry.field) + " (" + ShownUtf8(entry.exported) +
                             "): " + ShownUtf8(found->problem));
    }
    return misled;
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
        report.Problem(std::string(kTevFile) + " is not in " + Shown(folder) + ": put the SDK's " +
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
    if (!ReadImage(file, image, unreadable, TevNames())) {
        report.Problem(std::string(kTevFile) + ": " + Shown(file) + " cannot be read (" +
                       unreadable + ")" + use);
        return;
    }
    std::string wrong = Unfit(image, process::NativeLibraryKind());
    if (!wrong.empty()) {
        report.Problem(std::string(kTevFile) + ": " + Shown(file) + ", " + ShownUtf8(wrong) + use);
        return;
    }
    report.Ok(std::string(kTevFile) + ": " + Shown(file) + VersionOf(image) + ", " +
              Describe(image, process::NativeLibraryKind()));
    std::vector<std::string> missing = MissingEntries(image);
    std::vector<std::string> misled = MisledEntries(image);
    if (!misled.empty()) {
        report.Problem(std::string(kTevFile) + ": " + std::to_string(misled.size()) +
                       " of the names an installer calls lead the loader elsewhere than TEV's own "
                       "code, first " +
                       misled[0] + ": it is not TEV, or not this SDK's" + use);
    }
    if (missing.empty() && misled.empty()) {
        report.Ok(std::string(kTevFile) + " exports each of TEVUtil's " +
                  std::to_string(EntryCount()) +
                  " entries, under each name an installer may call it by");
        return;
    }
    if (missing.empty()) return;
    std::string named;
    for (std::size_t i = 0; i < missing.size() && i < 3; ++i) named += (i ? ", " : "") + missing[i];
    report.Problem(std::string(kTevFile) + " does not export " + std::to_string(missing.size()) +
                   " of TEVUtil's " + std::to_string(EntryCount()) + " entries (" + named +
                   (missing.size() > 3 ? ", ..." : "") + "): it is not TEV, or not this SDK's" +
                   use);
}

// What shows the library to be the stand-in: the name it exports as its mark, which no edit of
// its description takes away, or its description saying it is not for distribution, in whatever
// letter case; empty when neither does.
std::string StandInMark(const BinaryImage& image) {
    if (image.Exports(kv8::kStandInMarker)) return std::string("it exports ") + kv8::kStandInMarker;
    std::string description;
    for (char c : image.description)
        description += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (description.find(kv8::kStandInDescription) != std::string::npos)
        return "its description says \"" + ShownUtf8(image.description) + "\"";
    return "";
}

// The statics the analytics library must export for TEV to call it.
std::vector<std::string> StaticNames() {
    std::vector<std::string> names;
    for (const tev::kv8_client::StaticName& name : tev::kv8_client::kLibraryStatics)
        names.push_back(name.exported);
    return names;
}

void CheckStatics(const BinaryImage& image, Report& report) {
    for (const tev::kv8_client::StaticName& name : tev::kv8_client::kLibraryStatics) {
        std::string what = std::string(name.readable) + " (" + name.exported + ")";
        const BinaryImage::Resolution* found = image.Resolved(name.exported);
        if (found && found->found && found->problem.empty())
            report.Ok("exports " + what);
        else if (found && found->found)
            report.Problem("exports " + what + ", but " + ShownUtf8(found->problem) +
                           ": TEV's call would fail or crash the installer; get the maker's " +
                           kLibraryFile + " that matches TEV's KV8.h");
        else
            report.Problem("does not export " + what +
                           (image.Exports(name.exported)
                                ? " where the loader looks for it (its name is listed, but the "
                                  "library's lookup table does not lead to it)"
                                : "") +
                           ": TEV cannot call this library and will report nothing; get the "
                           "maker's " +
                           kLibraryFile + " that matches TEV's KV8.h");
    }
}

// The folders the loader looks in for the libraries `image` (the file `library`) needs, each once:
// its RUNPATH (or RPATH), on Windows its own folder and the installer's, then the system's.
std::vector<std::filesystem::path> NeededFolders(const BinaryImage& image,
                                                 const std::filesystem::path& library,
                                                 const std::filesystem::path& installerFolder) {
    std::filesystem::path own = library.parent_path();
    std::vector<std::filesystem::path> folders;
    for (const std::string& entry : image.searchPath) {
        std::string folder = entry;
        for (const char* origin : {"${ORIGIN}", "$ORIGIN"})
            for (std::size_t at; (at = folder.find(origin)) != std::string::npos;)
                folder.replace(at, std::string_view(origin).size(), Utf8Of(own));
        folders.push_back(PathOf(folder));
    }
    if (image.format == BinaryFormat::kPe) {
        folders.push_back(own);
        folders.push_back(installerFolder);
    }
    for (const std::string& folder : process::SystemLibraryFolders())
        folders.push_back(PathOf(folder));
    std::vector<std::filesystem::path> distinct;
    for (const std::filesystem::path& folder : folders) {
        std::filesystem::path normal = (folder / "").lexically_normal();
        if (std::find(distinct.begin(), distinct.end(), normal) == distinct.end())
            distinct.push_back(normal);
    }
    return distinct;
}

// Why a library's file is of no kind the installer can load, from its first bytes ("it is
// 64-bit, and..."); empty when it is of the right one.
std::string UnfitKind(const std::filesystem::path& file) {
    std::string head(4096, '\0');
    std::ifstream in(file, std::ios::binary);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    BinaryImage image = ReadBinaryImage(head);
    image.fault.clear();  // the rest of the file is not read here
    image.library = true;
    return Unfit(image, process::NativeLibraryKind());
}

// Where the loader finds a library that another needs: on Windows the first file of its name (one
// of the wrong kind fails the load, with error 193); on Linux the first of the right kind (the
// loader passes over the others). `unfit` says why the file found cannot serve; empty file: none.
struct NeededFile {
    std::filesystem::path file;
    std::string unfit;
};
NeededFile FindNeeded(const std::string& name, const std::vector<std::filesystem::path>& folders,
                      bool windows) {
    std::vector<std::filesystem::path> candidates;
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos)
        candidates.push_back(PathOf(name));  // a path of its own: taken as it is
    else
        for (const std::filesystem::path& folder : folders)
            candidates.push_back(folder / PathOf(name));
    for (const std::filesystem::path& file : candidates) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error)) continue;
        std::string unfit = UnfitKind(file);
        if (unfit.empty() || windows) return {file, unfit};
    }
    return {};
}

// Each library the analytics library needs, and each that those it ships need in turn, looked for
// where the loader would look: one missing or of the wrong kind fails the load (on Windows with
// error 126 or 193), and TEV reports nothing. The system's own are not followed further.
void CheckNeeds(const BinaryImage& image, const std::filesystem::path& library,
                const std::filesystem::path& installerFolder, Report& report) {
    constexpr std::size_t kMostFollowed = 32;
    bool windows = image.format == BinaryFormat::kPe;
    std::vector<std::string> system = process::SystemLibraryFolders(), seen, missing, unfit;
    std::vector<std::filesystem::path> lookedIn;
    std::vector<std::pair<BinaryImage, std::filesystem::path>> queue{{image, library}};
    for (std::size_t next = 0; next < queue.size() && next < kMostFollowed; ++next) {
        auto [needer, file] = queue[next];
        std::vector<std::filesystem::path> folders = NeededFolders(needer, file, installerFolder);
        if (next == 0) lookedIn = folders;
        std::string by = next == 0 ? "" : " (which " + Shown(file.filename()) + " needs)";
        for (const std::string& name : needer.needs) {
            std::string key;
            for (char c : name) key += windows && c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
            if (process::ProvidedBySystem(name) ||
                std::find(seen.begin(), seen.end(), key) != seen.end())
                continue;
            seen.push_back(key);
            NeededFile found = FindNeeded(name, folders, windows);
            if (found.file.empty()) {
                missing.push_back(ShownUtf8(name) + by);
                continue;
            }
            if (!found.unfit.empty()) {
                unfit.push_back(Shown(found.file) + by + ": " + ShownUtf8(found.unfit));
                continue;
            }
            std::string folder = Utf8Of((found.file.parent_path() / "").lexically_normal());
            bool ofTheSystem = std::any_of(system.begin(), system.end(), [&](const std::string& s) {
                return Utf8Of((PathOf(s) / "").lexically_normal()) == folder;
            });
            BinaryImage shipped;
            std::string unreadable;
            if (!ofTheSystem && ReadImage(found.file, shipped, unreadable, {}))
                queue.emplace_back(shipped, found.file);
        }
    }
    if (image.needs.empty()) return;
    if (missing.empty() && unfit.empty()) {
        report.Ok(std::string(kLibraryFile) + " needs " + std::to_string(seen.size()) +
                  (seen.size() == 1 ? " library" : " libraries") +
                  ", each found where the loader looks");
        return;
    }
    for (const std::string& wrong : unfit)
        report.Problem(std::string(kLibraryFile) + " needs " + wrong + ": loading it fails" +
                       (windows ? " (error 193)" : "") + " and TEV reports nothing; ship the " +
                       std::to_string(process::NativeLibraryKind().bits) + "-bit one");
    if (missing.empty()) return;
    std::string named, where;
    for (const std::string& name : missing) named += (named.empty() ? "" : ", ") + name;
    for (const std::filesystem::path& folder : lookedIn)
        where += (where.empty() ? "" : ", ") + Shown(folder);
    std::string them = missing.size() == 1 ? "it" : "them";
    report.Problem(
        std::string(kLibraryFile) + " needs " + named + ", which " +
        (missing.size() == 1 ? "is" : "are") + " in none of " + where + ": loading it fails" +
        (windows ? " (error 126)" : "") + " and TEV reports nothing; " +
        (windows
             ? "ship " + them + " beside " + kLibraryFile +
                   " (a compiler's runtime, such as VCRUNTIME140.dll or MSVCP140.dll, from "
                   "its maker's redistributable), or get a " +
                   kLibraryFile + " built without it"
             : "install " + them + " on the machine, or ship " + them + " beside " + kLibraryFile +
                   " and get a " + kLibraryFile + " whose RUNPATH leads there ($ORIGIN)"));
}

void CheckLibrary(const std::filesystem::path& tevFolder,
                  const std::filesystem::path& installerFolder, Report& report) {
    tev::platform::Location found = tev::platform::LocateDependency(
        kLibraryFile, {tevFolder.native(), installerFolder.native()});
    if (!found.folders.empty()) {
        std::string folders;
        for (const tev::WideString& folder : found.folders)
            folders += (folders.empty() ? "" : ", ") + ShownText(folder);
        report.Ok(std::string(kLibraryFile) + " looked for, as TEV looks for it, in: " + folders);
    }
    for (const tev::platform::SkippedFile& skipped : found.skipped)
        report.Warning(ShownText(skipped.file) + " is " + tev::ToUtf8(skipped.reason) +
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
                       ShownText(found.file) +
                       ": TEV uses it, but an installer run from a "
                       "Downloads folder can find one planted there; ship " +
                       kLibraryFile + " beside " + kTevFile);
    std::string file = ShownText(found.file);
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
    if (!ReadImage(std::filesystem::path(found.file), image, unreadable, StaticNames())) {
        report.Problem(std::string(kLibraryFile) + ": " + file + " cannot be read (" + unreadable +
                       ")" + put);
        return;
    }
    std::string wrong = Unfit(image, process::NativeLibraryKind());
    if (!wrong.empty()) {
        report.Problem(std::string(kLibraryFile) + ": " + file +
                       " cannot be loaded: " + ShownUtf8(wrong) + put);
        return;
    }
    report.Ok(std::string(kLibraryFile) + ": " + file + VersionOf(image) + ", " +
              Describe(image, process::NativeLibraryKind()) + ", TEV can load it");
    CheckStatics(image, report);
    CheckNeeds(image, std::filesystem::path(found.file), installerFolder, report);
    std::string mark = StandInMark(image);
    if (!mark.empty())
        report.Problem(std::string(kLibraryFile) + " is the stand-in for TEV's tests (" + mark +
                       "), not the maker's analytics library: it must not ship; put the maker's " +
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
        report.Warning(ShownText(log) +
                       " is no file TEV can write its log to (a folder, or another kind of "
                       "file): TEV will report, but without its diagnostic log; remove it");
        return;
    }
    tev::platform::FileHandle probe = tev::platform::operations.createTempFile(kProbeFile);
    if (probe == tev::platform::kNoFile) {
        report.Warning("the temporary folder " + Shown(folder) +
                       " takes no new file: TEV will report, but without its diagnostic log; "
                       "set TMP and TEMP (TMPDIR on Linux) to a folder the user can write in");
        return;
    }
    tev::platform::operations.close(probe);
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(tev::platform::TempFilePath(kProbeFile)),
                            ignored);
    report.Ok("the diagnostic log, when asked for, goes to " + ShownText(log));
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
                        if (!std::filesystem::exists(PathOf(*given), error))
                            std::cerr << "tev: " << ShownUtf8(*given) << ": "
                                      << process::kNoSuchPath << '\n';
                        else
                            std::cerr << "tev doctor: " << ShownUtf8(*given)
                                      << " is not a folder\n";
                        return kUsageError;
                    }
                }
                std::filesystem::path tevPath = AsFolder(tevFolder);
                std::cout << "Checking " << Shown(tevPath) << " as TEV will see it there.\n";
                Report report;
                std::error_code unreadable;
                std::filesystem::directory_iterator listing(tevPath, unreadable);
                if (unreadable) {
                    report.Problem("the folder " + Shown(tevPath) + " cannot be read (" +
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
