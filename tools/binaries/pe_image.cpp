// A Windows image (PE32 or PE32+) from its bytes: the headers, the section table, the export
// table's names, each name asked for looked up as the Windows loader looks it up, the libraries it
// imports, and the version resource.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/text.h"
#include "binaries/binary_image.h"
#include "binaries/byte_view.h"

namespace tevtool {
namespace {

// Caps on what is read of the tables: far beyond what any library has.
constexpr std::uint32_t kMostExports = 1 << 16;
constexpr std::uint64_t kLongestName = 4096;
constexpr std::uint32_t kMostResourceEntries = 1 << 12;
constexpr std::uint32_t kLargestVersionResource = 1 << 16;

constexpr std::uint32_t kPeSignature = 0x4550;  // "PE\0\0"
constexpr std::uint32_t kDll = 0x2000;          // IMAGE_FILE_DLL
constexpr int kExportDirectory = 0;
constexpr int kImportDirectory = 1;
constexpr int kResourceDirectory = 2;
constexpr std::uint32_t kMostImports = 1 << 12;
constexpr std::uint32_t kExecutable = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
constexpr std::uint32_t kVersionResource = 16;     // RT_VERSION
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kSubdirectory = 0x80000000;

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Machine(std::uint32_t code) {
    switch (code) {
    case 0x14C: return "x86";
    case 0x8664: return "x86-64";
    case 0xAA64: return "ARM64";
    case 0x1C0:
    case 0x1C4: return "ARM";
    case 0x200: return "Itanium";
    default: return "machine " + Hex(code);
    }
}

struct Section {
    std::uint32_t address, rawSize, rawOffset, virtualSize, characteristics;
    std::string name;
    // The bytes it spans once loaded: its virtual size, or where that is 0 its size in the file.
    std::uint64_t Span() const { return virtualSize ? virtualSize : rawSize; }
};

class PeReader {
public:
    PeReader(ByteView& view, BinaryImage& image) : view_(view), image_(image) {}

    void Read() {
        image_.format = BinaryFormat::kPe;
        std::uint64_t pe = view_.U32(0x3C);
        if (view_.OutOfBounds() || !view_.Holds(pe, 24))
            return Cut("its PE header is past the file's end");
        if (view_.U32(pe) != kPeSignature) {
            image_.format = BinaryFormat::kNone;  // a DOS program
            return;
        }
        image_.machine = Machine(view_.U16(pe + 4));
        std::uint32_t sectionCount = view_.U16(pe + 6);
        std::uint64_t optionalSize = view_.U16(pe + 20);
        image_.library = (view_.U16(pe + 22) & kDll) != 0;
        std::uint64_t optional = pe + 24;
        std::uint32_t magic = view_.U16(optional);
        image_.bits = magic == 0x10B ? 32 : magic == 0x20B ? 64 : 0;
        if (!view_.Holds(optional, optionalSize) || optionalSize < 2)
            return Cut("its optional header is past the file's end");
        if (!image_.bits)
            return Fault("of no known kind (optional header magic " + Hex(magic) + ")");
        std::uint64_t fixedPart = image_.bits == 64 ? 112 : 96;
        if (optionalSize < fixedPart)
            return Fault("of no known kind (an optional header of " + std::to_string(optionalSize) +
                         " bytes, where a PE" + (image_.bits == 64 ? "32+" : "32") + " one has " +
                         std::to_string(fixedPart) + " and more)");
        std::string_view machine = image_.machine;
        int width = machine == "x86" || machine == "ARM"        ? 32
                    : machine == "x86-64" || machine == "ARM64" ? 64
                                                                : image_.bits;
        if (width != image_.bits)
            return Fault("of no known kind (a " + std::to_string(image_.bits) +
                         "-bit optional header for " + image_.machine + ")");
        optionalEnd_ = optional + optionalSize;
        directoryCount_ = view_.U32(optional + (image_.bits == 64 ? 108 : 92));
        directories_ = optional + (image_.bits == 64 ? 112 : 96);
        headersSize_ = view_.U32(optional + 60);
        if (sectionCount == 0) return Fault("without sections");
        std::uint64_t table = optionalEnd_;
        if (!view_.Holds(table, std::uint64_t{sectionCount} * 40))
            return Cut("its table of " + std::to_string(sectionCount) +
                       " sections ends past the file's end");
        for (std::uint32_t i = 0; i < sectionCount; ++i) {
            std::uint64_t at = table + std::uint64_t{i} * 40;
            Section section{view_.U32(at + 12), view_.U32(at + 16), view_.U32(at + 20),
                            view_.U32(at + 8),  view_.U32(at + 36), view_.Padded(at, 8)};
            if (section.rawSize && !view_.Holds(section.rawOffset, section.rawSize))
                return Cut("section " + std::to_string(i + 1) + " ends at byte " +
                           std::to_string(std::uint64_t{section.rawOffset} + section.rawSize) +
                           ", past the file's end at " + std::to_string(view_.size()));
            sections_.push_back(section);
        }
        ReadExports();
        ReadImports();
        ReadVersion();
    }

private:
    void Fault(const std::string& fault) { image_.fault = fault; }
    void Cut(const std::string& where) { Fault("cut short: " + where); }

