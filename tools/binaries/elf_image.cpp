// A Linux image (ELF32 or ELF64, either byte order) from its bytes: the header, the program
// headers' loadable segments, and the dynamic symbols it exports, found through the section
// headers or, where a file has none, through its dynamic segment.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "binaries/binary_image.h"
#include "binaries/byte_view.h"

namespace tevtool {
namespace {

constexpr std::uint64_t kMostSymbols = 1 << 20;
constexpr std::uint64_t kMostTableEntries = 1 << 16;
constexpr std::uint64_t kLongestName = 4096;

constexpr std::uint32_t kSharedObject = 3;                          // ET_DYN
constexpr std::uint32_t kLoad = 1, kDynamic = 2, kInterpreter = 3;  // PT_*
constexpr std::uint32_t kDynamicSymbols = 11;                       // SHT_DYNSYM
constexpr std::uint64_t kHash = 4, kStrings = 5, kSymbols = 6, kStringsSize = 10,
                        kGnuHash = 0x6ffffef5;  // DT_*

std::string Machine(std::uint32_t code) {
    switch (code) {
    case 2: return "SPARC";
    case 3: return "x86";
    case 8: return "MIPS";
    case 20: return "PowerPC";
    case 21: return "PowerPC64";
    case 22: return "S/390";
    case 40: return "ARM";
    case 43: return "SPARC V9";
    case 62: return "x86-64";
    case 183: return "ARM64";
    case 243: return "RISC-V";
    default: return "machine " + std::to_string(code);
    }
}

struct Segment {
    std::uint64_t address, offset, size;
};

class ElfReader {
public:
    ElfReader(std::string_view bytes, BinaryImage& image)
        : view_(bytes, bytes.size() > 5 && bytes[5] == 2), image_(image) {}

    void Read() {
        image_.format = BinaryFormat::kElf;
        if (!view_.Holds(0, 20)) return Cut("its ELF header ends past the file's end");
        auto kind = static_cast<std::uint32_t>(view_.Unsigned(4, 1));
        image_.bits = kind == 1 ? 32 : kind == 2 ? 64 : 0;
        image_.machine = Machine(view_.U16(18));
        std::uint32_t order = static_cast<std::uint32_t>(view_.Unsigned(5, 1));
        if (!image_.bits || (order != 1 && order != 2))
            return Fault("of no known kind (ELF class " + std::to_string(kind) + ", byte order " +
                         std::to_string(order) + ")");
        wide_ = image_.bits == 64;
        if (!view_.Holds(0, wide_ ? 64 : 52)) return Cut("its ELF header ends past the file's end");
        image_.library = view_.U16(16) == kSharedObject;
        if (!ReadSegments()) return;
        if (!ReadSectionSymbols() && !image_.fault.empty()) return;
        if (image_.exports.empty()) ReadDynamicSymbols();
    }

private:
    void Fault(const std::string& fault) { image_.fault = fault; }
    void Cut(const std::string& where) { Fault("cut short: " + where); }
    std::uint64_t Word(std::uint64_t at) { return wide_ ? view_.U64(at) : view_.U32(at); }

    // Whether `count` entries of `entrySize` (at least `least`) from `offset` are in the file.
    bool Table(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize,
               std::uint64_t least) {
        return entrySize >= least && count <= kMostTableEntries &&
               view_.Holds(offset, count * entrySize);
    }

    bool ReadSegments() {
        std::uint64_t table = Word(wide_ ? 32 : 28);
        std::uint64_t entrySize = view_.U16(wide_ ? 54 : 42), count = view_.U16(wide_ ? 56 : 44);
        if (count == 0) {
            Fault("without loadable segments");
            return false;
        }
        if (!Table(table, count, entrySize, wide_ ? 56 : 32)) {
            Cut("its program headers end past the file's end");
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t at = table + i * entrySize;
            std::uint32_t type = view_.U32(at);
            Segment segment{Word(at + (wide_ ? 16 : 8)), Word(at + (wide_ ? 8 : 4)),
                            Word(at + (wide_ ? 32 : 16))};
            if (type == kLoad && !view_.Holds(segment.offset, segment.size)) {
                Cut("a loadable segment ends at byte " +
                    std::to_string(segment.offset + segment.size) + ", past the file's end at " +
                    std::to_string(view_.size()));
                return false;
            }
            if (type == kLoad) loads_.push_back(segment);
            if (type == kDynamic) dynamic_ = segment;
            if (type == kInterpreter) image_.library = false;  // a program, position-independent
        }
        if (loads_.empty()) Fault("without loadable segments");
        return loads_.size() > 0;
    }

