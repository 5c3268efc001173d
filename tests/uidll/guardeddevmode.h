// Device modes of every shape and claim, each in a buffer of exactly the size
// it claims, ending where an inaccessible page begins (a read or write past
// the end faults) and with guard bytes before it; and generated rounds of
// them through the library's conversion and property entry points (the
// export tests run a few thousand, the soak a hundred thousand).
#pragma once
#include "uidllfixture.h"
#include <random>
#include <string>

class GuardedDevmode {
public:
    static const size_t kGuard = 64;
    static const BYTE kFill = 0xA5;

    explicit GuardedDevmode(size_t cb) : m_cb(cb)
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        size_t page = si.dwPageSize;
        m_cbUsable = (cb + kGuard + page - 1) / page * page;
        m_pBase = (BYTE *)VirtualAlloc(NULL, m_cbUsable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(m_pBase + m_cbUsable, page, PAGE_NOACCESS, &old);
        memset(m_pBase, kFill, m_cbUsable);
    }
    ~GuardedDevmode() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    BYTE *Bytes() { return m_pBase + m_cbUsable - m_cb; }
    DEVMODEW *Devmode() { return (DEVMODEW *)Bytes(); }
    size_t Size() const { return m_cb; }
    bool GuardIntact()
    {
        for (size_t i = 1; i <= kGuard; i++)
            if (Bytes()[-(ptrdiff_t)i] != kFill)
                return false;
        return true;
    }
    // No byte from offset on was written since construction.
    bool UntouchedFrom(size_t offset)
    {
        for (size_t i = offset; i < m_cb; i++)
            if (Bytes()[i] != kFill)
                return false;
        return true;
    }

private:
    size_t m_cb, m_cbUsable;
    BYTE *m_pBase;
};

// The dmSpecVersion a converted device mode of a public size carries; other
// sizes carry the source's.
WORD SpecForSize(WORD size, WORD source);

// What a call that reports success must have written into a fresh buffer
// of 244 bytes for the template (the caller's input device mode, or none);
// see guardeddevmode.cpp for the rules checked.
::testing::AssertionResult IsDriverOutput(GuardedDevmode &g, const DEVMODEW *pTemplate);

// What a successful conversion of pSource must have left in g, converted
// into the shape size + extra: that shape within the buffer, the dmSpecVersion
// of that size, the source's public fields and private bytes as far as both
// hold them (the driver's signature kept where the source had it).
::testing::AssertionResult IsConvertedDevmode(GuardedDevmode &g, const DEVMODEW *pSource, WORD size, WORD extra);

struct DevmodeRoundCounts {
    int converted = 0;  // the library's own conversion succeeded
    int answered = 0;   // DrvDocumentProperties answered IDOK
    int refused = 0;    // and refused
};

// One round of generated input and output device modes (random shapes,
// dmSpecVersion values, fields and bytes, drawn from rng): the library's merge,
// conversion and copy-out directly, DrvConvertDevMode for a printer that does
// not exist, DrvDeviceCapabilities, and with throughDocProps also
// DrvDocumentProperties on hPrinter (about 50 ms under Wine). Each success
// must be a valid device mode of its claimed shape and no call may write
// outside its buffer; false with the broken expectation in *what.
bool GeneratedDevmodeRound(UiLibrary &ui, HANDLE hPrinter, std::mt19937 &rng, bool throughDocProps,
                           DevmodeRoundCounts *counts, std::string *what);
