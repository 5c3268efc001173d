// What a queue has beyond its name, port and driver, carried across a
// reinstall's restart in its queue record: the share name and the other
// texts of its printer record, its attributes, priorities and hours, its
// printing defaults (device mode), its access list, and its printer data
// (the driver's settings). The first phase saves them with the record; the
// second phase puts them on the queue it made again. Values of a record:
//   "ShareName" "Comment" "Location" "SepFile" "PrintProcessor" "Datatype"
//   "Parameters" (REG_SZ, absent when the queue has none), "Attributes"
//   "Priority" "DefaultPriority" "StartTime" "UntilTime" (REG_DWORD),
//   "DevMode" "Security" (REG_BINARY), and the subkey "PrinterData" with one
//   value per printer data value, of its own type.
#include "queuesettings.h"
#include "spoolrecord.h"
#include "splstr.h"
#include "steplog.h"
#include <stddef.h>
#include <string.h>
#include <string>
#include <vector>

static const char kRecordsRoot[] = "SOFTWARE\\Ostrel";
static const char kDataKey[] = "PrinterData";
static const WCHAR kDriverDataKey[] = L"PrinterDriverData";
static const REGSAM kRecordAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;  // 0x2001F

// The texts and numbers of PRINTER_INFO_2A that a record keeps.
static const struct {
    const char *pszValue;
    LPSTR PRINTER_INFO_2A::*pText;
} kTexts[] = {{"ShareName", &PRINTER_INFO_2A::pShareName},
              {"Comment", &PRINTER_INFO_2A::pComment},
              {"Location", &PRINTER_INFO_2A::pLocation},
              {"SepFile", &PRINTER_INFO_2A::pSepFile},
              {"PrintProcessor", &PRINTER_INFO_2A::pPrintProcessor},
              {"Datatype", &PRINTER_INFO_2A::pDatatype},
              {"Parameters", &PRINTER_INFO_2A::pParameters}};
static const struct {
    const char *pszValue;
    DWORD PRINTER_INFO_2A::*pNumber;
} kNumbers[] = {{"Attributes", &PRINTER_INFO_2A::Attributes},
                {"Priority", &PRINTER_INFO_2A::Priority},
                {"DefaultPriority", &PRINTER_INFO_2A::DefaultPriority},
                {"StartTime", &PRINTER_INFO_2A::StartTime},
                {"UntilTime", &PRINTER_INFO_2A::UntilTime}};

// Opens a queue with every right (the access list and the record need
// them); NULL after an error line, or silently (*pbMissing) for a queue
// that is not there.
static HANDLE OpenQueue(CInstallContext &ctx, const char *pszQueue, BOOL *pbMissing)
{
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE hPrinter = NULL;
    BOOL bOpen = OpenPrinterA((LPSTR)pszQueue, &hPrinter, &defaults);
    DWORD dwError = CallError(bOpen);
    *pbMissing = !bOpen && dwError == ERROR_INVALID_PRINTER_NAME;
    LogStep(ctx, bOpen || *pbMissing, "::OpenPrinter([%s]) R %d E %d %s", pszQueue, bOpen, dwError,
            SysErrorText(dwError).c_str());
    return bOpen ? hPrinter : NULL;
}

// The queue's printer record at level 2 (FreeSpoolRecord), NULL after an error line.
static PRINTER_INFO_2A *ReadQueue(CInstallContext &ctx, HANDLE hPrinter, const char *pszQueue)
{
    SpoolRecordResult result;
    LPBYTE p = AllocSingleSpoolRecord(SpoolGetPrinterA, hPrinter, 2, &result);
    LogStep(ctx, p != NULL, "::GetPrinter([%s],2) R %d E %d %s", pszQueue, result.bResult, result.dwError,
            SysErrorText(result.dwError).c_str());
    return (PRINTER_INFO_2A *)p;
}

// Writes one value of the record, logged with its name and size.
static BOOL SetRecordValue(CInstallContext &ctx, HKEY hKey, const char *pszName, DWORD dwType, const void *pData,
                           DWORD cbData)
{
    LONG lStatus = RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE *)pData, cbData);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s],%d,%d) E %d %s", pszName, dwType, cbData, lStatus,
            SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS;
}

