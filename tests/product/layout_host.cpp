/* An installer as the layouts test lays it out: it loads TEV by the path it is given (a name alone
 * is searched as the system searches), after the analytics library when it is given one too, and
 * starts a run with the log on. With bytes after "--", it passes each as InitML's argument and as
 * wpSetupPhase's `begin`, through pointers typed with an int, as a script would.
 *
 *   layout_host TEV [KV8]          prints "InitML 1" or "InitML 0"
 *   layout_host TEV -- BYTE...     InitML(BYTE), wpSetupPhase(eInitialization, BYTE), ShutdownML
 *
 * Exit status: 0 when it ran, 3 when TEV or one of its entries cannot be had, 2 for usage. */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#define TEV_CALL __cdecl
typedef HMODULE Library;
static Library Load(const char* path) { return LoadLibraryA(path); }
static void* Find(Library library, const char* windows, const char*) {
    return reinterpret_cast<void*>(GetProcAddress(library, windows));
}
#else
#include <dlfcn.h>
#define TEV_CALL
typedef void* Library;
static Library Load(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* Find(Library library, const char*, const char* elsewhere) {
    return dlsym(library, elsewhere);
}
#endif

typedef int(TEV_CALL* IntEntry)(int);
typedef void(TEV_CALL* PhaseEntry)(int, int);
typedef int(TEV_CALL* ShutdownEntry)(void);

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: layout_host TEV [KV8] | TEV -- BYTE...\n");
        return 2;
    }
    bool bytes = argc > 2 && strcmp(argv[2], "--") == 0;
    if (argc > 2 && !bytes && !Load(argv[2])) {
        fprintf(stderr, "%s cannot be loaded\n", argv[2]);
        return 3;
    }
    Library tev = Load(argv[1]);
    if (!tev) {
        fprintf(stderr, "%s cannot be loaded\n", argv[1]);
        return 3;
    }
    IntEntry initML =
        reinterpret_cast<IntEntry>(Find(tev, "?InitML@TEVUtil@@SA_N_N@Z", "_ZN7TEVUtil6InitMLEb"));
    PhaseEntry phase =
        reinterpret_cast<PhaseEntry>(Find(tev, "?wpSetupPhase@TEVUtil@@SAXW4eSetupPhase@1@_N@Z",
                                          "_ZN7TEVUtil12wpSetupPhaseENS_11eSetupPhaseEb"));
    ShutdownEntry shutdownML = reinterpret_cast<ShutdownEntry>(
        Find(tev, "?ShutdownML@TEVUtil@@SA_NXZ", "_ZN7TEVUtil10ShutdownMLEv"));
    if (!initML || !phase || !shutdownML) {
        fprintf(stderr, "%s lacks an entry\n", argv[1]);
        return 3;
    }
    if (!bytes) {
        /* The result is a bool: its low byte alone. */
        printf("InitML %d\n", initML(1) & 0xff);
        shutdownML();
        return 0;
    }
    for (int i = 3; i < argc; ++i) {
        int byte = std::atoi(argv[i]);
        printf("InitML(%d) %d\n", byte, initML(byte) & 0xff);
        phase(0, byte);
        shutdownML();
    }
    return 0;
}
