// A Linux image (ELF32 or ELF64, either byte order) from its bytes: the header, the program
// headers' loadable segments, the dynamic symbols it exports, found through the section headers
// or, where a file has none, through its dynamic segment; each name asked for looked up as the
// dynamic loader looks it up, through the dynamic segment's hash table; the libraries it needs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "binaries/binary_image.h"
#include "binaries/byte_view.h"

namespace tevtool {
namespace {

constexpr std::uint64_t kMostSymbols = 1 << 20;
constexpr std::uint64_t kMostTableEntries = 1 << 16;
constexpr std::uint64_t kLongestName = 4096;

constexpr std::uint32_t kSharedObject = 3;        // ET_DYN
constexpr std::uint32_t kLoad = 1, kDynamic = 2;  // PT_*
constexpr std::uint32_t kRunnable = 1;            // PF_X
constexpr std::uint32_t kDynamicSymbols = 11;     // SHT_DYNSYM
constexpr std::uint64_t kNeeded = 1, kHash = 4, kStrings = 5, kSymbols = 6, kStringsSize = 10,
                        kRpath = 15, kRunpath = 29, kGnuHash = 0x6ffffef5,
                        kFlags1 = 0x6ffffffb;                      // DT_*
constexpr std::uint64_t kPositionIndependentProgram = 0x08000000;  // DF_1_PIE
constexpr std::uint64_t kMostNeeded = 1 << 10;

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
    std::uint64_t address, offset, size, memorySize = 0;
    std::uint32_t flags = 0;
};

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// The hash functions of the two hash tables, as the loader computes them.
std::uint32_t GnuHash(std::string_view name) {
    std::uint32_t hash = 5381;
    for (unsigned char c : name) hash = hash * 33 + c;
    return hash;
}
std::uint32_t SysvHash(std::string_view name) {
    std::uint32_t hash = 0;
    for (unsigned char c : name) {
        hash = (hash << 4) + c;
        std::uint32_t high = hash & 0xF0000000;
        if (high) hash ^= high >> 24;
        hash &= ~high;
    }
    return hash;
}

class ElfReader {
public:
    ElfReader(ByteView& view, BinaryImage& image) : view_(view), image_(image) {}

    void Read() {
        image_.format = BinaryFormat::kElf;
        if (!view_.Holds(0, 20)) return Cut("its ELF header ends past the file's end");
        view_.UseBigEndian(view_.Unsigned(5, 1) == 2);
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
        ReadDynamic();
        if (!ReadSectionSymbols() && !image_.fault.empty()) return;
        if (image_.exports.empty() &&
            !ReadSymbols(symbolsAt_, DynamicSymbolCount(), stringsAt_, stringsSize_))
            return;
        for (BinaryImage::Resolution& wanted : image_.resolved) Resolve(wanted);
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
                            Word(at + (wide_ ? 32 : 16)), Word(at + (wide_ ? 40 : 20)),
                            view_.U32(at + (wide_ ? 4 : 24))};
            if (type == kLoad && !view_.Holds(segment.offset, segment.size)) {
                Cut("a loadable segment ends at byte " +
                    std::to_string(segment.offset + segment.size) + ", past the file's end at " +
                    std::to_string(view_.size()));
                return false;
            }
            if (type == kLoad) loads_.push_back(segment);
            if (type == kDynamic) dynamic_ = segment;
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

