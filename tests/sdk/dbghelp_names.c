/* Names addresses of a DLL as Windows' debugging API does, from the symbols it finds on a search
 * path: the DLL's module is loaded at its own base, and each RVA given is named by SymFromAddr.
 * Prints the kind of symbols loaded and their file ("symbols pdb C:\...\TEV.pdb"), then
 * "RVA NAME DISPLACEMENT" for each RVA (hexadecimal); exit status 1 when the module or a name
 * cannot be had.
 * Usage: dbghelp_names DLL SEARCH_PATH RVA... */
#include <windows.h>
#include <dbghelp.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
    HANDLE process = GetCurrentProcess();
    DWORD64 base;
    IMAGEHLP_MODULEW64 module;
    int status = 0;
    int index;
    if (argc < 3) return 2;
    SymSetOptions(SYMOPT_UNDNAME | SYMOPT_FAIL_CRITICAL_ERRORS);
    if (!SymInitializeW(process, argv[2], FALSE)) {
        printf("SymInitialize failed: %lu\n", GetLastError());
        return 1;
    }
    base = SymLoadModuleExW(process, NULL, argv[1], NULL, 0, 0, NULL, 0);
    if (!base) {
        printf("SymLoadModuleEx failed: %lu\n", GetLastError());
        return 1;
    }
    ZeroMemory(&module, sizeof module);
    module.SizeOfStruct = sizeof module;
    if (!SymGetModuleInfoW64(process, base, &module)) {
        printf("SymGetModuleInfo failed: %lu\n", GetLastError());
        return 1;
    }
    printf("symbols %s %ls\n", module.SymType == SymPdb ? "pdb" : "other", module.LoadedPdbName);
    for (index = 3; index < argc; ++index) {
        DWORD rva = (DWORD)wcstoul(argv[index], NULL, 16);
        union {
            SYMBOL_INFOW info;
            char bytes[sizeof(SYMBOL_INFOW) + MAX_SYM_NAME * sizeof(WCHAR)];
        } symbol;
        DWORD64 displacement = 0;
        ZeroMemory(&symbol, sizeof symbol);
        symbol.info.SizeOfStruct = sizeof symbol.info;
        symbol.info.MaxNameLen = MAX_SYM_NAME;
        if (SymFromAddrW(process, base + rva, &displacement, &symbol.info)) {
            printf("%lx %ls %lu\n", rva, symbol.info.Name, (unsigned long)displacement);
        } else {
            printf("%lx (none: %lu)\n", rva, GetLastError());
            status = 1;
        }
    }
    SymCleanup(process);
    return status;
}
