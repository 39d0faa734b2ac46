// Any bytes as a diagnostic log: decoded as far as they go. What is decoded must give back the
// bytes it came from, and every line must parse and render.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "log_decoder.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    tevtool::DecodedLog log = tevtool::DecodeLog(bytes);
    std::string again;
    for (size_t i = 0; i < log.lines.size(); ++i) {
        for (TEVChar unit : log.lines[i]) {
            again += static_cast<char>(unit & 0xFF);
            again += static_cast<char>(unit >> 8);
        }
        bool last = i + 1 == log.lines.size();
        if (!last || log.problem.find("CR LF") == std::string::npos) again += std::string("\r\0\n\0", 4);
        tevtool::LogEntryJson(tevtool::ParseLogLine(log.lines[i]));
        tevtool::ToUtf8(log.lines[i]);
    }
    // Whole logs come back byte for byte; cut ones up to their missing half unit at most.
    if (again != bytes.substr(0, again.size()) || bytes.size() - again.size() > 1) std::abort();
    bool whole = bytes.size() % 2 == 0 &&
                 (bytes.empty() || bytes.substr(bytes.size() - std::min<size_t>(4, bytes.size())) == std::string_view("\r\0\n\0", 4));
    if (log.problem.empty() != whole) std::abort();
    return 0;
}
