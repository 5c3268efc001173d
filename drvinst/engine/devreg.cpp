// The installer's registry work beside the spooler: the queue records saved
// under the maker's key across a reinstall's restart, the model's device
// entries under the parallel-port enumerator, and its Windows 95/98 USB entry.
#include "installcontext.h"
#include "keydacl.h"
#include "queuesettings.h"
#include "splstr.h"
#include "steplog.h"
#include <initializer_list>
#include <string.h>
#include <string>

static const char kRecordsRoot[] = "SOFTWARE\\Ostrel";
static const char kRawPortKey[] = "SYSTEM\\CurrentControlSet\\Enum\\LPTENUM\\MicrosoftRawPort";
static const char kLptEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\LPTENUM";
static const char kUsbPrintKey[] = "Enum\\USBPRINT";
static const REGSAM kRecordAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;  // 0x2001F
static const char *const kRecordValues[] = {"PrinterName", "PortName", "DriverName"};

// Joins the parts into a name buffer of INF_PATH_MAX bytes. FALSE, with the
// buffer emptied, when the whole text and its NUL would not fit: a name is
// never cut.
static BOOL ComposeName(char *pszOut, std::initializer_list<const char *> parts)
{
    size_t cch = 0;
    for (const char *psz : parts) {
        size_t cchPart = strlen(psz);
        if (cch + cchPart >= INF_PATH_MAX) {
            pszOut[0] = 0;
            return FALSE;
        }
        memcpy(pszOut + cch, psz, cchPart);
        cch += cchPart;
    }
    pszOut[cch] = 0;
    return TRUE;
}

// The records key of this INF file, "SOFTWARE\\Ostrel\\<INF name>", into a
// name buffer; FALSE after the caller's error line when there is no INF name
// (pszNoName) or the path does not fit (pszLength).
static BOOL RecordsKeyPath(CInstallContext &ctx, char *pszPath, const char *pszNoName, const char *pszLength)
{
    if (!ctx.m_pInfBaseName) {
        ctx.LogErr("%s", pszNoName);
        return FALSE;
    }
    if (!ComposeName(pszPath, {kRecordsRoot, "\\", ctx.m_pInfBaseName})) {
        ctx.LogErr("%s", pszLength);
        return FALSE;
    }
    return TRUE;
}

// Empties the records key: its subkeys are enumerated at index 0 and deleted
// until none is left. FALSE after an error line.
static BOOL DeleteRecords(CInstallContext &ctx, HKEY hRecords)
{
    for (;;) {
        char szName[INF_PATH_MAX];
        DWORD cchName = sizeof(szName);
        LONG lStatus = RegEnumKeyExA(hRecords, 0, szName, &cchName, NULL, NULL, NULL, NULL);
        if (lStatus != ERROR_SUCCESS) {
            BOOL bEnd = lStatus == ERROR_NO_MORE_ITEMS;
            LogStep(ctx, bEnd, "::RegEnumKeyEx E %d %s", lStatus, SysErrorText(lStatus).c_str());
            return bEnd;
        }
        ctx.LogDbg("::RegEnumKeyEx [%s] E %d %s", szName, lStatus, SysErrorText(lStatus).c_str());
        // A record's printer data first: a key with subkeys cannot be deleted.
        std::string strData = std::string(szName) + "\\PrinterData";
        lStatus = RegDeleteKeyA(hRecords, strData.c_str());
        if (lStatus != ERROR_SUCCESS && lStatus != ERROR_FILE_NOT_FOUND) {
            ctx.LogErr("::RegDeleteKey([%s]) E %d %s", strData.c_str(), lStatus, SysErrorText(lStatus).c_str());
            return FALSE;
        }
        lStatus = RegDeleteKeyA(hRecords, szName);
        LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegDeleteKey([%s]) E %d %s", szName, lStatus,
                SysErrorText(lStatus).c_str());
        if (lStatus != ERROR_SUCCESS)
            return FALSE;
    }
}

