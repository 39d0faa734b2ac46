#include "log.h"

#include <bit>
#include <memory>
#include <new>
#include <string>

#include "../decimal.h"
#include "run_state.h"

namespace tev {

const TEVChar kLogFileName[] = TEV_TEXT("Setup_TEV.log");

namespace {

const TEVChar kLineEnd[] = {TEV_TEXT('\r'), TEV_TEXT('\n')};

// Code units are written as they lie in memory, which makes the file UTF-16LE.
static_assert(std::endian::native == std::endian::little);

// "%d/%d/%d; %d:%d:%d; " holds six numbers and eight other characters.
constexpr std::size_t kTimestampCapacity = 6 * kMaxDecimalLength + 8;

// Lines up to this many code units are built on the stack.
constexpr std::size_t kStackLine = 512;

// Writes all of `size` bytes, continuing after short writes; false when a write fails.
bool WriteAll(platform::FileHandle file, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        std::ptrdiff_t written = platform::operations.write(file, next, size);
        if (written <= 0) return false;
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

TEVChar* Put(TEVChar* out, const char* ascii) {
    while (*ascii) *out++ = static_cast<TEVChar>(*ascii++);
    return out;
}

}  // namespace

void OpenLogFile() { runState.logFile = platform::operations.createTempFile(kLogFileName); }

void CloseLog() {
    if (runState.logFile == platform::kNoFile) return;
    platform::operations.close(runState.logFile);
    runState.logFile = platform::kNoFile;
}

std::size_t LogLineCapacity(std::initializer_list<const TEVChar*> strings) {
    std::size_t capacity = kTimestampCapacity;
    for (const TEVChar* text : strings) {
        if (!text) break;
        capacity += std::char_traits<TEVChar>::length(text) + 1;
    }
    return capacity;
}

std::size_t FormatLogLine(TEVChar* out, const platform::CalendarTime& time,
                          std::initializer_list<const TEVChar*> strings) {
    TEVChar* end = out;
    end = Put(WriteDecimal(end, time.month), "/");
    end = Put(WriteDecimal(end, time.day), "/");
    end = Put(WriteDecimal(end, time.year), "; ");
    end = Put(WriteDecimal(end, time.hour), ":");
    end = Put(WriteDecimal(end, time.minute), ":");
    end = Put(WriteDecimal(end, time.second), "; ");
    for (const TEVChar* text : strings) {
        if (!text) break;
        while (*text) *end++ = *text++;
        *end++ = TEV_TEXT(';');
    }
    return static_cast<std::size_t>(end - out);
}

void WriteLog(std::initializer_list<const TEVChar*> strings) {
    if (runState.logFile == platform::kNoFile) return;
    // A failed seek drops the line before the time is even read.
    std::int64_t lineStart = platform::operations.seekToEnd(runState.logFile);
    if (lineStart < 0) return;
    platform::CalendarTime now;
    if (!platform::operations.utcNow(now)) return;

    std::size_t capacity = LogLineCapacity(strings);
    TEVChar onStack[kStackLine];
    std::unique_ptr<TEVChar[]> onHeap;
    TEVChar* line = onStack;
    if (capacity > kStackLine) {
        onHeap.reset(new (std::nothrow) TEVChar[capacity]);
        line = onHeap.get();
        if (!line) return;  // out of memory: the line is dropped, the run goes on
    }
    std::size_t length = FormatLogLine(line, now, strings);
    if (WriteAll(runState.logFile, line, length * sizeof(TEVChar)) &&
        WriteAll(runState.logFile, kLineEnd, sizeof kLineEnd))
        return;
    // A line is written whole or not at all: what reached the file is cut off, and the next line
    // is tried as usual (room may come back). A log that cannot be cut back would end in a torn
    // line with the next one joined to it, so it is written no more.
    if (!platform::operations.truncate(runState.logFile, lineStart)) CloseLog();
}

}  // namespace tev
