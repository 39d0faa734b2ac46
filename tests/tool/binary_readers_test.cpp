// The library readers against outside ones, on every library of the machine: the names each
// exports and the libraries it needs as llvm-readobj (Windows) and llvm-readelf (Linux) list them,
// each found the way the loader looks for it; the same without section headers; cut to its headers,
// cut short; with bytes changed, read within bounds.
#include <gtest/gtest.h>

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
