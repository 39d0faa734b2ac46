// Any bytes as a diagnostic log: decoded as far as they go, the same records however the bytes are
// cut into pieces (also when records are kept to a few code units), each record rendering as JSON
// and text; a file read as TEV writes it (nothing noted about it) gives back its bytes from its
// records.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "logreader/log_decoder.h"
#include "printers/record_print.h"

namespace {

struct Decoded {
    std::vector<std::string> records;
    std::string rebuilt;
    bool noted = false;
};

Decoded Decode(std::string_view bytes, size_t piece,
               size_t recordLimit = tevtool::LogDecoder::kRecordLimit) {
    Decoded decoded;
    tevtool::LogDecoder decoder(
        [&](const tevtool::LogRecord& record) {
            std::string line;
            tevtool::AppendRecordJson(record, "", line);
            tevtool::AppendRecordText(record, line);
            decoded.records.push_back(line + std::to_string(record.line) + "@" +
                                      std::to_string(record.byte) + record.problem);
            for (TEVChar unit : record.text) {
                decoded.rebuilt += static_cast<char>(unit & 0xFF);
                decoded.rebuilt += static_cast<char>(unit >> 8);
            }
            if (!record.partial) decoded.rebuilt += std::string("\r\0\n\0", 4);
        },
        recordLimit);
    for (size_t at = 0; at < bytes.size(); at += piece) decoder.Feed(bytes.substr(at, piece));
    decoder.Finish();
    decoded.records.push_back(decoder.Problem());
    decoded.noted = !decoder.Notes().empty();
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Decoded whole = Decode(bytes, size ? size : 1);
    Decoded pieces = Decode(bytes, 1 + (size ? data[size / 2] % 13 : 0));
    if (whole.records != pieces.records) std::abort();
    size_t limit = 1 + (size ? data[0] % 40 : 0), piece = 1 + (size ? data[size - 1] % 7 : 0);
    if (Decode(bytes, size ? size : 1, limit).records != Decode(bytes, piece, limit).records)
        std::abort();
    if (!whole.noted && whole.rebuilt != bytes.substr(0, size / 2 * 2)) std::abort();
    return 0;
}
