// An installer as Microsoft's toolchain builds it, reduced to its calls into TEV.dll: every entry
// of TEVUtil.h, reached through the decorated names of TEV.lib, with the result each must give.
// What the calls report is checked by msvc_host.sh, from the stand-in's outbox and the diagnostic
// log; this program checks what comes back, and that each call leaves the stack as it found it.
//
// It prints its success line and exits 0 only when every check passed.
#include "TEVUtil.h"
#include "freestanding.h"
#include "tev_entry_list.h"

using freestanding::SameText;
using freestanding::Say;
using freestanding::StackPointer;

namespace {

constexpr int kIntMin = -2147483647 - 1;
const wchar_t kUrl[] = L"https://downloads.example.com/studio/core.cab";
// The identifier the stand-in gives (KV8_USER_ID, set by msvc_host.sh).
const wchar_t kUserId[] = L"tev-abi-user-0001";

// Whether the runs report: false when msvc_host.sh sets TEV_ABI_REFUSED, where the analytics
// library beside TEV.dll is missing or incomplete and TEV must act as if it refused everything.
bool reporting = true;

// What an entry is given while no run is active, by the parameter's type.
template <typename T>
T MadeUp();
template <>
const wchar_t* MadeUp<const wchar_t*>() {
    return L"not reported";
}
template <>
int MadeUp<int>() {
    return kIntMin;
}
template <>
TEVUInt32 MadeUp<TEVUInt32>() {
    return 4000000000ul;
}
template <>
bool MadeUp<bool>() {
    return true;
}
template <>
TEVUtil::eSetupPhase MadeUp<TEVUtil::eSetupPhase>() {
    return TEVUtil::eInstallation;
}

bool Named(const char* entry, const char* name) {
    while (*entry && *entry == *name) ++entry, ++name;
    return *entry == *name;
}

// An entry called while no run is active refuses: false, or nothing; ShutdownML, ending a run that
// is not there, is no failure (true).
template <typename... P>
bool Refuses(const char* entry, bool(TEV_CALL* call)(P...)) {
    return call(MadeUp<P>()...) == Named(entry, "ShutdownML");
}
template <typename... P>
bool Refuses(const char*, const wchar_t*(TEV_CALL* call)(P...)) {
    return SameText(call(MadeUp<P>()...), L"");
}
template <typename... P>
bool Refuses(const char*, void(TEV_CALL* call)(P...)) {
    call(MadeUp<P>()...);
    return true;
}

// Every entry of the list while no run is active, with the stack as it found it, but the two that
// start a run (InitML, GetKV8UserId): none reports anything (the outbox and the log show it).
void EntriesWithoutRun() {
    unsigned stack = StackPointer();
#define TEV_WITHOUT_RUN(field, entry, address, ...)                   \
    if (!Named(#entry, "InitML") && !Named(#entry, "GetKV8UserId")) { \
        if (!Refuses(#entry, address)) {                              \
            Say(#field " answered as if a run were active\n");        \
            ++freestanding::failures;                                 \
        }                                                             \
        CHECK(StackPointer() == stack);                               \
    }
    TEV_ENTRY_LIST(TEV_WITHOUT_RUN)
#undef TEV_WITHOUT_RUN
}

// A whole run with the log on: extreme numbers, null texts, letter cases, every event.
void LoggedRun() {
    unsigned stack = StackPointer();
    CHECK(TEVUtil::InitML(true) == reporting);
    CHECK(SameText(TEVUtil::GetKV8UserId(), reporting ? kUserId : L""));

    CHECK(TEVUtil::AddAttributeToSetup(L"setup.version", L"4.2.1") == reporting);
    CHECK(TEVUtil::AddAttributeToSetup(L"setup.minimum", kIntMin) == reporting);
    CHECK(TEVUtil::AddAttributeToSetup(L"setup.offset", -42) == reporting);
    CHECK(TEVUtil::AddAttributeToSetup(nullptr, nullptr) == reporting);

    // "Studio" in three letter cases is one product; "Viewer" another; a null name a third.
    CHECK(TEVUtil::AddConfiguredProperty(L"Studio", L"INSTALLDIR", L"C:\\Program Files\\Studio") ==
          reporting);
    CHECK(TEVUtil::AddConfiguredProperty(L"STUDIO", L"REBOOT", kIntMin) == reporting);
    CHECK(TEVUtil::AddContent(L"Studio", L"Core", L"C:\\Program Files\\Studio\\core.msi") ==
          reporting);
    CHECK(TEVUtil::AddContent(L"studio", nullptr, nullptr) == reporting);
    CHECK(TEVUtil::AddCustom(L"sTuDiO", L"channel", L"beta") == reporting);
    CHECK(TEVUtil::AddFeature(L"Viewer", L"Help", -3) == reporting);
    CHECK(TEVUtil::AddLang(L"VIEWER", L"de-DE", 1) == reporting);
    CHECK(TEVUtil::AddNRData(L"viewer", L"size.mb", L"1536") == reporting);
    CHECK(TEVUtil::AddNRData(L"Viewer", L"files", kIntMin) == reporting);
    CHECK(TEVUtil::AddNRData(nullptr, nullptr, nullptr) == reporting);

    TEVUtil::wpSetupPhase(TEVUtil::eInitialization, true);
    TEVUtil::wpSetupPhase(TEVUtil::eConfiguration, false);
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, true);
    TEVUtil::wpSetupPhase(static_cast<TEVUtil::eSetupPhase>(3), true);  // not a phase
    TEVUtil::wpSetupPhase(static_cast<TEVUtil::eSetupPhase>(-1), false);
    TEVUtil::wpDownloadSP();
    TEVUtil::wpWarning(L"disk almost full: caf\u00e9 \u20ac \U0001F4BE");
    TEVUtil::wpWarning(nullptr);

    TEVUtil::DownloadBegin(kUrl);
    TEVUtil::DownloadPause(kUrl);
    TEVUtil::DownloadResume(kUrl);
    TEVUtil::DownloadEnd(kUrl);
    TEVUtil::DownloadCancel(nullptr);
    TEVUtil::DownloadError(kUrl, L"timed out", 0xDEADBEEFul);
    TEVUtil::DownloadFailEvent(nullptr, nullptr, 4000000000ul);

    TEVUtil::InstallBegin(L"Studio");
    TEVUtil::InstallEnd(L"STUDIO");
    TEVUtil::InstallCancel(nullptr);
    TEVUtil::InstallError(L"Viewer", L"error 1603");

    CHECK(TEVUtil::ShutdownML());
    CHECK(StackPointer() == stack);
}

// A run that GetKV8UserId starts by itself (without a log) and OnCrash ends.
void CrashedRun() {
    unsigned stack = StackPointer();
    CHECK(SameText(TEVUtil::GetKV8UserId(), reporting ? kUserId : L""));
    CHECK(TEVUtil::AddContent(L"Player", L"Core", L"D:\\player.msi") == reporting);
    TEVUtil::OnCrash();
    CHECK(StackPointer() == stack);
}

// The log goes to the temporary directory msvc_host.sh chose. Wine takes TMP and TEMP from its
// registry, not from the Unix environment, so the directory comes as TEV_ABI_TEMP and is set here,
// before TEV reads it.
void UseTestTemporaryDirectory() {
    wchar_t directory[260];
    unsigned long length = GetEnvironmentVariableW(L"TEV_ABI_TEMP", directory, 259);
    CHECK(length > 0 && length < 259);
    if (length == 0 || length >= 259) return;
    CHECK(SetEnvironmentVariableW(L"TMP", directory) &&
          SetEnvironmentVariableW(L"TEMP", directory));
    wchar_t seen[260];
    CHECK(GetTempPathW(260, seen) > 0);
    if (directory[length - 1] != L'\\') directory[length++] = L'\\', directory[length] = 0;
    CHECK(SameText(seen, directory));
}

}  // namespace

extern "C" void __cdecl HostEntry() {
    UseTestTemporaryDirectory();
    wchar_t refused[2];
    reporting = GetEnvironmentVariableW(L"TEV_ABI_REFUSED", refused, 2) == 0;
    EntriesWithoutRun();
    LoggedRun();
    EntriesWithoutRun();
    CrashedRun();
    EntriesWithoutRun();
    if (freestanding::failures == 0)
        Say("msvc host: every entry called through its decorated name, every result as "
            "expected\n");
    ExitProcess(freestanding::failures == 0 ? 0 : 1);
}
