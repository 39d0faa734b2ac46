// What the entries that read a byte for their bool (byte_entries.cpp) call, once they have made it
// a bool.
#ifndef TEV_ENTRIES_ENTRIES_H
#define TEV_ENTRIES_ENTRIES_H

namespace tev::entries {

bool InitML(bool enableLog);
void SetupPhase(int phase, bool begin);

}  // namespace tev::entries

#endif