// Writes one queue as record subkey "<n>" with its three REG_SZ values and
// its settings (SaveQueueSettings).
// FALSE after an error line; the record key is closed on every path.
static BOOL WriteRecord(CInstallContext &ctx, HKEY hRecords, int nRecord, const DrvingLink &link)
{
    char szNumber[16];
    wsprintfA(szNumber, "%d", nRecord);
    HKEY hRecord = NULL;
    LONG lStatus = RegCreateKeyExA(hRecords, szNumber, 0, NULL, REG_OPTION_NON_VOLATILE, kRecordAccess, NULL,
                                   &hRecord, NULL);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCreateKeyEx(1,[%s]) E %d %s", szNumber, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return FALSE;
    const char *apszData[] = {link.pPrinterName, link.pPortName, link.pDriverName};
    for (int i = 0; i < 3; i++) {
        lStatus = RegSetValueExA(hRecord, kRecordValues[i], 0, REG_SZ, (const BYTE *)apszData[i],
                                 (DWORD)strlen(apszData[i]) + 1);
        LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s],[%s]) E %d %s", kRecordValues[i], apszData[i],
                lStatus, SysErrorText(lStatus).c_str());
        if (lStatus != ERROR_SUCCESS) {
            RegCloseKey(hRecord);
            return FALSE;
        }
    }
    // The queue's settings beside its names, so that the second phase puts
    // it back as it was (a driver-only record on the generic port has none).
    if (!CInstallContext::IsGenericUsbPort(link.pPortName) && !SaveQueueSettings(ctx, hRecord, link.pPrinterName)) {
        RegCloseKey(hRecord);
        return FALSE;
    }
    lStatus = RegCloseKey(hRecord);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCloseKey(1) E %d %s", lStatus, SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS;
}

/* Replaces the records of this INF file (HKLM "SOFTWARE\\Ostrel\\<INF name>",
 * subkeys "0", "1" ...) by the DrvingLink list, in order; needs m_pInfBaseName.
 * A name LoadDrvingLink could not read back (over 255 characters) fails before
 * anything is written. 1, or 0 after an error line. */
BOOL CInstallContext::SaveDrvingLink()
{
    char szPath[INF_PATH_MAX];
    if (!RecordsKeyPath(*this, szPath, "SaveDrvingLink() m_pInfBaseName\r\n", "SaveDrvingLink() Length\r\n"))
        return FALSE;
    for (const DrvingLink *p = m_pDrvingLink; p; p = p->pNext) {
        for (const char *psz : {p->pPrinterName, p->pPortName, p->pDriverName}) {
            if (strlen(psz) >= INF_PATH_MAX) {
                LogErr("SaveDrvingLink() Length\r\n");
                return FALSE;
            }
        }
    }
    HKEY hRecords = NULL;
    LONG lStatus = RegCreateKeyExA(HKEY_LOCAL_MACHINE, szPath, 0, NULL, REG_OPTION_NON_VOLATILE, kRecordAccess,
                                   NULL, &hRecords, NULL);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCreateKeyEx(0,[%s]) E %d %s", szPath, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return FALSE;
    BOOL bWritten = DeleteRecords(*this, hRecords);
    int nRecord = 0;
    for (const DrvingLink *p = m_pDrvingLink; bWritten && p; p = p->pNext)
        bWritten = WriteRecord(*this, hRecords, nRecord++, *p);
    if (!bWritten) {
        RegCloseKey(hRecords);
        return FALSE;
    }
    lStatus = RegCloseKey(hRecords);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCloseKey(0) E %d %s", lStatus, SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS;
}

// Reads a value as text into a name buffer of INF_PATH_MAX bytes, terminated
// whatever the value's type and stored length: the text ends at the data's
// first NUL or its end. Data that holds no NUL within the buffer's 256 bytes
// does not fit and answers ERROR_MORE_DATA, as a longer value does.
static LONG QueryValueText(HKEY hKey, const char *pszName, char *pszOut)
{
    DWORD cbData = INF_PATH_MAX;
    LONG lStatus = RegQueryValueExA(hKey, pszName, NULL, NULL, (LPBYTE)pszOut, &cbData);
    if (lStatus != ERROR_SUCCESS)
        return lStatus;
    if (cbData > INF_PATH_MAX)
        cbData = INF_PATH_MAX;  // never trust the reported size beyond the buffer
    if (memchr(pszOut, 0, cbData))
        return ERROR_SUCCESS;
    if (cbData == INF_PATH_MAX)
        return ERROR_MORE_DATA;
    pszOut[cbData] = 0;
    return ERROR_SUCCESS;
}

