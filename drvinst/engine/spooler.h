// What the engine's spooler files share: the name comparison, look-ups in
// the context's spooler lists (as the last EnumProc, EnumDrv or EnumPrn left
// them; each returns the first record found, or NULL), and the queue open of
// the add and delete steps.
#pragma once
#include "installcontext.h"

// Both strings present and equal without regard to case; NULL matches nothing.
BOOL SameName(const char *psz1, const char *psz2);

// The first of the cRecords records of type T in pBuffer whose string field
// pField is pszName.
template <class T>
const T *FindRecord(const BYTE *pBuffer, DWORD cRecords, LPSTR T::*pField, const char *pszName)
{
    const T *pRecords = (const T *)pBuffer;
    for (DWORD i = 0; i < cRecords; i++) {
        if (SameName(pRecords[i].*pField, pszName))
            return &pRecords[i];
    }
    return NULL;
}

inline const PRINTPROCESSOR_INFO_1A *FindEnumProc(const CInstallContext &ctx, const char *pszName)
{
    return FindRecord(ctx.m_pEnumProc1, ctx.m_cEnumProc1, &PRINTPROCESSOR_INFO_1A::pName, pszName);
}
inline const DRIVER_INFO_3A *FindEnumDrv(const CInstallContext &ctx, const char *pszName)
{
    return FindRecord(ctx.m_pEnumDrv3, ctx.m_cEnumDrv3, &DRIVER_INFO_3A::pName, pszName);
}
inline const DRIVER_INFO_3A *FindEnumDrvByMonitor(const CInstallContext &ctx, const char *pszMonitor)
{
    return FindRecord(ctx.m_pEnumDrv3, ctx.m_cEnumDrv3, &DRIVER_INFO_3A::pMonitorName, pszMonitor);
}
inline const PRINTER_INFO_2A *FindEnumPrn(const CInstallContext &ctx, const char *pszName)
{
    return FindRecord(ctx.m_pEnumPrn2, ctx.m_cEnumPrn2, &PRINTER_INFO_2A::pPrinterName, pszName);
}

// OpenPrinter of a queue with the defaults {"RAW", no device mode,
// PRINTER_ALL_ACCESS}, the call's result and last error as it left them.
BOOL OpenQueue(const char *pszName, HANDLE *phPrinter);
