// The library readers against an outside one: over every library of the machine, the names each
// exports as llvm-readobj (Windows) and llvm-readelf (Linux) list them, and each of them found the
// way the loader finds it. Then the same files cut short, and with bytes changed: each is still
// read, within the readers' bounds.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "binaries/binary_image.h"
#include "test_platform.h"

namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The machine's libraries of one kind: the regular files under `folders` whose names end so,
// within the readers' size.
std::vector<std::string> Corpus(const std::vector<std::string>& folders,
                                const std::vector<std::string>& endings) {
    std::vector<std::string> files;
    for (const std::string& folder : folders) {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            std::string name = it->path().filename().string();
            bool kind = std::any_of(endings.begin(), endings.end(), [&](const std::string& end) {
                return name.find(end) != std::string::npos;
            });
            std::error_code ignored;
            if (kind && it->is_regular_file(ignored) && !it->is_symlink(ignored) &&
                it->file_size(ignored) <= tevtool::kLargestBinary)
                files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The names an outside reader lists, file by file, parsed from its output for `files` (read in
// batches): for each "File: " block, the names `line` gives.
template <typename Line>
std::map<std::string, std::set<std::string>> Listed(const std::string& command,
                                                    const std::vector<std::string>& files,
                                                    Line line) {
    std::map<std::string, std::set<std::string>> listed;
    for (std::size_t first = 0; first < files.size(); first += 100) {
        std::string arguments;
        for (std::size_t i = first; i < files.size() && i < first + 100; ++i)
            arguments += " " + Quoted(files[i]);
        std::istringstream out(testing_support::CommandOutput(command + arguments + " 2>/dev/null"));
        std::string text, file;
        while (std::getline(out, text)) {
            if (text.rfind("File: ", 0) == 0) {
                file = text.substr(6);
                listed[file];
            } else if (!file.empty()) {
                line(text, listed[file]);
            }
        }
    }
    return listed;
}

// "  Name: foo" lines of llvm-readobj --coff-exports (an export by ordinal alone has none).
void CoffExport(const std::string& text, std::set<std::string>& names) {
    std::size_t at = text.find("Name: ");
    if (at != std::string::npos && text.find_first_not_of(' ') == at && at + 6 < text.size())
        names.insert(text.substr(at + 6));
}

// llvm-readelf --dyn-syms --wide rows: "Num: Value Size Type Bind Vis Ndx Name", the defined
// global, weak and unique symbols of default or protected visibility, without their version.
void ElfExport(const std::string& text, std::set<std::string>& names) {
    std::istringstream row(text);
    std::string number, value, size, type, bind, visibility, section, name;
    if (!(row >> number >> value >> size >> type >> bind >> visibility >> section >> name) ||
        number.back() != ':' || section == "UND" || (bind != "GLOBAL" && bind != "WEAK" &&
                                                     bind != "UNIQUE"))
        return;
    if (visibility != "DEFAULT" && visibility != "PROTECTED") return;
    names.insert(name.substr(0, name.find('@')));
}

struct Kind {
    const char* name;
    std::vector<std::string> folders, endings;
    const char* command;
    void (*line)(const std::string&, std::set<std::string>&);
};

}  // namespace

// Every library found agrees, name for name; and every name it lists, the loader's way of looking
// finds. The count of files compared is printed.
TEST(BinaryReaders, ListWhatAnOutsideReaderListsOnEveryLibraryOfTheMachine) {
    if (testing_support::CommandOutput("command -v llvm-readobj").empty()) GTEST_SKIP() << "llvm-readobj is missing";
    const Kind kinds[] = {
        {"Windows", {"/usr/lib/i386-linux-gnu/wine", "/usr/lib/x86_64-linux-gnu/wine",
                     "/usr/lib/gcc/i686-w64-mingw32", "/usr/lib/gcc/x86_64-w64-mingw32",
                     "/usr/i686-w64-mingw32", "/usr/x86_64-w64-mingw32", "/usr/share/nsis",
                     TEV_BUILD_FOLDER},
         {".dll", ".DLL"}, "llvm-readobj --coff-exports", CoffExport},
        {"Linux", {"/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", TEV_BUILD_FOLDER},
         {".so"}, "llvm-readelf --dyn-syms --wide", ElfExport},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        std::vector<std::string> files = Corpus(kind.folders, kind.endings);
        std::map<std::string, std::set<std::string>> listed = Listed(kind.command, files, kind.line);
        std::size_t compared = 0, names = 0;
        for (const std::string& file : files) {
            auto outside = listed.find(file);
            if (outside == listed.end()) continue;  // not a library to it (a linker script)
            std::string bytes = testing_support::ReadFile(file);
            std::vector<std::string> wanted(outside->second.begin(), outside->second.end());
            tevtool::BinaryImage image = tevtool::ReadBinaryImage(bytes, wanted);
            if (image.format == tevtool::BinaryFormat::kNone && wanted.empty()) continue;
            ++compared;
            names += wanted.size();
            EXPECT_EQ(image.exports, wanted) << file;
            EXPECT_EQ(image.fault, "") << file;
            for (const tevtool::BinaryImage::Resolution& name : image.resolved)
                EXPECT_TRUE(name.found) << file << ": " << name.name;
        }
        std::printf("%s: %zu libraries, %zu names, each as the outside reader lists them\n",
                    kind.name, compared, names);
        EXPECT_GT(compared, 0u);
    }
}

// The same libraries cut in half are said to be cut short (half a library has lost sections or
// segments of its own, not only what the loader does not read, as a cut by one byte may); with
// bytes changed at random, read within the readers' bounds (the sanitizer builds look for more).
TEST(BinaryReaders, TheMachinesLibrariesCutOrChangedAreReadWithinBounds) {
    std::vector<std::string> files =
        Corpus({"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu",
                TEV_BUILD_FOLDER},
               {".dll", ".so"});
    std::mt19937 random(31);
    std::size_t read = 0;
    for (std::size_t i = 0; i < files.size(); i += 7) {
        std::string bytes = testing_support::ReadFile(files[i]);
        if (tevtool::ReadBinaryImage(bytes).format == tevtool::BinaryFormat::kNone) continue;
        ++read;
        tevtool::BinaryImage half = tevtool::ReadBinaryImage(bytes.substr(0, bytes.size() / 2));
        EXPECT_EQ(half.fault.rfind("cut short: ", 0), 0u) << files[i] << ": " << half.fault;
        std::string changed = bytes;
        for (int flip = 0; flip < 64; ++flip)
            changed[random() % changed.size()] = static_cast<char>(random());
        tevtool::BinaryImage image = tevtool::ReadBinaryImage(changed, {"InitML", "main"});
        std::size_t names = 0;
        for (const std::string& name : image.exports) names += name.size() + 1;
        EXPECT_LE(names, tevtool::kMostNameBytes) << files[i];
    }
    EXPECT_GT(read, 0u);
}

#endif