    // The file offset of an address of the loaded image, and how many bytes from there are in the
    // file; false when the file holds none.
    bool Offset(std::uint64_t address, std::uint64_t& offset, std::uint64_t& available) const {
        if (address < headersSize_ && address < view_.size()) {
            offset = address;
            available = std::min<std::uint64_t>(headersSize_, view_.size()) - address;
            return true;
        }
        for (const Section& section : sections_)
            if (address >= section.address && address - section.address < section.rawSize) {
                offset = section.rawOffset + (address - section.address);
                available = section.rawSize - (address - section.address);
                return true;
            }
        return false;
    }

    // A data directory's place in the file, and its addresses in the image; false when the image
    // has none.
    bool Directory(int index, std::uint64_t& offset, std::uint64_t& available,
                   std::uint32_t* address = nullptr, std::uint32_t* size = nullptr) {
        std::uint64_t entry = directories_ + 8 * static_cast<std::uint64_t>(index);
        if (static_cast<std::uint32_t>(index) >= directoryCount_ || entry + 8 > optionalEnd_)
            return false;
        std::uint32_t start = view_.U32(entry), length = view_.U32(entry + 4);
        if (address) *address = start;
        if (size) *size = length;
        return start && length && Offset(start, offset, available);
    }

    // A table of `count` entries of `width` bytes at an address of the image: its file offset, and
    // how many entries of it the file holds.
    std::uint64_t Table(std::uint32_t address, std::uint64_t count, std::uint64_t width,
                        std::uint64_t& offset) const {
        std::uint64_t available = 0;
        if (!address || !Offset(address, offset, available)) return 0;
        return std::min(count, available / width);
    }

    // The name the `index`th entry of the names table points at; empty when none is there.
    std::string NameAt(std::uint64_t index) {
        std::uint64_t at = 0, available = 0;
        std::uint32_t address = view_.U32(names_ + 4 * index);
        if (!address || !Offset(address, at, available)) return {};
        return view_.Text(at, at + available, kLongestName);
    }

