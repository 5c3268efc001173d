// The check both sides of the status channel make on a mapped view of a
// section someone else may have made: the block is read and written only
// when all of its bytes are there.
#pragma once
#include <windows.h>

// Whether the first cb bytes from pView, the base of a mapped view, are
// committed pages of that one view that can be read and written. Walks the
// regions VirtualQuery reports from the base: a section smaller than cb, or
// one made with SEC_RESERVE whose pages are not all committed, gives FALSE.
// Touches none of the bytes; the caller keeps the view.
inline BOOL IsViewCommitted(const void *pView, SIZE_T cb)
{
    const BYTE *p = (const BYTE *)pView;
    const BYTE *pEnd = p + cb;
    while (p < pEnd) {
        MEMORY_BASIC_INFORMATION mbi;
        if (VirtualQuery(p, &mbi, sizeof(mbi)) < sizeof(mbi))
            return FALSE;
        const BYTE *pNext = (const BYTE *)mbi.BaseAddress + mbi.RegionSize;
        DWORD dwAccess = mbi.Protect & ~(DWORD)(PAGE_NOCACHE | PAGE_WRITECOMBINE);
        BOOL bReadWrite = dwAccess == PAGE_READWRITE || dwAccess == PAGE_WRITECOPY ||
                          dwAccess == PAGE_EXECUTE_READWRITE || dwAccess == PAGE_EXECUTE_WRITECOPY;
        if (mbi.AllocationBase != pView || mbi.State != MEM_COMMIT || !bReadWrite || pNext <= p)
            return FALSE;
        p = pNext;
    }
    return TRUE;
}