    // The dynamic segment: where its symbols, names and hash tables are, the libraries it needs,
    // its own folders for them, and whether it is a program (a position-independent one is of the
    // shared object's type, and the loader refuses to load it as a library).
    void ReadDynamic() {
        if (!dynamic_.size) return;
        std::uint64_t entry = wide_ ? 16 : 8, strings = 0, symbols = 0, hash = 0, gnuHash = 0;
        std::uint64_t flags = 0, rpath = 0, runpath = 0;
        bool hasRpath = false, hasRunpath = false;
        std::vector<std::uint64_t> needed;
        std::uint64_t end = dynamic_.offset + std::min(dynamic_.size, kMostTableEntries * entry);
        for (std::uint64_t at = dynamic_.offset; at + entry <= end; at += entry) {
            std::uint64_t tag = Word(at), value = Word(at + entry / 2);
            if (view_.OutOfBounds() || tag == 0) break;
            if (tag == kSymbols) symbols = value;
            if (tag == kStrings) strings = value;
            if (tag == kStringsSize) stringsSize_ = value;
            if (tag == kHash) hash = value;
            if (tag == kGnuHash) gnuHash = value;
            if (tag == kFlags1) flags = value;
            if (tag == kNeeded && needed.size() < kMostNeeded) needed.push_back(value);
            if (tag == kRpath) hasRpath = true, rpath = value;
            if (tag == kRunpath) hasRunpath = true, runpath = value;
        }
        if (flags & kPositionIndependentProgram) image_.library = false;
        if (!Offset(symbols, symbolsAt_) || !Offset(strings, stringsAt_)) return;
        hasTables_ = true;
        hashAt_ = hash && Offset(hash, hashAt_) ? hashAt_ : 0;
        gnuHashAt_ = gnuHash && Offset(gnuHash, gnuHashAt_) ? gnuHashAt_ : 0;
        for (std::uint64_t name : needed) {
            std::string text = DynamicText(name);
            image_.needs.push_back(text.empty() ? "(a library whose name cannot be read)" : text);
        }
        if (hasRunpath || hasRpath) {
            std::string path = DynamicText(hasRunpath ? runpath : rpath);
            for (std::size_t start = 0; start <= path.size();) {
                std::size_t colon = std::min(path.find(':', start), path.size());
                if (colon > start)
                    image_.searchPath.emplace_back(path.substr(start, colon - start));
                start = colon + 1;
            }
        }
    }

    // A text of the dynamic segment's string table.
    std::string DynamicText(std::uint64_t at) {
        if (stringsSize_ && at >= stringsSize_) return {};
        return view_.Text(stringsAt_ + at, stringsSize_ ? stringsAt_ + stringsSize_ : view_.size(),
                          kLongestName);
    }

    // How many dynamic symbols there are, for a file without section headers: the hash table is
    // the only place that says.
    std::uint64_t DynamicSymbolCount() {
        if (!hasTables_) return 0;
        if (hashAt_) return view_.U32(hashAt_ + 4);
        return gnuHashAt_ ? GnuHashSymbolCount(gnuHashAt_) : 0;
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
        NameList list(view_, kMostNameBytes);
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
            if (!list.Add(strings + name, strings + stringsSize, kLongestName, image_.exports)) {
                image_.exports.clear();
                Fault("too strange to judge: its exported names run past " +
                      std::to_string(kMostNameBytes >> 20) + " MB");
                return false;
            }
        }
        return true;
    }

    // Looks a name up as the loader does: through the GNU hash table where there is one (its bloom
    // filter first), else the SysV one; the first symbol of the name that is defined and global or
    // weak is the one found. Then whether it is a function of the library's code others may call.
    void Resolve(BinaryImage::Resolution& wanted) {
        if (!hasTables_) return;
        std::string_view name = wanted.name;
        std::uint64_t entrySize = wide_ ? 24 : 16;
        std::string refused;
        auto consider = [&](std::uint64_t index) {
            std::uint64_t at = symbolsAt_ + index * entrySize;
            if (!view_.Holds(at, entrySize)) return false;
            std::uint32_t nameAt = view_.U32(at);
            if (DynamicText(nameAt) != name) return false;
            auto info = static_cast<std::uint32_t>(view_.Unsigned(at + (wide_ ? 4 : 12), 1));
            auto visibility = view_.Unsigned(at + (wide_ ? 5 : 13), 1) & 3;
            std::uint32_t section = view_.U16(at + (wide_ ? 6 : 14));
            std::uint64_t value = Word(at + (wide_ ? 8 : 4));
            std::uint32_t type = info & 0xF, binding = info >> 4;
            if (section == 0 || (value == 0 && type != 6)) {  // STT_TLS has none
                refused = "it is not defined in the library, which takes it from another";
                return false;
            }
            if (binding != 1 && binding != 2 && binding != 10) return false;  // a local one
            wanted.found = true;
            if (visibility == 1 || visibility == 2)
                wanted.problem = "it is hidden: the library keeps it to itself";
            else if (type == 1)
                wanted.problem = "it is a data object, not a function";
            else if (type != 2 && type != 10)
                wanted.problem = "it is no function (symbol type " + std::to_string(type) + ")";
            else if (!InCode(value))
                wanted.problem = "its address " + Hex(value) + " is outside the library's code";
            return true;
        };
        bool found = gnuHashAt_ ? GnuLookup(name, consider) : hashAt_ && SysvLookup(name, consider);
        if (!found && !refused.empty()) {
            wanted.found = true;
            wanted.problem = refused;
        }
    }