// Reads record "<n>" (already open) into a new DrvingLink. FALSE after an
// error line; the caller closes the keys.
static BOOL ReadRecord(CInstallContext &ctx, HKEY hRecord)
{
    char aszData[3][INF_PATH_MAX];
    for (int i = 0; i < 3; i++) {
        LONG lStatus = QueryValueText(hRecord, kRecordValues[i], aszData[i]);
        if (lStatus != ERROR_SUCCESS) {
            ctx.LogErr("::RegQueryValueEx([%s]) E %d %s", kRecordValues[i], lStatus, SysErrorText(lStatus).c_str());
            return FALSE;
        }
        ctx.LogDbg("::RegQueryValueEx([%s]) [%s] E %d %s", kRecordValues[i], aszData[i], lStatus,
                   SysErrorText(lStatus).c_str());
    }
    return ctx.AddDrvingLink(aszData[0], aszData[1], aszData[2]) != NULL;
}

/* Replaces the DrvingLink list by this INF file's records "0", "1" ... up to
 * the first number that does not exist; needs m_pInfBaseName. 0 after an
 * error line when there is no records key (the list stays as it was), a
 * record cannot be opened, or lacks a value or holds one over 255 characters. */
BOOL CInstallContext::LoadDrvingLink()
{
    char szPath[INF_PATH_MAX];
    if (!RecordsKeyPath(*this, szPath, "LoadDrvingLink() m_pInfBaseName\r\n", "LoadDrvingLink() Length\r\n"))
        return FALSE;
    HKEY hRecords = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szPath, 0, KEY_READ, &hRecords);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegOpenKeyEx([%s]) E %d %s", szPath, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return FALSE;
    FreeDrvingLink();
    for (int nRecord = 0;; nRecord++) {
        char szNumber[16];
        wsprintfA(szNumber, "%d", nRecord);
        HKEY hRecord = NULL;
        lStatus = RegOpenKeyExA(hRecords, szNumber, 0, KEY_READ, &hRecord);
        LogStep(*this, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND, "::RegOpenKeyEx([%s]) E %d %s",
                szNumber, lStatus, SysErrorText(lStatus).c_str());
        if (lStatus == ERROR_FILE_NOT_FOUND)
            break;  // the records end at the first missing number
        if (lStatus != ERROR_SUCCESS) {  // a record that cannot be read is not the end of the records
            RegCloseKey(hRecords);
            SetLastError(lStatus);
            return FALSE;
        }
        if (!ReadRecord(*this, hRecord)) {
            RegCloseKey(hRecord);
            RegCloseKey(hRecords);
            return FALSE;
        }
        lStatus = RegCloseKey(hRecord);
        LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());
        if (lStatus != ERROR_SUCCESS) {
            RegCloseKey(hRecords);
            return FALSE;
        }
    }
    lStatus = RegCloseKey(hRecords);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS;
}

/* Windows 95/98: deletes the model's key under HKLM "Enum\\USBPRINT" (named
 * like m_pHardwareID, compared without regard to case). 1 when it is gone or
 * was never there, and at once on Windows NT; 0 after an error line. */
BOOL CInstallContext::DelRegUsbPrint()
{
    if (m_bWinNT)
        return TRUE;
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUsbPrintKey, 0, kRecordAccess, &hKey);
    LogDbg("::RegOpenKeyEx([%s]) E %d %s", kUsbPrintKey, lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return TRUE;  // no USB printer was ever enumerated
    for (DWORD dwIndex = 0;; dwIndex++) {
        char szName[INF_PATH_MAX];
        DWORD cchName = sizeof(szName);
        lStatus = RegEnumKeyExA(hKey, dwIndex, szName, &cchName, NULL, NULL, NULL, NULL);
        if (lStatus != ERROR_SUCCESS) {
            BOOL bEnd = lStatus == ERROR_NO_MORE_ITEMS;
            LogStep(*this, bEnd, "::RegEnumKeyEx(%d) E %d %s", dwIndex, lStatus, SysErrorText(lStatus).c_str());
            if (bEnd)
                break;
            RegCloseKey(hKey);
            return FALSE;
        }
        LogDbg("::RegEnumKeyEx(%d) [%s] E %d %s", dwIndex, szName, lStatus, SysErrorText(lStatus).c_str());
        if (!m_pHardwareID || StrCmpI(m_pHardwareID, szName))
            continue;
        lStatus = RegDeleteKeyA(hKey, szName);
        LogStep(*this, lStatus == ERROR_SUCCESS, "::RegDeleteKey([%s]) E %d %s", szName, lStatus,
                SysErrorText(lStatus).c_str());
        if (lStatus != ERROR_SUCCESS) {
            RegCloseKey(hKey);
            return FALSE;
        }
    }
    lStatus = RegCloseKey(hKey);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS;
}

