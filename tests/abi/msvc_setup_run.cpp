// Plays setup runs through the MinGW-built TEV.dll into the clang-built analytics library of
// msvc_kv8.cpp, which records every call TEV makes into it (msvc_kv8.sh compares the record).
// This program checks what TEV's entries give back, and that each call leaves the stack as it
// found it; it prints its success line and exits 0 only when every check passed.
#include "TEVUtil.h"
#include "freestanding.h"

using freestanding::SameText;
using freestanding::Say;
using freestanding::StackPointer;

namespace {

// A run that a second InitML abandons: what it kept for the end is destroyed, never sent.
void AbandonedRun() {
    unsigned stack = StackPointer();
    CHECK(TEVUtil::InitML(false));
    CHECK(TEVUtil::AddAttributeToSetup(L"setup.version", L"0.9"));
    CHECK(TEVUtil::AddContent(L"Early", L"Core", L"C:\\Early\\core.msi"));
    CHECK(StackPointer() == stack);
}

// The run an installer makes: setup attributes, two products (one named in two letter cases),
// a phase, a download, an install error.
void SetupRun() {
    unsigned stack = StackPointer();
    CHECK(TEVUtil::InitML(false));
    CHECK(SameText(TEVUtil::GetKV8UserId(), L"kv8-double-user"));
    CHECK(TEVUtil::AddAttributeToSetup(L"setup.version", L"4.2.1"));
    CHECK(TEVUtil::AddAttributeToSetup(L"setup.attempt", -2));
    CHECK(TEVUtil::AddContent(L"Studio", L"Core", L"C:\\Program Files\\Studio\\core.msi"));
    CHECK(TEVUtil::AddFeature(L"STUDIO", L"Help", 3));
    CHECK(TEVUtil::AddLang(L"Viewer", L"de-DE", 1));
    CHECK(TEVUtil::AddNRData(L"viewer", L"size.mb", 1536));
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, true);
    TEVUtil::DownloadBegin(L"https://downloads.example.com/studio/core.cab");
    TEVUtil::DownloadError(L"https://downloads.example.com/studio/core.cab", L"timed out",
                           0x80072EE2ul);
    TEVUtil::InstallError(L"Studio", L"error 1603");
    CHECK(TEVUtil::ShutdownML());
    CHECK(!TEVUtil::AddContent(L"Studio", L"Late", L"C:\\late.msi"));
    CHECK(StackPointer() == stack);
}

// A run that ends in a crash: OnCrash's waypoint and 64-bit arguments, then what ShutdownML sends.
void CrashedRun() {
    unsigned stack = StackPointer();
    CHECK(TEVUtil::InitML(false));
    TEVUtil::OnCrash();
    CHECK(!TEVUtil::AddAttributeToSetup(L"setup.version", L"4.2.1"));
    CHECK(StackPointer() == stack);
}

}  // namespace

extern "C" void __cdecl SetupRunEntry() {
    AbandonedRun();
    SetupRun();
    CrashedRun();
    if (freestanding::failures == 0)
        Say("msvc setup run: TEV.dll drove the Microsoft-ABI analytics library, every result as "
            "expected\n");
    ExitProcess(freestanding::failures == 0 ? 0 : 1);
}
