/* Names addresses of a DLL as Windows' debugging API does, from the symbols it finds on a search
 * path: the DLL's module is loaded at its own base, and each RVA given is named by SymFromAddr and
 * given its source line by SymGetLineFromAddr64. Prints the kind of symbols loaded and their file
 * ("symbols pdb C:\...\TEV.pdb"), then "RVA NAME DISPLACEMENT LINE FILE" for each RVA
 * (hexadecimal; LINE 0 and FILE "-" when there is no line); exit status 1 when the module, a name
 * or a line cannot be had.
 * A search path "srv*FOLDER" is a symbol store, read as a symbol server reads one (Wine's dbghelp
 * takes every element of a search path as a plain folder): by the DLL's index (below), the module
 * is loaded from FOLDER\<dll>\<timestamp><size>\<dll> and its PDB looked for in
 * FOLDER\<pdb>\<GUID><age>\ alone; "store dll PATH" and "store pdb PATH" (within FOLDER) are
 * printed first.
 * Usage: dbghelp_names DLL SEARCH_PATH RVA... */
#include <windows.h>
#include <dbghelp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* What a symbol server finds a module and its PDB by: the image's time stamp and size, from its
 * headers, and the GUID, age and file name of its PDB, from the CodeView record of its debug
 * directory. (Wine's dbghelp has no SymSrvGetFileIndexInfo.) */
struct index {
    DWORD timestamp, size, age;
    GUID guid;
    char pdb[MAX_PATH];
};

struct codeview {
    DWORD signature; /* RSDS */
    GUID guid;
    DWORD age;
    char name[1];
};

static int ReadIndex(const wchar_t* dll, struct index* index) {
    HANDLE file = CreateFileW(dll, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE mapping = file == INVALID_HANDLE_VALUE
                         ? NULL
                         : CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL);
    BYTE* image = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : NULL;
    IMAGE_NT_HEADERS32* headers = image ? (IMAGE_NT_HEADERS32*)ImageNtHeader(image) : NULL;
    IMAGE_DEBUG_DIRECTORY* debug = NULL;
    ULONG bytes = 0;
    int found = 0;
    if (headers) {
        debug = ImageDirectoryEntryToData(image, FALSE, IMAGE_DIRECTORY_ENTRY_DEBUG, &bytes);
        index->timestamp = headers->FileHeader.TimeDateStamp;
        index->size = headers->OptionalHeader.SizeOfImage;
    }
    for (; debug && bytes >= sizeof *debug && !found; ++debug, bytes -= sizeof *debug) {
        const struct codeview* record = (const struct codeview*)(image + debug->PointerToRawData);
        if (debug->Type != IMAGE_DEBUG_TYPE_CODEVIEW || record->signature != 0x53445352) continue;
        const char* name =
            strrchr(record->name, '\\') ? strrchr(record->name, '\\') + 1 : record->name;
        index->guid = record->guid;
        index->age = record->age;
        lstrcpynA(index->pdb, name, MAX_PATH);
        found = 1;
    }
    if (!found) printf("no PDB named in %ls's debug directory\n", dll);
    if (image) UnmapViewOfFile(image);
    if (mapping) CloseHandle(mapping);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return found;
}

int wmain(int argc, wchar_t** argv) {
    HANDLE process = GetCurrentProcess();
    const wchar_t* dll = argv[1];
    const wchar_t* search = argv[2];
    static wchar_t store_dll[MAX_PATH], store_pdb[MAX_PATH];
    DWORD64 base;
    IMAGEHLP_MODULEW64 module;
    int status = 0;
    int index;
    if (argc < 3) return 2;
    if (_wcsnicmp(search, L"srv*", 4) == 0) {
        const wchar_t* store = search + 4;
        const wchar_t* name = wcsrchr(dll, L'\\') ? wcsrchr(dll, L'\\') + 1 : dll;
        struct index index;
        if (!ReadIndex(dll, &index)) return 1;
        _snwprintf(store_dll, MAX_PATH, L"%ls\\%ls\\%08lX%lx\\%ls", store, name, index.timestamp,
                   index.size, name);
        _snwprintf(store_pdb, MAX_PATH,
                   L"%ls\\%hs\\%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X%lx", store, index.pdb,
                   index.guid.Data1, index.guid.Data2, index.guid.Data3, index.guid.Data4[0],
                   index.guid.Data4[1], index.guid.Data4[2], index.guid.Data4[3],
                   index.guid.Data4[4], index.guid.Data4[5], index.guid.Data4[6],
                   index.guid.Data4[7], index.age);
        printf("store dll %ls\nstore pdb %ls\n", store_dll + wcslen(store) + 1,
               store_pdb + wcslen(store) + 1);
        dll = store_dll;
        search = store_pdb;
    }
    SymSetOptions(SYMOPT_UNDNAME | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS);
    if (!SymInitializeW(process, search, FALSE)) {
        printf("SymInitialize failed: %lu\n", GetLastError());
        return 1;
    }
    base = SymLoadModuleExW(process, NULL, dll, NULL, 0, 0, NULL, 0);
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
        IMAGEHLP_LINEW64 line;
        DWORD64 displacement = 0;
        DWORD column = 0;
        ZeroMemory(&symbol, sizeof symbol);
        symbol.info.SizeOfStruct = sizeof symbol.info;
        symbol.info.MaxNameLen = MAX_SYM_NAME;
        if (!SymFromAddrW(process, base + rva, &displacement, &symbol.info)) {
            printf("%lx (none: %lu)\n", rva, GetLastError());
            status = 1;
            continue;
        }
        ZeroMemory(&line, sizeof line);
        line.SizeOfStruct = sizeof line;
        if (SymGetLineFromAddrW64(process, base + rva, &column, &line)) {
            printf("%lx %ls %lu %lu %ls\n", rva, symbol.info.Name, (unsigned long)displacement,
                   line.LineNumber, line.FileName);
        } else {
            printf("%lx %ls %lu 0 -\n", rva, symbol.info.Name, (unsigned long)displacement);
            status = 1;
        }
    }
    SymCleanup(process);
    return status;
}
