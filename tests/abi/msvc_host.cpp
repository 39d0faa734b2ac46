// An installer as Microsoft's toolchain builds it, reduced to its calls into TEV.dll: every entry
// of TEVUtil.h, reached through the decorated names of TEV.lib, with the result each must give.
// What the calls report is checked by msvc_host.sh, from the stand-in's outbox and the diagnostic
// log; this program checks what comes back, and that each call leaves the stack as it found it.
//
// It prints its success line and exits 0 only when every check passed.
#include "TEVUtil.h"
#include "freestanding.h"

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

// Every reporting entry while no run is active: the bool ones refuse, none reports anything (the
// outbox and the log show it), and ending a run that is not there is no failure.
void EntriesWithoutRun() {
    unsigned stack = StackPointer();
    CHECK(!TEVUtil::AddAttributeToSetup(L"setup.version", L"4.2.1"));
    CHECK(!TEVUtil::AddAttributeToSetup(L"setup.attempt", 1));
    CHECK(!TEVUtil::AddConfiguredProperty(L"Studio", L"INSTALLDIR", L"C:\\Studio"));
    CHECK(!TEVUtil::AddConfiguredProperty(L"Studio", L"REBOOT", 0));
    CHECK(!TEVUtil::AddContent(L"Studio", L"Core", L"C:\\Studio\\core.msi"));
    CHECK(!TEVUtil::AddCustom(L"Studio", L"channel", L"beta"));
    CHECK(!TEVUtil::AddFeature(L"Studio", L"Help", 3));
    CHECK(!TEVUtil::AddLang(L"Studio", L"de-DE", 1));
    CHECK(!TEVUtil::AddNRData(L"Studio", L"size.mb", L"1536"));
    CHECK(!TEVUtil::AddNRData(L"Studio", L"files", 12));
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, true);
    TEVUtil::wpDownloadSP();
    TEVUtil::wpWarning(L"not reported");
    TEVUtil::DownloadBegin(kUrl);
    TEVUtil::DownloadPause(kUrl);
    TEVUtil::DownloadResume(kUrl);
    TEVUtil::DownloadEnd(kUrl);
    TEVUtil::DownloadCancel(kUrl);
    TEVUtil::DownloadError(kUrl, L"not reported", 0xDEADBEEFul);
    TEVUtil::DownloadFailEvent(kUrl, L"not reported", 4000000000ul);
    TEVUtil::InstallBegin(L"Studio");
    TEVUtil::InstallEnd(L"Studio");
    TEVUtil::InstallCancel(L"Studio");
    TEVUtil::InstallError(L"Studio", L"not reported");
    TEVUtil::OnCrash();
    CHECK(TEVUtil::ShutdownML());
    CHECK(StackPointer() == stack);
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