// For each raw-port instance (under the open hRawPort) whose name holds the
// port's stem, the model's entry "<instance>.4" under LPTENUM\<hardware id>
// with its "Class" and "ConfigFlags". FALSE after an error line at the first
// failure, also when a name composed from the instance would not fit.
static BOOL AddLptEnumEntries(CInstallContext &ctx, HKEY hRawPort)
{
    char szStem[INF_PATH_MAX], szModelKey[INF_PATH_MAX];
    if (!ComposeName(szStem, {ctx.m_pPortName}) || !ComposeName(szModelKey, {kLptEnumKey, "\\", ctx.m_pHardwareID})) {
        ctx.LogErr("AddRegLptEnum() Length\r\n");
        return FALSE;
    }
    if (char *pColon = (char *)FindCharA(szStem, ':'))
        *pColon = 0;  // LPT1: gives LPT1
    for (DWORD dwIndex = 0;; dwIndex++) {
        char szName[INF_PATH_MAX];
        DWORD cchName = sizeof(szName);
        LONG lStatus = RegEnumKeyExA(hRawPort, dwIndex, szName, &cchName, NULL, NULL, NULL, NULL);
        if (lStatus != ERROR_SUCCESS) {
            BOOL bEnd = lStatus == ERROR_NO_MORE_ITEMS;
            LogStep(ctx, bEnd, "::RegEnumKeyEx([%s],%d) E %d %s", kRawPortKey, dwIndex, lStatus,
                    SysErrorText(lStatus).c_str());
            return bEnd;
        }
        ctx.LogDbg("::RegEnumKeyEx([%s],%d) [%s] E %d %s", kRawPortKey, dwIndex, szName, lStatus,
                   SysErrorText(lStatus).c_str());
        if (!StrStrI(szName, szStem))
            continue;
        char szEntry[INF_PATH_MAX], szEntryPath[INF_PATH_MAX];
        if (!ComposeName(szEntry, {szName, ".4"}) || !ComposeName(szEntryPath, {szModelKey, "\\", szEntry})) {
            ctx.LogErr("AddRegLptEnum() Length\r\n");
            return FALSE;
        }
        if (!ctx.CreateEnumKey(kLptEnumKey, ctx.m_pHardwareID) || !ctx.CreateEnumKey(szModelKey, szEntry) ||
            !ctx.SetEnumKeyValues(szEntryPath))
            return FALSE;
    }
}

/* Gives the model (m_pHardwareID) an entry under HKLM "...\\Enum\\LPTENUM"
 * beside each raw parallel-port instance of its port (m_pPortName). 1 when all
 * are there, or there is no raw-port enumerator (Windows 95/98) or no hardware
 * id; 0 after an error line. Access lists opened on the way are put back. */
BOOL CInstallContext::AddRegLptEnum()
{
    HKEY hRawPort = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRawPortKey, 0, KEY_READ, &hRawPort);
    BOOL bNoEnumerator = lStatus == ERROR_FILE_NOT_FOUND;
    LogStep(*this, lStatus == ERROR_SUCCESS || bNoEnumerator, "::RegOpenKeyEx([%s]) E %d %s", kRawPortKey,
            lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return bNoEnumerator;
    BOOL bResult = TRUE;
    if (!m_pHardwareID) {
        LogDbg("AddRegLptEnum m_pHardwareID\r\n");
    } else if (!m_pPortName) {
        LogErr("AddRegLptEnum m_pPortName\r\n");
        bResult = FALSE;
    } else {
        bResult = AddLptEnumEntries(*this, hRawPort);
    }
    lStatus = RegCloseKey(hRawPort);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCloseKey [%s] E %d %s", kRawPortKey, lStatus,
            SysErrorText(lStatus).c_str());
    return bResult && lStatus == ERROR_SUCCESS;
}

// Closes a key opened under pszName, with its log line; FALSE on failure.
static BOOL CloseNamedKey(CInstallContext &ctx, HKEY hKey, const char *pszName)
{
    LONG lStatus = RegCloseKey(hKey);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCloseKey [%s] E %d %s", pszName, lStatus,
            SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS;
}

