// Wide text at TEV's boundary: null-terminated UTF-16 code units.
//
// On Windows the code unit is exactly wchar_t, so exported signatures (and their decorated names)
// are those of const wchar_t*. Elsewhere wchar_t is 32 bits wide, so the development build uses
// char16_t. Portable code never calls the C library's wide-character functions.
#ifndef TEV_TEXT_H
#define TEV_TEXT_H

#ifdef _WIN32
typedef wchar_t TEVChar;
#define TEV_TEXT(literal) L##literal
// The 32-bit unsigned integer of the interface (`unsigned long` in Microsoft's ABI).
typedef unsigned long TEVUInt32;
#else
typedef char16_t TEVChar;
#define TEV_TEXT(literal) u##literal
typedef unsigned int TEVUInt32;
#endif

#endif
