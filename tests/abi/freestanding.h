// What the programs and the library of this folder need without a C runtime: the few kernel32
// functions they call (imported through an import library made from kernel32.def) and text
// helpers. They are built with clang for i686-pc-windows-msvc and linked with /nodefaultlib, as an
// installer and the analytics library built by Microsoft's toolchain would meet TEV.dll.
//
// Each program is one translation unit, so the definitions below live in this header. Nothing
// here has a constructor that would have to run before the entry point: there is no runtime to
// run it.
#ifndef TEV_ABI_FREESTANDING_H
#define TEV_ABI_FREESTANDING_H

extern "C" {
__declspec(dllimport) void __stdcall ExitProcess(unsigned int exitCode);
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* bytes, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void* __stdcall CreateFileW(const wchar_t* path, unsigned long access,
                                                  unsigned long share, void* security,
                                                  unsigned long disposition, unsigned long flags,
                                                  void* templateFile);
__declspec(dllimport) int __stdcall CloseHandle(void* handle);
__declspec(dllimport) unsigned long __stdcall GetEnvironmentVariableW(const wchar_t* name,
                                                                      wchar_t* value,
                                                                      unsigned long capacity);
__declspec(dllimport) int __stdcall SetEnvironmentVariableW(const wchar_t* name,
                                                            const wchar_t* value);
__declspec(dllimport) unsigned long __stdcall GetTempPathW(unsigned long capacity, wchar_t* path);
__declspec(dllimport) void* __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, unsigned long flags,
                                                unsigned long size);
}

namespace freestanding {

constexpr unsigned long kStdOutput = static_cast<unsigned long>(-11);
constexpr unsigned long kAppendData = 0x4;  // FILE_APPEND_DATA
constexpr unsigned long kShareRead = 0x1;
constexpr unsigned long kOpenAlways = 4;
constexpr unsigned long kNormalFile = 0x80;
constexpr unsigned long kZeroMemory = 0x8;  // HEAP_ZERO_MEMORY
inline void* const kInvalidHandle = reinterpret_cast<void*>(-1);

inline unsigned Length(const wchar_t* text) {
    unsigned length = 0;
    while (text[length]) ++length;
    return length;
}

inline bool SameText(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return a == b;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// The stack pointer where it is read. Between calls it does not move within one function, so two
// readings that differ show a callee that took more (or less) off the stack than its convention
// says.
inline unsigned StackPointer() {
    unsigned esp;
    __asm__ volatile("movl %%esp, %0" : "=r"(esp));
    return esp;
}

// One line of UTF-8 text, built piece by piece; what does not fit is cut off.
class Line {
public:
    Line() {}  // leaves the buffer as it is: value-initialising it would need memset

    Line& Ascii(const char* text) {
        while (*text) Put(*text++);
        return *this;
    }

    // The text quoted, as JSON writes a string (pairs of surrogates joined, a lone one escaped),
    // or null.
    Line& Quoted(const wchar_t* text) {
        if (!text) return Ascii("null");
        Put('"');
        for (; *text; ++text) {
            unsigned unit = static_cast<unsigned short>(*text);
            unsigned next = static_cast<unsigned short>(text[1]);
            if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                Utf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++text;
            } else if (unit == '"' || unit == '\\') {
                Put('\\');
                Put(static_cast<char>(unit));
            } else if (unit < 0x20 || (unit >= 0xD800 && unit <= 0xDFFF)) {
                Ascii("\\u");
                for (int shift = 12; shift >= 0; shift -= 4)
                    Put("0123456789abcdef"[(unit >> shift) & 15]);
            } else {
                Utf8(unit);
            }
        }
        Put('"');
        return *this;
    }

    Line& Signed(long long value) {
        if (value < 0) {
            Put('-');
            return Unsigned(0ull - static_cast<unsigned long long>(value));
        }
        return Unsigned(static_cast<unsigned long long>(value));
    }

    // Decimal digits without 64-bit division, which would need the C runtime's helpers: the number
    // is divided by ten as four 16-bit digits, each step a 32-bit division.
    Line& Unsigned(unsigned long long value) {
        unsigned pieces[4] = {static_cast<unsigned>(value >> 48) & 0xFFFF,
                              static_cast<unsigned>(value >> 32) & 0xFFFF,
                              static_cast<unsigned>(value >> 16) & 0xFFFF,
                              static_cast<unsigned>(value) & 0xFFFF};
        char digits[20];
        int count = 0;
        bool more = true;
        while (more) {
            unsigned remainder = 0;
            more = false;
            for (unsigned& piece : pieces) {
                unsigned current = (remainder << 16) | piece;
                piece = current / 10;
                remainder = current % 10;
                more = more || piece != 0;
            }
            digits[count++] = static_cast<char>('0' + remainder);
        }
        while (count) Put(digits[--count]);
        return *this;
    }

    const char* Data() const { return text_; }
    unsigned Size() const { return size_; }

private:
    void Put(char c) {
        if (size_ < sizeof text_) text_[size_++] = c;
    }

    void Utf8(unsigned c) {
        if (c < 0x80) {
            Put(static_cast<char>(c));
        } else if (c < 0x800) {
            Put(static_cast<char>(0xC0 | (c >> 6)));
            Put(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            Put(static_cast<char>(0xE0 | (c >> 12)));
            Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            Put(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            Put(static_cast<char>(0xF0 | (c >> 18)));
            Put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            Put(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }

    char text_[1024];
    unsigned size_ = 0;
};

inline void Say(const Line& line) {
    unsigned long written = 0;
    WriteFile(GetStdHandle(kStdOutput), line.Data(), line.Size(), &written, nullptr);
}

inline void Say(const char* text) { Say(Line().Ascii(text)); }

// The checks of a test program that failed; each is reported on standard output as it happens.
inline int failures = 0;

inline void Check(bool passed, const char* file, int line, const char* what) {
    if (passed) return;
    ++failures;
    Say(Line()
            .Ascii("FAILED at ")
            .Ascii(file)
            .Ascii(":")
            .Signed(line)
            .Ascii(": ")
            .Ascii(what)
            .Ascii("\n"));
}

}  // namespace freestanding

#define CHECK(condition) freestanding::Check((condition), __FILE_NAME__, __LINE__, #condition)

#endif