    void ReadExports() {
        std::uint64_t table = 0, available = 0;
        std::uint32_t start = 0, size = 0;
        if (!Directory(kExportDirectory, table, available, &start, &size) || available < 40) return;
        std::uint32_t functionCount = view_.U32(table + 20);
        nameCount_ =
            Table(view_.U32(table + 32), std::min(view_.U32(table + 24), kMostExports), 4, names_);
        NameList list(view_, kMostNameBytes);
        for (std::uint64_t i = 0; i < nameCount_; ++i) {
            std::uint64_t name = 0, nameAvailable = 0;
            std::uint32_t address = view_.U32(names_ + 4 * i);
            if (!address || !Offset(address, name, nameAvailable)) continue;
            if (!list.Add(name, name + nameAvailable, kLongestName, image_.exports)) {
                image_.exports.clear();
                return Fault("too strange to judge: its exported names run past " +
                             std::to_string(kMostNameBytes >> 20) + " MB");
            }
        }
        std::uint64_t ordinals = 0, functions = 0;
        std::uint64_t ordinalCount = Table(view_.U32(table + 36), nameCount_, 2, ordinals);
        std::uint64_t functionsHeld = Table(view_.U32(table + 28), functionCount, 4, functions);
        for (BinaryImage::Resolution& wanted : image_.resolved) {
            std::uint64_t index = 0;
            if (!Find(wanted.name, index) || index >= ordinalCount) continue;
            wanted.found = true;
            std::uint32_t ordinal = view_.U16(ordinals + 2 * index);
            if (ordinal >= functionCount || ordinal >= functionsHeld) {
                wanted.problem = "its ordinal " + std::to_string(ordinal) +
                                 " is past the export address table's " +
                                 std::to_string(functionCount) + " entries";
                continue;
            }
            wanted.problem = Target(view_.U32(functions + 4 * std::uint64_t{ordinal}), start, size);
        }
    }

    // The names table searched as the loader searches it, by halves: it takes the names to be
    // sorted, so a name listed out of order is not found.
    bool Find(std::string_view name, std::uint64_t& index) {
        std::uint64_t low = 0, high = nameCount_;
        while (low < high) {
            std::uint64_t middle = low + (high - low) / 2;
            int order = NameAt(middle).compare(name);
            if (order == 0) {
                index = middle;
                return true;
            }
            if (order < 0)
                low = middle + 1;
            else
                high = middle;
        }
        return false;
    }

    // Why an export's address is no function of the library's own: a forwarder (an address inside
    // the export table, holding "DLL.name"), or an address outside its code; empty when it is code.
    std::string Target(std::uint32_t address, std::uint32_t exportStart, std::uint32_t exportSize) {
        if (address == 0) return "it has no address";
        if (address >= exportStart && address - exportStart < exportSize) {
            std::uint64_t at = 0, available = 0;
            std::string forward;
            if (Offset(address, at, available))
                forward = view_.Text(at, at + available, kLongestName);
            return "it is forwarded to " +
                   (forward.empty() ? "an unreadable name" : "\"" + forward + "\"") +
                   ", not the library's own";
        }
        for (const Section& section : sections_)
            if (address >= section.address && address - section.address < section.Span()) {
                if (section.characteristics & kExecutable) return "";
                return "its address " + Hex(address) + " is in the library's data (section " +
                       (section.name.empty() ? "without a name" : "\"" + section.name + "\"") +
                       "), not its code";
            }
        return "its address " + Hex(address) + " is outside the library";
    }

    // The libraries the import table names, up to its empty entry.
    void ReadImports() {
        std::uint64_t table = 0, available = 0;
        if (!Directory(kImportDirectory, table, available)) return;
        std::uint64_t count = std::min<std::uint64_t>(available / 20, kMostImports);
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t entry = table + 20 * i;
            std::uint32_t name = view_.U32(entry + 12), thunks = view_.U32(entry + 16);
            if (name == 0 || thunks == 0) break;
            std::uint64_t at = 0, nameAvailable = 0;
            std::string text;
            if (Offset(name, at, nameAvailable))
                text = view_.Text(at, at + nameAvailable, kLongestName);
            image_.needs.push_back(text.empty() ? "(a library whose name cannot be read)" : text);
        }
    }

    // The first entry of a resource directory with `id` (any entry when `id` is 0): the offset
    // in the resource data it points at, subdirectory bit included; false when there is none.
    bool ResourceEntry(std::uint64_t base, std::uint64_t directory, std::uint32_t id,
                       std::uint32_t& target) {
        std::uint32_t count =
            std::min(view_.U16(base + directory + 12) + view_.U16(base + directory + 14),
                     kMostResourceEntries);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint64_t entry = base + directory + 16 + 8 * std::uint64_t{i};
            std::uint32_t name = view_.U32(entry);
            if (view_.OutOfBounds()) return false;
            if (id == 0 || name == id) {
                target = view_.U32(entry + 4);
                return !view_.OutOfBounds();
            }
        }
        return false;
    }

