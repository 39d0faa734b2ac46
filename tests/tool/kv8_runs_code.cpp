// A library that runs code the moment it is loaded (a constructor; DllMain on Windows): it creates
// the file TEV_TEST_LOADED_MARKER names. `tev doctor` reads such a library and must never load it.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

void LeaveMark() {
    if (const char* path = std::getenv("TEV_TEST_LOADED_MARKER"))
        if (std::FILE* file = std::fopen(path, "w")) std::fclose(file);
}

}  // namespace

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMark();
    return TRUE;
}
#else
__attribute__((constructor)) static void Loaded() { LeaveMark(); }
#endif
