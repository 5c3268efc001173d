// Stand-in rendering library of the sample driver package (KZTTZDRV.DLL):
// the driver's rendering part is not ours. It has the entry points the
// graphics engine looks for and renders nothing: it declines to be enabled.
#include <windows.h>

#define DRVQUERY_USERMODE 1

// The engine asks for the driver's function table; a stand-in has none.
extern "C" __declspec(dllexport) BOOL WINAPI DrvEnableDriver(ULONG iEngineVersion, ULONG cj, PVOID pded)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

extern "C" __declspec(dllexport) VOID WINAPI DrvDisableDriver(VOID) {}

// Whether the driver runs in user mode: it does.
extern "C" __declspec(dllexport) BOOL WINAPI DrvQueryDriverInfo(DWORD dwMode, PVOID pBuffer, DWORD cbBuf,
                                                                PDWORD pcbNeeded)
{
    if (dwMode != DRVQUERY_USERMODE || !pcbNeeded) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcbNeeded = sizeof(DWORD);
    if (!pBuffer || cbBuf < sizeof(DWORD)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *(DWORD *)pBuffer = TRUE;
    return TRUE;
}
