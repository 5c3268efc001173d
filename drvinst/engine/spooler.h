// What the engine's spooler files share.
//
// Look-ups in the context's spooler lists (as the last EnumProc, EnumDrv or
// EnumPrn left them). Names are compared without regard to case; a NULL name
// matches nothing. Each returns the first record found, or NULL.
#pragma once
#include "installcontext.h"

const PRINTPROCESSOR_INFO_1A *FindEnumProc(const CInstallContext &ctx, const char *pszName);
const DRIVER_INFO_3A *FindEnumDrv(const CInstallContext &ctx, const char *pszName);
const DRIVER_INFO_3A *FindEnumDrvByMonitor(const CInstallContext &ctx, const char *pszMonitor);
const PRINTER_INFO_2A *FindEnumPrn(const CInstallContext &ctx, const char *pszName);

// Both strings present and equal without regard to case.
BOOL SameName(const char *psz1, const char *psz2);

// OpenPrinter of a queue with the defaults {"RAW", no device mode,
// PRINTER_ALL_ACCESS}, the call's result and last error as it left them.
BOOL OpenQueue(const char *pszName, HANDLE *phPrinter);