// The printer data values of the queue's "PrinterDriverData" key (what
// SetPrinterData writes) into the record's "PrinterData" subkey, names and
// data as they are (wide: no conversion can change them). FALSE after an
// error line.
static BOOL SavePrinterData(CInstallContext &ctx, HANDLE hPrinter, HKEY hRecord, const char *pszQueue)
{
    DWORD cbNeeded = 0, cValues = 0;
    DWORD dwStatus = EnumPrinterDataExW(hPrinter, kDriverDataKey, NULL, 0, &cbNeeded, &cValues);
    std::vector<BYTE> buffer;
    if (dwStatus == ERROR_MORE_DATA) {
        buffer.assign(cbNeeded + 16, 0);
        dwStatus = EnumPrinterDataExW(hPrinter, kDriverDataKey, buffer.data(), cbNeeded, &cbNeeded, &cValues);
    }
    // A queue without printer data has no such key.
    BOOL bNone = dwStatus == ERROR_FILE_NOT_FOUND || (dwStatus == ERROR_SUCCESS && !cValues);
    LogStep(ctx, dwStatus == ERROR_SUCCESS || bNone, "::EnumPrinterDataEx([%s]) R %d Values %d E %d %s", pszQueue,
            dwStatus, cValues, dwStatus, SysErrorText(dwStatus).c_str());
    if (bNone)
        return TRUE;
    if (dwStatus != ERROR_SUCCESS)
        return FALSE;
    HKEY hData = NULL;
    LONG lStatus = RegCreateKeyExA(hRecord, kDataKey, 0, NULL, REG_OPTION_NON_VOLATILE, kRecordAccess, NULL, &hData,
                                   NULL);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCreateKeyEx([%s]) E %d %s", kDataKey, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return FALSE;
    const PRINTER_ENUM_VALUESW *pValues = (const PRINTER_ENUM_VALUESW *)buffer.data();
    BOOL bResult = TRUE;
    for (DWORD i = 0; i < cValues && bResult; i++) {
        lStatus = RegSetValueExW(hData, pValues[i].pValueName, 0, pValues[i].dwType, pValues[i].pData,
                                 pValues[i].cbData);
        LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegSetValueEx(PrinterData %d,%d,%d) E %d %s", i,
                pValues[i].dwType, pValues[i].cbData, lStatus, SysErrorText(lStatus).c_str());
        bResult = lStatus == ERROR_SUCCESS;
    }
    RegCloseKey(hData);
    return bResult;
}

// The queue's access list (GetPrinter level 3) into the record's "Security"
// value. A spooler that does not answer level 3 leaves it out (a debug
// line): the queue gets the access list a new queue has. FALSE after an
// error line.
static BOOL SaveSecurity(CInstallContext &ctx, HANDLE hPrinter, HKEY hRecord, const char *pszQueue)
{
    SpoolRecordResult result;
    LPBYTE p = AllocSingleSpoolRecord(SpoolGetPrinterA, hPrinter, 3, &result);
    BOOL bNoLevel = !p && result.dwError == ERROR_INVALID_LEVEL;
    LogStep(ctx, p || bNoLevel, "::GetPrinter([%s],3) R %d E %d %s", pszQueue, result.bResult, result.dwError,
            SysErrorText(result.dwError).c_str());
    if (!p)
        return bNoLevel;
    PSECURITY_DESCRIPTOR pSd = ((PRINTER_INFO_3 *)p)->pSecurityDescriptor;
    BOOL bResult = !pSd || !IsValidSecurityDescriptor(pSd) ||
                   SetRecordValue(ctx, hRecord, "Security", REG_BINARY, pSd, GetSecurityDescriptorLength(pSd));
    FreeSpoolRecord(p);
    return bResult;
}

/* Saves the settings of queue pszQueue into its open record key hRecord
 * (the values above). A queue that is not there has none to save (TRUE,
 * after a debug line). FALSE after an error line: the reinstall must then
 * not remove the queue. */