    template <typename Consider>
    bool GnuLookup(std::string_view name, Consider& consider) {
        std::uint64_t table = gnuHashAt_, word = wide_ ? 8 : 4, bits = word * 8;
        std::uint32_t buckets = view_.U32(table), first = view_.U32(table + 4);
        std::uint32_t bloomWords = view_.U32(table + 8), shift = view_.U32(table + 12);
        if (buckets == 0 || bloomWords == 0 || view_.OutOfBounds()) return false;
        std::uint32_t hash = GnuHash(name);
        std::uint64_t bloom = Word(table + 16 + word * ((hash / bits) & (bloomWords - 1)));
        if (!((bloom >> (hash % bits)) & (bloom >> ((hash >> (shift % 32)) % bits)) & 1))
            return false;
        std::uint64_t bucketsAt = table + 16 + word * std::uint64_t{bloomWords};
        std::uint64_t chains = bucketsAt + 4 * std::uint64_t{buckets};
        std::uint64_t index = view_.U32(bucketsAt + 4 * std::uint64_t{hash % buckets});
        if (index == 0) return false;
        // Symbol `index`'s word is at chains + 4 * (index - first): from a bucket below the first
        // hashed symbol the loader reads the words before the chains (the buckets'), as here.
        for (std::uint64_t steps = 0; steps < kMostSymbols; ++steps, ++index) {
            std::uint64_t at = chains + 4 * index;
            if (at < 4 * std::uint64_t{first}) return false;  // before the file's first byte
            std::uint32_t link = view_.U32(at - 4 * std::uint64_t{first});
            if (view_.OutOfBounds()) return false;
            if (((link ^ hash) >> 1) == 0 && consider(index)) return true;
            if (link & 1) return false;
        }
        return false;
    }

    template <typename Consider>
    bool SysvLookup(std::string_view name, Consider& consider) {
        std::uint32_t buckets = view_.U32(hashAt_), chains = view_.U32(hashAt_ + 4);
        if (buckets == 0 || view_.OutOfBounds()) return false;
        std::uint64_t chainsAt = hashAt_ + 8 + 4 * std::uint64_t{buckets};
        std::uint32_t index = view_.U32(hashAt_ + 8 + 4 * std::uint64_t{SysvHash(name) % buckets});
        for (std::uint64_t steps = 0; index != 0 && index < chains && steps < chains; ++steps) {
            if (consider(index)) return true;
            index = view_.U32(chainsAt + 4 * std::uint64_t{index});
            if (view_.OutOfBounds()) return false;
        }
        return false;
    }

    // Whether an address is in a loadable segment the loader maps runnable.
    bool InCode(std::uint64_t address) const {
        for (const Segment& load : loads_)
            if ((load.flags & kRunnable) && address >= load.address &&
                address - load.address < std::max(load.size, load.memorySize))
                return true;
        return false;
    }

    ByteView& view_;
    BinaryImage& image_;
    bool wide_ = false;
    std::vector<Segment> loads_;
    Segment dynamic_{0, 0, 0};
    // From the dynamic segment: the file offsets of its symbols, their names and its hash tables
    // (0 for a table it has not), and whether the first two are there.
    std::uint64_t symbolsAt_ = 0, stringsAt_ = 0, stringsSize_ = 0, hashAt_ = 0, gnuHashAt_ = 0;
    bool hasTables_ = false;
};

}  // namespace

void ReadElf(ByteView& bytes, BinaryImage& image) { ElfReader(bytes, image).Read(); }

}  // namespace tevtool