    // The dynamic symbols through the section headers; false when there are none to read.
    bool ReadSectionSymbols() {
        std::uint64_t table = Word(wide_ ? 40 : 32);
        std::uint64_t entrySize = view_.U16(wide_ ? 58 : 46), count = view_.U16(wide_ ? 60 : 48);
        if (table == 0 || count == 0) return false;
        if (!Table(table, count, entrySize, wide_ ? 64 : 40)) {
            Cut("its section headers end past the file's end");
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t at = table + i * entrySize;
            if (view_.U32(at + 4) != kDynamicSymbols) continue;
            std::uint32_t link = view_.U32(at + (wide_ ? 40 : 24));
            if (link >= count) return false;
            std::uint64_t strings = table + link * entrySize;
            std::uint64_t symbolEntry = Word(at + (wide_ ? 56 : 36));
            return ReadSymbols(Word(at + (wide_ ? 24 : 16)),
                               symbolEntry ? Word(at + (wide_ ? 32 : 20)) / symbolEntry : 0,
                               Word(strings + (wide_ ? 24 : 16)),
                               Word(strings + (wide_ ? 32 : 20)));
        }
        return false;
    }

    // The file offset of an address of the loaded image; false when no segment holds it.
    bool Offset(std::uint64_t address, std::uint64_t& offset) const {
        for (const Segment& load : loads_)
            if (address >= load.address && address - load.address < load.size) {
                offset = load.offset + (address - load.address);
                return true;
            }
        return false;
    }

    // The dynamic symbols through the dynamic segment, for a file without section headers: the
    // symbol table's length from the hash table, the only place it is given.
    void ReadDynamicSymbols() {
        if (!dynamic_.size) return;
        std::uint64_t entry = wide_ ? 16 : 8;
        std::uint64_t symbols = 0, strings = 0, stringsSize = 0, hash = 0, gnuHash = 0;
        for (std::uint64_t at = dynamic_.offset;
             at + entry <= dynamic_.offset + std::min(dynamic_.size, kMostTableEntries * entry);
             at += entry) {
            std::uint64_t tag = Word(at), value = Word(at + entry / 2);
            if (view_.OutOfBounds() || tag == 0) break;
            if (tag == kSymbols) symbols = value;
            if (tag == kStrings) strings = value;
            if (tag == kStringsSize) stringsSize = value;
            if (tag == kHash) hash = value;
            if (tag == kGnuHash) gnuHash = value;
        }
        std::uint64_t symbolsAt = 0, stringsAt = 0, hashAt = 0, count = 0;
        if (!Offset(symbols, symbolsAt) || !Offset(strings, stringsAt)) return;
        if (hash && Offset(hash, hashAt))
            count = view_.U32(hashAt + 4);
        else if (gnuHash && Offset(gnuHash, hashAt))
            count = GnuHashSymbolCount(hashAt);
        ReadSymbols(symbolsAt, count, stringsAt, stringsSize);
    }

    // One past the highest symbol a GNU hash table reaches: the end of the chain of its highest
    // bucket.
    std::uint64_t GnuHashSymbolCount(std::uint64_t table) {
        std::uint64_t buckets = view_.U32(table), first = view_.U32(table + 4);
        std::uint64_t bucketsAt = table + 16 + view_.U32(table + 8) * (wide_ ? 8 : 4);
        if (buckets > kMostSymbols) return 0;
        std::uint64_t last = 0;
        for (std::uint64_t i = 0; i < buckets && !view_.OutOfBounds(); ++i)
            last = std::max<std::uint64_t>(last, view_.U32(bucketsAt + 4 * i));
        if (last < first) return first;
        std::uint64_t chains = bucketsAt + 4 * buckets;
        while (last < kMostSymbols && !view_.OutOfBounds() &&
               !(view_.U32(chains + 4 * (last - first)) & 1))
            ++last;
        return view_.OutOfBounds() ? 0 : last + 1;
    }

    // The symbols a library gives others: defined, global, weak or unique, and visible.
    bool ReadSymbols(std::uint64_t table, std::uint64_t count, std::uint64_t strings,
                     std::uint64_t stringsSize) {
        std::uint64_t entrySize = wide_ ? 24 : 16;
        count = std::min(count, kMostSymbols);
        if (!view_.Holds(table, count * entrySize) || !view_.Holds(strings, stringsSize)) {
            Cut("its dynamic symbols end past the file's end");
            return false;
        }
        for (std::uint64_t i = 1; i < count; ++i) {
            std::uint64_t at = table + i * entrySize;
            std::uint32_t name = view_.U32(at);
            auto binding =
                static_cast<std::uint32_t>(view_.Unsigned(at + (wide_ ? 4 : 12), 1)) >> 4;
            auto visibility = view_.Unsigned(at + (wide_ ? 5 : 13), 1) & 3;
            std::uint32_t section = view_.U16(at + (wide_ ? 6 : 14));
            bool exported = section != 0 && (binding == 1 || binding == 2 || binding == 10) &&
                            (visibility == 0 || visibility == 3);
            if (!exported || name >= stringsSize) continue;
            std::string text = view_.Text(strings + name, strings + stringsSize, kLongestName);
            if (!text.empty()) image_.exports.push_back(text);
        }
        return true;
    }

    ByteView view_;
    BinaryImage& image_;
    bool wide_ = false;
    std::vector<Segment> loads_;
    Segment dynamic_{0, 0, 0};
};

}  // namespace

void ReadElf(std::string_view bytes, BinaryImage& image) { ElfReader(bytes, image).Read(); }

}  // namespace tevtool
