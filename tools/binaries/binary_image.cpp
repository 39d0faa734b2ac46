#include "binaries/binary_image.h"

#include <algorithm>

#include "binaries/byte_view.h"

namespace tevtool {

bool BinaryImage::Exports(std::string_view name) const {
    return std::binary_search(exports.begin(), exports.end(), name);
}

const BinaryImage::Resolution* BinaryImage::Resolved(std::string_view name) const {
    for (const Resolution& resolution : resolved)
        if (resolution.name == name) return &resolution;
    return nullptr;
}

BinaryImage ReadBinaryImage(ByteSource& bytes, const std::vector<std::string>& wanted) {
    BinaryImage image;
    for (const std::string& name : wanted) image.resolved.push_back({name, false, ""});
    ByteView view(bytes);
    std::string magic = view.Padded(0, std::min<std::uint64_t>(view.size(), 4));
    if (magic.rfind("MZ", 0) == 0)
        ReadPe(view, image);
    else if (magic ==
             "\x7f"
             "ELF")
        ReadElf(view, image);
    std::sort(image.exports.begin(), image.exports.end());
    image.exports.erase(std::unique(image.exports.begin(), image.exports.end()),
                        image.exports.end());
    return image;
}

BinaryImage ReadBinaryImage(std::string_view bytes, const std::vector<std::string>& wanted) {
    MemoryBytes source(bytes);
    return ReadBinaryImage(source, wanted);
}

std::string Describe(const BinaryImage& image, const LibraryKind& native) {
    if (image.format == BinaryFormat::kNone) return "not a library";
    std::string text = image.bits ? std::to_string(image.bits) + "-bit " : "";
    text += image.machine.empty() ? "of no known processor" : image.machine;
    if (image.format != native.format)
        text += image.format == BinaryFormat::kPe ? " Windows library" : " Linux library";
    return text;
}

std::string Unfit(const BinaryImage& image, const LibraryKind& native) {
    std::string installer = std::to_string(native.bits) + "-bit installer cannot load it";
    if (image.format == BinaryFormat::kNone) return "it is not a library";
    if (image.format != native.format) return "it is " + Describe(image, native);
    if (image.bits && image.bits != native.bits)
        return "it is " + std::to_string(image.bits) + "-bit, and a " + installer;
    if (!image.fault.empty()) return "it is " + image.fault;
    if (native.machine && image.machine != native.machine)
        return "it is for " + image.machine + ", and an " + native.machine + " installer " +
               "cannot load it";
    if (!image.library) return "it is a program, not a library";
    return "";
}

}  // namespace tevtool
