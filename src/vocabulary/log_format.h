// What the diagnostic log "Setup_TEV.log" holds, for the system that writes it and for the tool
// that reads it back: UTF-16LE lines, no byte-order mark, each a UTC timestamp, a token, the
// call's texts, every string followed by ";", and CR LF. Texts are written as they are, unescaped.
#ifndef TEV_VOCABULARY_LOG_FORMAT_H
#define TEV_VOCABULARY_LOG_FORMAT_H

#include <cstddef>

#include "TEVText.h"

namespace tev::logformat {

// The log's name in the temporary directory.
inline constexpr TEVChar kFileName[] = TEV_TEXT("Setup_TEV.log");

// The timestamp "%d/%d/%d; %d:%d:%d; ": month, day, year, hour, minute, second, each as "%d"
// writes it.
inline constexpr TEVChar kDateSeparator = TEV_TEXT('/');
inline constexpr TEVChar kTimeSeparator = TEV_TEXT(':');
inline constexpr char kStampPartEnd[] = "; ";  // after the date and after the time
// Every string of a line, the token included, is followed by this.
inline constexpr TEVChar kFieldEnd = TEV_TEXT(';');
inline constexpr TEVChar kLineEnd[] = {TEV_TEXT('\r'), TEV_TEXT('\n')};

// Each kind of line the system writes.
enum class Token {
    InitML,
    LibraryUnavailable,
    FailToInitialize,
    ShutdownML,
    CommitSetupWaypoint,
    CommitProducts,
    OnCrash,
    DownloadMilestone,
    Warning,
    DownloadBegin,
    DownloadPause,
    DownloadResume,
    DownloadEnd,
    DownloadCancel,
    InstallBegin,
    InstallEnd,
    InstallCancel,
    InstallError,
    DownloadError,
    SetupAttribute,
    ProductData,
};

struct TokenShape {
    Token kind;
    const TEVChar* text;
    int strings;  // how many strings its line holds, the token included
};

// In the order of Token.
inline constexpr TokenShape kTokens[] = {
    {Token::InitML, TEV_TEXT("InitML"), 1},
    // The analytics library missing, not loadable or incomplete: its file, and what is wrong.
    {Token::LibraryUnavailable, TEV_TEXT("KV8 unavailable"), 3},
    {Token::FailToInitialize, TEV_TEXT("Fail to initialize KV8"), 1},
    {Token::ShutdownML, TEV_TEXT("ShutdownML"), 1},
    {Token::CommitSetupWaypoint, TEV_TEXT("CommitSetupWaypoint"), 1},
    {Token::CommitProducts, TEV_TEXT("CommitProducts()"), 1},
    {Token::OnCrash, TEV_TEXT("OnCrash"), 1},
    {Token::DownloadMilestone, TEV_TEXT("wpDownloadSP"), 1},
    {Token::Warning, TEV_TEXT("wpWarning"), 2},
    {Token::DownloadBegin, TEV_TEXT("DownloadBegin"), 2},
    {Token::DownloadPause, TEV_TEXT("DownloadPause"), 2},
    {Token::DownloadResume, TEV_TEXT("DownloadResume"), 2},
    {Token::DownloadEnd, TEV_TEXT("DownloadEnd"), 2},
    {Token::DownloadCancel, TEV_TEXT("DownloadCancel"), 2},
    {Token::InstallBegin, TEV_TEXT("InstallBegin"), 2},
    {Token::InstallEnd, TEV_TEXT("InstallEnd"), 2},
    {Token::InstallCancel, TEV_TEXT("InstallCancel"), 2},
    {Token::InstallError, TEV_TEXT("InstallError"), 2},
    {Token::DownloadError, TEV_TEXT("DownloadError"), 3},  // url, message (code not logged)
    {Token::SetupAttribute, TEV_TEXT("SETUP"), 3},         // name, value
    {Token::ProductData, TEV_TEXT("PRODUCTNRDATA"), 4},    // product, name, value
};

constexpr const TEVChar* TokenText(Token token) {
    return kTokens[static_cast<std::size_t>(token)].text;
}

static_assert([] {
    for (std::size_t i = 0; i < sizeof kTokens / sizeof kTokens[0]; ++i)
        if (static_cast<std::size_t>(kTokens[i].kind) != i) return false;
    return true;
}());

}  // namespace tev::logformat

#endif