BOOL SaveQueueSettings(CInstallContext &ctx, HKEY hRecord, const char *pszQueue)
{
    BOOL bMissing = FALSE;
    HANDLE hPrinter = OpenQueue(ctx, pszQueue, &bMissing);
    if (!hPrinter)
        return bMissing;
    PRINTER_INFO_2A *pQueue = ReadQueue(ctx, hPrinter, pszQueue);
    BOOL bResult = pQueue != NULL;
    for (const auto &text : kTexts) {
        const char *psz = bResult ? pQueue->*text.pText : NULL;
        if (psz)
            bResult = SetRecordValue(ctx, hRecord, text.pszValue, REG_SZ, psz, (DWORD)strlen(psz) + 1);
    }
    for (const auto &number : kNumbers) {
        if (bResult)
            bResult = SetRecordValue(ctx, hRecord, number.pszValue, REG_DWORD, &(pQueue->*number.pNumber), 4);
    }
    if (bResult && pQueue->pDevMode)
        bResult = SetRecordValue(ctx, hRecord, "DevMode", REG_BINARY, pQueue->pDevMode,
                                 pQueue->pDevMode->dmSize + pQueue->pDevMode->dmDriverExtra);
    FreeSpoolRecord(pQueue);
    bResult = bResult && SaveSecurity(ctx, hPrinter, hRecord, pszQueue) &&
              SavePrinterData(ctx, hPrinter, hRecord, pszQueue);
    ClosePrinter(hPrinter);
    if (!bResult)
        ctx.LogErr("SaveQueueSettings() [%s]: its settings could not be recorded, nothing removed\r\n", pszQueue);
    return bResult;
}

// A value of the record as bytes (its type in *pdwType); FALSE when it is
// not there, or after an error line when it cannot be read.
static BOOL ReadRecordValue(CInstallContext &ctx, HKEY hKey, const char *pszName, std::vector<BYTE> &bytes,
                            DWORD *pdwType = NULL)
{
    DWORD cb = 0, dwType = 0;
    LONG lStatus = RegQueryValueExA(hKey, pszName, NULL, &dwType, NULL, &cb);
    if (lStatus == ERROR_SUCCESS) {
        bytes.assign(cb + 1, 0);  // one spare byte keeps a text terminated
        lStatus = RegQueryValueExA(hKey, pszName, NULL, &dwType, bytes.data(), &cb);
    }
    if (lStatus != ERROR_SUCCESS) {
        if (lStatus != ERROR_FILE_NOT_FOUND)
            ctx.LogErr("::RegQueryValueEx([%s]) E %d %s", pszName, lStatus, SysErrorText(lStatus).c_str());
        return FALSE;
    }
    bytes.resize(cb);
    if (pdwType)
        *pdwType = dwType;
    return TRUE;
}

// One setting the spooler or the new driver did not take: an error line
// that names it. Always FALSE.
static BOOL NotRestored(CInstallContext &ctx, const char *pszQueue, const char *pszWhat, DWORD dwError)
{
    ctx.LogErr("RestoreQueueSettings() [%s] %s not restored E %d %s", pszQueue, pszWhat, dwError,
               SysErrorText(dwError).c_str());
    return FALSE;
}