    // The version resource: type RT_VERSION, its first name, its first language's data.
    void ReadVersion() {
        std::uint64_t base = 0, available = 0;
        if (!Directory(kResourceDirectory, base, available)) return;
        std::uint32_t target = 0;
        std::uint64_t directory = 0;
        for (std::uint32_t id : {kVersionResource, 0u}) {  // the type, then its first name
            if (!ResourceEntry(base, directory, id, target) || !(target & kSubdirectory)) return;
            directory = target & ~kSubdirectory;
        }
        // The last level's entry holds the data's place: IMAGE_RESOURCE_DATA_ENTRY.
        if (!ResourceEntry(base, directory, 0, target) || (target & kSubdirectory)) return;
        std::uint64_t data = 0, dataAvailable = 0;
        std::uint32_t size = view_.U32(base + target + 4);
        if (view_.OutOfBounds() || !Offset(view_.U32(base + target), data, dataAvailable)) return;
        ReadVersionInfo(data, std::min<std::uint64_t>(
                                  {size, dataAvailable, std::uint64_t{kLargestVersionResource}}));
    }

    // One block of VS_VERSIONINFO: a length, the value's length, a type, a key, a value and the
    // blocks it holds, each on a 4-byte boundary.
    struct Block {
        std::uint64_t value = 0, children = 0, end = 0;
        std::u16string key;
    };
    static std::uint64_t Align(std::uint64_t at) { return (at + 3) & ~std::uint64_t{3}; }

    bool ReadBlock(std::uint64_t at, std::uint64_t limit, Block& block) {
        std::uint64_t length = view_.U16(at);
        if (view_.OutOfBounds() || length < 6 || length > limit - at) return false;
        block.end = at + length;
        std::uint64_t valueLength = view_.U16(at + 2);
        bool text = view_.U16(at + 4) == 1;
        block.key.clear();
        std::uint64_t key = at + 6;
        for (; key + 2 <= block.end; key += 2) {
            char16_t unit = static_cast<char16_t>(view_.U16(key));
            if (unit == 0) break;
            block.key.push_back(unit);
        }
        block.value = Align(key + 2);
        block.children = std::min(Align(block.value + valueLength * (text ? 2 : 1)), block.end);
        return true;
    }

    // The text of a String block's value, up to its NUL or the block's end.
    std::string BlockText(const Block& block) {
        tev::WideString text;
        for (std::uint64_t at = block.value; at + 2 <= block.end; at += 2) {
            auto unit = static_cast<TEVChar>(view_.U16(at));
            if (unit == 0) break;
            text.push_back(unit);
        }
        return tev::ToUtf8(text);
    }

    void ReadVersionInfo(std::uint64_t start, std::uint64_t size) {
        Block root;
        if (!ReadBlock(start, start + size, root) || root.key != u"VS_VERSION_INFO") return;
        image_.hasVersion = true;
        if (view_.U32(root.value) == kFixedInfoSignature && root.value + 52 <= root.end) {
            std::uint32_t high = view_.U32(root.value + 8), low = view_.U32(root.value + 12);
            image_.version = std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) +
                             "." + std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF);
        }
        // StringFileInfo, then its first table (the first language), then its FileDescription.
        Block block;
        std::uint64_t at = root.children, end = root.end;
        for (const char16_t* key : {u"StringFileInfo", u"", u"FileDescription"}) {
            bool found = false;
            while (!found && at < end && ReadBlock(at, end, block)) {
                found = *key == 0 || block.key == key;
                at = Align(block.end);
            }
            if (!found) return;
            at = block.children;
            end = block.end;
        }
        image_.description = BlockText(block);
    }

    ByteView& view_;
    BinaryImage& image_;
    std::vector<Section> sections_;
    std::uint64_t optionalEnd_ = 0, directories_ = 0, headersSize_ = 0;
    std::uint32_t directoryCount_ = 0;
    std::uint64_t names_ = 0, nameCount_ = 0;  // the export names table: its offset, its entries
};

}  // namespace

void ReadPe(ByteView& bytes, BinaryImage& image) { PeReader(bytes, image).Read(); }

}  // namespace tevtool
