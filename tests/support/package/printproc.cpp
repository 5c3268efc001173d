// Stand-in print processor of the sample driver package (KZTTZPP.DLL): the
// package's print processor is not ours. It has the entry points the spooler
// calls, names the one data type it would take (RAW) and processes no job.
#include <windows.h>
#include <winspool.h>

// The data types: one DATATYPES_INFO_1W record, "RAW", with its text behind it.
extern "C" __declspec(dllexport) BOOL WINAPI EnumPrintProcessorDatatypesW(LPWSTR pName, LPWSTR pPrintProcessorName,
                                                                          DWORD Level, LPBYTE pDatatypes, DWORD cbBuf,
                                                                          LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    static const WCHAR kRaw[] = L"RAW";
    if (Level != 1 || !pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    *pcReturned = 0;
    *pcbNeeded = sizeof(DATATYPES_INFO_1W) + sizeof(kRaw);
    if (!pDatatypes || cbBuf < *pcbNeeded) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DATATYPES_INFO_1W *pInfo = (DATATYPES_INFO_1W *)pDatatypes;
    pInfo->pName = (LPWSTR)(pInfo + 1);
    memcpy(pInfo->pName, kRaw, sizeof(kRaw));
    *pcReturned = 1;
    return TRUE;
}

extern "C" __declspec(dllexport) HANDLE WINAPI OpenPrintProcessor(LPWSTR pPrinterName, PVOID pPrintProcessorOpenData)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return NULL;
}

extern "C" __declspec(dllexport) BOOL WINAPI PrintDocumentOnPrintProcessor(HANDLE hPrintProcessor, LPWSTR pDocumentName)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI ClosePrintProcessor(HANDLE hPrintProcessor)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI ControlPrintProcessor(HANDLE hPrintProcessor, DWORD Command)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetPrintProcessorCapabilities(LPWSTR pValueName, DWORD dwAttributes,
                                                                            LPBYTE pData, DWORD nSize,
                                                                            LPDWORD pcbNeeded)
{
    return ERROR_NOT_SUPPORTED;
}
