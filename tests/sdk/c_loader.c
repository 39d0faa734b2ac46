/* A C host that loads TEV.dll with TEVLoader.h and calls every entry once, the calls of
 * c_loader.tev line for line, printing "Entry result" for each (1/0 for a bool, the text for the
 * user identifier, null where there is none).
 * Usage: c_loader PATH_OF_TEV_DLL; exit status 3, with "missing: NAME", when TEVLoad fails. */
#include <stdio.h>

#include "TEVLoader.h"

static void Record(const char* entry, int result) { printf("%s %d\n", entry, result); }
static void Done(const char* entry) { printf("%s null\n", entry); }

int wmain(int argc, wchar_t** argv) {
    TEVEntries tev;
    const char* missing = TEVLoad(&tev, argc > 1 ? argv[1] : L"TEV.dll");
    if (missing) {
        printf("missing: %s\n", missing);
        return tev.module == 0 && tev.InitML == 0 ? 3
                                                  : 4; /* a failed load leaves the table empty */
    }
    Record("InitML", tev.InitML(1));
    printf("GetKV8UserId \"%ls\"\n", tev.GetKV8UserId());
    Record("AddAttributeToSetup", tev.AddAttributeToSetupText(L"setup.version", L"4.2.1"));
    Record("AddAttributeToSetup", tev.AddAttributeToSetupInt(L"os.build", -19045));
    Record("AddConfiguredProperty",
           tev.AddConfiguredPropertyText(L"Studio", L"INSTALLDIR", L"C:\\Studio"));
    Record("AddConfiguredProperty", tev.AddConfiguredPropertyInt(L"Studio", L"REBOOT", 0));
    Record("AddContent", tev.AddContent(L"Studio", L"Core", L"C:\\Studio\\core.msi"));
    Record("AddCustom", tev.AddCustom(L"studio", L"channel", L"beta"));
    Record("AddFeature", tev.AddFeature(L"Studio", L"Help", 3));
    Record("AddLang", tev.AddLang(L"Studio", L"de-DE", 1));
    Record("AddNRData", tev.AddNRDataText(L"Studio", L"size.mb", L"1536"));
    Record("AddNRData", tev.AddNRDataInt(L"Studio", L"files", 2147483647));
    tev.wpSetupPhase(TEV_eConfiguration, 1);
    Done("wpSetupPhase");
    tev.wpDownloadSP();
    Done("wpDownloadSP");
    tev.wpWarning(L"disk almost full");
    Done("wpWarning");
    tev.DownloadBegin(L"https://downloads.example.com/core.cab");
    Done("DownloadBegin");
    tev.DownloadPause(L"https://downloads.example.com/core.cab");
    Done("DownloadPause");
    tev.DownloadResume(L"https://downloads.example.com/core.cab");
    Done("DownloadResume");
    tev.DownloadEnd(L"https://downloads.example.com/core.cab");
    Done("DownloadEnd");
    tev.DownloadCancel(L"https://downloads.example.com/help.cab");
    Done("DownloadCancel");
    tev.DownloadError(L"https://downloads.example.com/help.cab", L"timed out", 0xDEADBEEFUL);
    Done("DownloadError");
    tev.DownloadFailEvent(L"https://downloads.example.com/help.cab", L"no route", 4000000000UL);
    Done("DownloadFailEvent");
    tev.InstallBegin(L"Studio");
    Done("InstallBegin");
    tev.InstallEnd(L"Studio");
    Done("InstallEnd");
    tev.InstallCancel(L"Player");
    Done("InstallCancel");
    tev.InstallError(L"Player", L"error 1603");
    Done("InstallError");
    tev.OnCrash();
    Done("OnCrash");
    Record("ShutdownML", tev.ShutdownML());
    TEVUnload(&tev);
    return 0;
}
