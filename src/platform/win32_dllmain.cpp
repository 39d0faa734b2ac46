// TEV.dll's entry point. Loading constructs the run record (static initialisation); unloading frees
// the product registry's entries and nothing else: no shut-down, no call into the analytics
// library, no closing of the log.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
