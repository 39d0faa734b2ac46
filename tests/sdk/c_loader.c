/* A C host that loads TEV.dll with TEVLoader.h and calls every entry once, as the build makes the
 * calls from the list of entries (every_entry_once.c.h; every_entry_once.tev holds them for the
 * tool), printing "Entry result" for each (1/0 for a bool, the text for the user
 * identifier, null where there is none).
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
#include "every_entry_once.c.h"
    TEVUnload(&tev);
    return 0;
}
