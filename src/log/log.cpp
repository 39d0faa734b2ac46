#include "log.h"

#include <bit>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "../base/decimal.h"

namespace tev {

namespace {

using Texts = std::span<const TEVChar* const>;

// Code units are written as they lie in memory, which makes the file UTF-16LE.
static_assert(std::endian::native == std::endian::little);

// The timestamp holds six numbers, two separators of each kind, and two part ends.
constexpr std::size_t kTimestampCapacity = 6 * kMaxDecimalLength + 8;
static_assert(sizeof logformat::kStampPartEnd - 1 == 2);

// Lines up to this many code units are built on the stack.
constexpr std::size_t kStackLine = 512;

// Writes all of `size` bytes, continuing after short writes, and adds to `written` what reached
// the file; false when a write fails (one that writes nothing fails too).
bool WriteAll(platform::FileHandle file, const void* bytes, std::size_t size,
              std::size_t& written) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        std::ptrdiff_t part = platform::operations.write(file, next, size);
        if (part <= 0) return false;
        next += part;
        size -= static_cast<std::size_t>(part);
        written += static_cast<std::size_t>(part);
    }
    return true;
}

// What ends a torn line, by its tail: all of it after an odd number of bytes (the last code unit
// completed), the CR LF after an even number, less what of the CR LF reached the file.
constexpr char kTornLineEnd[] = {'\0', '\r', '\0', '\n', '\0'};
static_assert(sizeof kTornLineEnd == sizeof logformat::kLineEnd + 1);

TEVChar* Put(TEVChar* out, const char* ascii) {
    while (*ascii) *out++ = static_cast<TEVChar>(*ascii++);
    return out;
}

TEVChar* PutNumber(TEVChar* out, int value, TEVChar after) {
    out = WriteDecimal(out, value);
    *out++ = after;
    return out;
}

// The strings up to the first null pointer.
Texts UpToNull(Texts texts) {
    std::size_t count = 0;
    while (count < texts.size() && texts[count]) ++count;
    return texts.first(count);
}

std::size_t FieldCapacity(const TEVChar* text) {
    return std::char_traits<TEVChar>::length(text) + 1;
}

TEVChar* PutStamp(TEVChar* out, const platform::CalendarTime& time) {
    using namespace logformat;
    out = PutNumber(out, time.month, kDateSeparator);
    out = PutNumber(out, time.day, kDateSeparator);
    out = Put(WriteDecimal(out, time.year), kStampPartEnd);
    out = PutNumber(out, time.hour, kTimeSeparator);
    out = PutNumber(out, time.minute, kTimeSeparator);
    return Put(WriteDecimal(out, time.second), kStampPartEnd);
}

TEVChar* PutField(TEVChar* out, const TEVChar* text) {
    while (*text) *out++ = *text++;
    *out++ = logformat::kFieldEnd;
    return out;
}

}  // namespace

void Log::Open() {
    if (file_ == platform::kNoFile)
        file_ = platform::operations.createTempFile(logformat::kFileName);
}

void Log::Close() {
    if (file_ == platform::kNoFile) return;
    platform::operations.close(file_);
    file_ = platform::kNoFile;
    tornEnd_ = 0;
}

bool Log::EndTornLine() {
    if (tornEnd_ == 0) return true;
    if (platform::operations.truncate(file_, tornFrom_)) {
        tornEnd_ = 0;
        return true;
    }
    // Still there: it is ended where it stops, so that the next line is one of its own. Failing
    // that too, it stays torn, and is tried again before the next line.
    if (platform::operations.seekToEnd(file_) < 0) return false;
    std::size_t written = 0;
    bool ended = WriteAll(file_, kTornLineEnd + sizeof kTornLineEnd - tornEnd_, tornEnd_, written);
    tornEnd_ -= written;
    return ended;
}

std::size_t LogLineCapacity(const TEVChar* token, std::initializer_list<const TEVChar*> texts) {
    std::size_t capacity = kTimestampCapacity + FieldCapacity(token);
    for (const TEVChar* text : UpToNull(texts)) capacity += FieldCapacity(text);
    return capacity;
}

std::size_t FormatLogLine(TEVChar* out, const platform::CalendarTime& time, const TEVChar* token,
                          std::initializer_list<const TEVChar*> texts) {
    TEVChar* end = PutField(PutStamp(out, time), token);
    for (const TEVChar* text : UpToNull(texts)) end = PutField(end, text);
    return static_cast<std::size_t>(end - out);
}

void Log::Write(logformat::Token token, std::initializer_list<const TEVChar*> texts) {
    if (file_ == platform::kNoFile || !EndTornLine()) return;
    // A failed seek drops the line before the time is even read.
    std::int64_t lineStart = platform::operations.seekToEnd(file_);
    if (lineStart < 0) return;
    platform::CalendarTime now;
    if (!platform::operations.utcNow(now)) return;

    const TEVChar* tokenText = logformat::TokenText(token);
    std::size_t capacity = LogLineCapacity(tokenText, texts);
    TEVChar onStack[kStackLine];
    std::unique_ptr<TEVChar[]> onHeap;
    TEVChar* line = onStack;
    if (capacity > kStackLine) {
        onHeap.reset(new (std::nothrow) TEVChar[capacity]);
        line = onHeap.get();
        if (!line) return;  // out of memory: the line is dropped, the run goes on
    }
    std::size_t length = FormatLogLine(line, now, tokenText, texts) * sizeof(TEVChar);
    std::size_t written = 0;
    if (WriteAll(file_, line, length, written) &&
        WriteAll(file_, logformat::kLineEnd, sizeof logformat::kLineEnd, written))
        return;
    // A line is written whole or not at all: what reached the file is cut off, and the next line
    // is tried as usual (room may come back). When it cannot be cut off, the next line tries again
    // first, and failing that ends it, rather than join itself to it.
    if (written == 0 || platform::operations.truncate(file_, lineStart)) return;
    tornFrom_ = lineStart;
    tornEnd_ = written < length ? sizeof logformat::kLineEnd + written % 2
                                : length + sizeof logformat::kLineEnd - written;
}

}  // namespace tev