// Opens HKLM\pszPath with the given access, with its log line.
static BOOL OpenNamedKey(CInstallContext &ctx, const char *pszPath, REGSAM samDesired, HKEY *phKey)
{
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0, samDesired, phKey);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegOpenKeyEx([%s]) E %d %s", pszPath, lStatus,
            SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS;
}

// Creates pszName under the open hParent, whose access list is open.
static BOOL CreateNamedKey(CInstallContext &ctx, HKEY hParent, const char *pszName)
{
    HKEY hKey = NULL;
    LONG lStatus = RegCreateKeyExA(hParent, pszName, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE, NULL, &hKey,
                                   NULL);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCreateKeyEx([%s]) E %d %s", pszName, lStatus,
            SysErrorText(lStatus).c_str());
    return lStatus == ERROR_SUCCESS && CloseNamedKey(ctx, hKey, pszName);
}

/* Makes sure HKLM\pszParent\pszName exists. A missing key is created while
 * the parent's access list is open to everyone; the list is put back before
 * the parent is closed, on every path. 1, or 0 after an error line. */
BOOL CInstallContext::CreateEnumKey(const char *pszParent, const char *pszName)
{
    HKEY hParent = NULL;
    // WRITE_DAC and READ_CONTROL: the access list can be read, opened and put back.
    if (!OpenNamedKey(*this, pszParent, KEY_READ | WRITE_DAC, &hParent))
        return FALSE;
    BOOL bResult;
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(hParent, pszName, 0, KEY_READ, &hKey);
    BOOL bMissing = lStatus == ERROR_FILE_NOT_FOUND;
    LogStep(*this, lStatus == ERROR_SUCCESS || bMissing, "::RegOpenKeyEx([%s]) E %d %s", pszName, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus == ERROR_SUCCESS) {
        bResult = CloseNamedKey(*this, hKey, pszName);
    } else if (!bMissing) {
        bResult = FALSE;
    } else {
        KeyDacl dacl(*this, hParent);
        bResult = dacl.OpenToEveryone() && CreateNamedKey(*this, hParent, pszName);
        if (!dacl.Restore())
            bResult = FALSE;
    }
    if (!CloseNamedKey(*this, hParent, pszParent))
        bResult = FALSE;
    return bResult;
}

// Writes "Class" = "Printer" and "ConfigFlags" = 0 through a handle opened
// for writing now that the key's access list is open.
static BOOL WriteEnumValues(CInstallContext &ctx, const char *pszPath)
{
    HKEY hKey = NULL;
    if (!OpenNamedKey(ctx, pszPath, KEY_WRITE, &hKey))
        return FALSE;
    static const char kClass[] = "Printer";
    LONG lStatus = RegSetValueExA(hKey, "Class", 0, REG_SZ, (const BYTE *)kClass, sizeof(kClass));
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s],[%s]) E %d %s", "Class", kClass, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus == ERROR_SUCCESS) {
        DWORD dwFlags = 0;
        lStatus = RegSetValueExA(hKey, "ConfigFlags", 0, REG_DWORD, (const BYTE *)&dwFlags, sizeof(dwFlags));
        LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s],%d) E %d %s", "ConfigFlags", dwFlags, lStatus,
                SysErrorText(lStatus).c_str());
    }
    BOOL bClosed = CloseNamedKey(ctx, hKey, pszPath);
    return lStatus == ERROR_SUCCESS && bClosed;
}

/* Writes "Class" = "Printer" and "ConfigFlags" = 0 into HKLM\pszPath while
 * its access list is open to everyone. The list is read and put back through
 * one handle holding WRITE_DAC and READ_CONTROL throughout. 1, or 0 after an
 * error line (also when the restore fails). */
BOOL CInstallContext::SetEnumKeyValues(const char *pszPath)
{
    HKEY hKey = NULL;
    if (!OpenNamedKey(*this, pszPath, KEY_READ | WRITE_DAC, &hKey))
        return FALSE;
    KeyDacl dacl(*this, hKey);
    BOOL bResult = dacl.OpenToEveryone() && WriteEnumValues(*this, pszPath);
    if (!dacl.Restore())
        bResult = FALSE;
    if (!CloseNamedKey(*this, hKey, pszPath))
        bResult = FALSE;
    return bResult;
}