// The record's printer record fields and device mode over the queue's own
// (SetPrinter level 2); a device mode the new driver refuses is left out
// and reported, the other fields still set. FALSE after an error line.
static BOOL RestoreFields(CInstallContext &ctx, HANDLE hPrinter, HKEY hRecord, const char *pszQueue,
                          BOOL *pbDevmodeLost)
{
    PRINTER_INFO_2A *pQueue = ReadQueue(ctx, hPrinter, pszQueue);
    if (!pQueue)
        return NotRestored(ctx, pszQueue, "settings", GetLastError());
    PRINTER_INFO_2A info = *pQueue;
    info.pSecurityDescriptor = NULL;  // the access list is set on its own
    std::vector<BYTE> texts[sizeof(kTexts) / sizeof(kTexts[0])];
    for (size_t i = 0; i < sizeof(kTexts) / sizeof(kTexts[0]); i++) {
        DWORD dwType = 0;
        if (ReadRecordValue(ctx, hRecord, kTexts[i].pszValue, texts[i], &dwType) && dwType == REG_SZ) {
            texts[i].push_back(0);
            info.*kTexts[i].pText = (LPSTR)texts[i].data();
        } else if (i < 4) {
            info.*kTexts[i].pText = NULL;  // the old queue had none (not processor, data type, parameters)
        }
    }
    for (const auto &number : kNumbers) {
        std::vector<BYTE> bytes;
        if (ReadRecordValue(ctx, hRecord, number.pszValue, bytes) && bytes.size() == 4)
            memcpy(&(info.*number.pNumber), bytes.data(), 4);
    }
    std::vector<BYTE> devmode;
    BOOL bDevmode = ReadRecordValue(ctx, hRecord, "DevMode", devmode) && devmode.size() >= offsetof(DEVMODEA, dmFields) &&
                    devmode.size() >= (size_t)((DEVMODEA *)devmode.data())->dmSize +
                                           ((DEVMODEA *)devmode.data())->dmDriverExtra;
    if (bDevmode)
        info.pDevMode = (DEVMODEA *)devmode.data();
    BOOL bSet = SetPrinterA(hPrinter, 2, (LPBYTE)&info, 0);
    DWORD dwError = CallError(bSet);
    LogStep(ctx, bSet, "::SetPrinter([%s],2) R %d E %d %s", pszQueue, bSet, dwError, SysErrorText(dwError).c_str());
    if (!bSet && bDevmode) {
        // The new driver may refuse the old printing defaults: the other
        // fields go on with the queue's own defaults. When they do, the
        // defaults alone are lost; when they do not either, the spooler
        // failed, and the whole restore fails (the phase runs again).
        info.pDevMode = pQueue->pDevMode;
        bSet = SetPrinterA(hPrinter, 2, (LPBYTE)&info, 0);
        DWORD dwRetry = CallError(bSet);
        LogStep(ctx, bSet, "::SetPrinter([%s],2) R %d E %d %s", pszQueue, bSet, dwRetry,
                SysErrorText(dwRetry).c_str());
        if (bSet) {
            NotRestored(ctx, pszQueue, "DevMode", dwError);
            *pbDevmodeLost = TRUE;
        }
        dwError = dwRetry;
    }
    if (!bSet)
        NotRestored(ctx, pszQueue, "settings", dwError);
    FreeSpoolRecord(pQueue);
    return bSet;
}

// The access list of the record's descriptor on the queue (SetPrinter level
// 3). FALSE after an error line; TRUE when the record has none.
static BOOL RestoreSecurity(CInstallContext &ctx, HANDLE hPrinter, HKEY hRecord, const char *pszQueue)
{
    std::vector<BYTE> sd;
    if (!ReadRecordValue(ctx, hRecord, "Security", sd))
        return TRUE;
    PACL pDacl = NULL;
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    if (sd.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE) || !IsValidSecurityDescriptor(sd.data()) ||
        GetSecurityDescriptorLength(sd.data()) > sd.size() ||
        !GetSecurityDescriptorDacl(sd.data(), &bPresent, &pDacl, &bDefaulted) || !bPresent)
        return NotRestored(ctx, pszQueue, "Security", ERROR_INVALID_SECURITY_DESCR);
    // Only the access list: the owner is the spooler's to keep, and one the
    // running account may not assign would refuse the whole list.
    SECURITY_DESCRIPTOR dacl;
    InitializeSecurityDescriptor(&dacl, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&dacl, TRUE, pDacl, FALSE);
    DWORD cbRelative = 0;
    MakeSelfRelativeSD(&dacl, NULL, &cbRelative);  // the spooler takes a descriptor in one block
    std::vector<BYTE> relative(cbRelative);
    if (!cbRelative || !MakeSelfRelativeSD(&dacl, relative.data(), &cbRelative))
        return NotRestored(ctx, pszQueue, "Security", GetLastError());
    PRINTER_INFO_3 info = {relative.data()};
    BOOL bSet = SetPrinterA(hPrinter, 3, (LPBYTE)&info, 0);
    DWORD dwError = CallError(bSet);
    LogStep(ctx, bSet, "::SetPrinter([%s],3) R %d E %d %s", pszQueue, bSet, dwError, SysErrorText(dwError).c_str());
    return bSet || NotRestored(ctx, pszQueue, "Security", dwError);
}

