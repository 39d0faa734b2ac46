// What the suites share: a fresh temporary directory and a fresh stand-in for every test, and
// readers for the trace, the deliveries and the diagnostic log.
#ifndef TEV_TESTS_SUPPORT_H
#define TEV_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "KV8Control.h"
#include "TEVUtil.h"
#include "test_platform.h"

#define T(literal) TEV_TEXT(literal)

using tev::WideString;

namespace testing_support {

// WideString as UTF-8, for readable assertions (unpaired surrogates shown as \uXXXX).
std::string Utf8(const WideString& text);

// The UTF-16LE code units of a log's bytes (a last odd byte is left out).
WideString Utf16Units(const std::string& bytes);

// A line of the diagnostic log without its timestamp, e.g. "SETUP;a.setup;0;".
std::string Fields(const std::string& line);

// The id the stand-in gives the next object, after the objects of these trace lines.
int NextId(const std::vector<std::string>& trace);

// Trace lines with each object id written as its distance from `first` ("id":7 as "id":#2 when
// `first` is 5), so that they do not depend on how many objects were made before.
std::vector<std::string> RelativeIds(const std::vector<std::string>& trace, int first);

// Makes `path` a file holding exactly `bytes`.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testing_support

// Every test runs with TMPDIR set to a new, empty directory of its own, and a reset stand-in; a
// run left active is shut down before the next test.
class TevTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path LogPath() const { return logDir_ / "Setup_TEV.log"; }
    bool LogExists() const { return std::filesystem::exists(LogPath()); }
    std::string LogBytes() const;
    // The log decoded to UTF-8 lines (without CR LF), timestamps kept.
    std::vector<std::string> LogLines() const;
    // The log's lines without timestamps.
    std::vector<std::string> LogFields() const;

    // The trace lines since the last call (or since the test began).
    std::vector<std::string> NewTrace() { return kv8::TakeTrace(); }
    // Trace lines since the last call, keeping only those whose "op" is one of `ops`.
    std::vector<std::string> NewTraceOf(std::initializer_list<const char*> ops);

    // What was handed over, one line each: call, waypoint, then "state{name=value,...}" pieces.
    std::vector<std::string> Delivered() const;
    std::string DeliveredLast() const;

    void ExpectCleanLedger() const;

    std::filesystem::path tempDir_;
    std::filesystem::path
        logDir_;  // where the log is looked for: tempDir_ unless a test says otherwise
};

#endif