// The record's printer data values on the queue's "PrinterDriverData" key
// (SetPrinterDataEx), each on its own. FALSE after an error line for each
// value that was refused.
static BOOL RestorePrinterData(CInstallContext &ctx, HANDLE hPrinter, HKEY hRecord, const char *pszQueue)
{
    HKEY hData = NULL;
    if (RegOpenKeyExA(hRecord, kDataKey, 0, KEY_READ, &hData) != ERROR_SUCCESS)
        return TRUE;  // none recorded
    BOOL bResult = TRUE;
    for (DWORD i = 0;; i++) {
        WCHAR szName[INF_PATH_MAX * 2];
        DWORD cchName = sizeof(szName) / sizeof(szName[0]), dwType = 0, cbData = 0;
        LONG lStatus = RegEnumValueW(hData, i, szName, &cchName, NULL, &dwType, NULL, &cbData);
        if (lStatus == ERROR_NO_MORE_ITEMS)
            break;
        std::vector<BYTE> data(cbData + 2, 0);
        if (lStatus == ERROR_SUCCESS)
            lStatus = RegQueryValueExW(hData, szName, NULL, &dwType, data.data(), &cbData);
        if (lStatus != ERROR_SUCCESS) {
            bResult = NotRestored(ctx, pszQueue, "PrinterData", lStatus);
            break;
        }
        DWORD dwStatus = SetPrinterDataExW(hPrinter, kDriverDataKey, szName, dwType, data.data(), cbData);
        LogStep(ctx, dwStatus == ERROR_SUCCESS, "::SetPrinterDataEx([%s],%d) E %d %s", pszQueue, i, dwStatus,
                SysErrorText(dwStatus).c_str());
        if (dwStatus != ERROR_SUCCESS)
            bResult = NotRestored(ctx, pszQueue, "PrinterData", dwStatus);
    }
    RegCloseKey(hData);
    return bResult;
}

/* Puts the settings that queue record nRecord of this INF holds back on
 * queue pszQueue: the printer record's fields and device mode, the access
 * list and the printer data. A record without settings (written by an
 * earlier version, or the model's own queue a second phase adds) has
 * nothing to put back. What the spooler or the new driver refuses is left
 * out and named in an error line ("RestoreQueueSettings() [queue] <what>
 * not restored"), the rest still set. FALSE when something was left out. */
BOOL RestoreQueueSettings(CInstallContext &ctx, int nRecord, const char *pszQueue, BOOL *pbDevmodeLost)
{
    *pbDevmodeLost = FALSE;
    char szKey[INF_PATH_MAX];
    wsprintfA(szKey, "%.100s\\%.100s\\%d", kRecordsRoot, LogStr(ctx.m_pInfBaseName), nRecord);
    HKEY hRecord = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_READ, &hRecord);
    std::vector<BYTE> attributes;
    if (lStatus != ERROR_SUCCESS || !ReadRecordValue(ctx, hRecord, "Attributes", attributes)) {
        ctx.LogDbg("RestoreQueueSettings() [%s] [%s]: no settings recorded E %d\r\n", pszQueue, szKey, lStatus);
        if (hRecord)
            RegCloseKey(hRecord);
        return TRUE;
    }
    BOOL bMissing = FALSE;
    HANDLE hPrinter = OpenQueue(ctx, pszQueue, &bMissing);
    BOOL bResult = hPrinter != NULL;
    if (hPrinter) {
        bResult = RestoreFields(ctx, hPrinter, hRecord, pszQueue, pbDevmodeLost);
        bResult &= RestoreSecurity(ctx, hPrinter, hRecord, pszQueue);
        bResult &= RestorePrinterData(ctx, hPrinter, hRecord, pszQueue);
        ClosePrinter(hPrinter);
    } else {
        NotRestored(ctx, pszQueue, "settings", ERROR_INVALID_PRINTER_NAME);
    }
    RegCloseKey(hRecord);
    return bResult;
}
