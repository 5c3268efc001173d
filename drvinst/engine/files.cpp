// The driver files of a model: copied from the driver source directory to
// their destinations together with the INF, deleted again at uninstall
// unless another installed driver still names them, the system's own copies
// of the INF removed, and the installed files compared with the new ones.
#include "fixedtext.h"
#include "spooler.h"
#include "splstr.h"
#include "steplog.h"
#include <stdio.h>
#include <string.h>

static const char kMaker[] = "Ostrel";  // the INF copy is "Ostrel" + the INF's own name
static const DWORD kCopyNoOverwrite = 16;  // the CopyFiles flag that keeps an existing file

// The GetFileAttributes line of a copy or deletion, at the level bOk picks.
static void LogAttributes(CInstallContext &ctx, BOOL bOk, const char *pszPath, DWORD dwAttr, DWORD dwError)
{
    LogStep(ctx, bOk, "::GetFileAttributes([%s]) R %d E %d %s", LogStr(pszPath), dwAttr, dwError,
            SysErrorText(dwError).c_str());
}

// "<INF directory>\Ostrel<INF name>", the INF's copy, into a 256-byte buffer.
static BOOL FormatInfCopy(CInstallContext &ctx, char *pszOut, size_t cbOut, const char *pszOwner)
{
    return FormatPath(ctx, pszOut, cbOut, pszOwner, "%s\\%s%s", LogStr(ctx.m_pDevicePath), kMaker,
                      LogStr(ctx.m_pInfBaseName));
}

/* Makes sure the folder pszDir exists, creating it and any missing parent
 * (each creation logged). 1, or 0 after an error line. */
BOOL CInstallContext::MakeFolder(const char *pszDir)
{
    DWORD dwAttr = GetFileAttributesA(pszDir);
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return TRUE;
    char szParent[INF_PATH_MAX];
    const char *pSlash = FindLastCharA(pszDir, '\\');
    if (pSlash && pSlash - pszDir > 2 && pSlash - pszDir < INF_PATH_MAX) {  // never "C:" or "\\" alone
        lstrcpynA(szParent, pszDir, (int)(pSlash - pszDir) + 1);
        if (!MakeFolder(szParent))
            return FALSE;
    }
    BOOL bCreated = CreateDirectoryA(pszDir, NULL);
    DWORD dwError = CallError(bCreated);
    BOOL bThere = bCreated || dwError == ERROR_ALREADY_EXISTS;
    LogStep(*this, bThere, "::CreateDirectory([%s]) R %d E %d %s", pszDir, bCreated, dwError,
            SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bThere;
}

static int CompareFiles(const char *pszPath1, const char *pszPath2, BOOL bWinNT);

// Copies one listed file over its target; a target in use is replaced at the
// next restart instead (Windows NT), unless it holds the same bytes already.
// What an earlier run left in the delayed operations for targets (the file
// and the spooler's copies of it) is dropped once the file is in place or
// its replacement is about to be scheduled: a copy that fails leaves it.
// FALSE after its error lines.
static BOOL CopyListedFile(CInstallContext &ctx, const char *pszSource, const char *pszTarget,
                           const std::vector<std::string> &targets)
{
    if (ctx.CopyFileOverwrite(pszSource, pszTarget, ctx.m_bWinNT))
        return ctx.DropRestartOperations(targets);
    DWORD dwError = GetLastError();
    if (!ctx.m_bWinNT || !IsFileInUseError(dwError))
        return FALSE;
    if (CompareFiles(pszTarget, pszSource, TRUE) == 0) {
        ctx.LogDbg("CopyInfFiles() In Use, Same [%s]\r\n", pszTarget);
        return ctx.DropRestartOperations(targets);
    }
    return ctx.ReplaceFileAtRestart(pszSource, pszTarget, targets);
}

/* TRUE when every file of the file list is in m_pDrvSrcDir (its source
 * name, the target name when it has none), the INF and this program in the
 * INF's folder: checked before an install or reinstall changes anything, so
 * that a package folder without its files removes no queue it cannot put
 * back. FALSE after "CheckPackageFiles() Missing [<path>] ::GetFileAttributes
 * R <result> E <code> <text>"
 * for each file that is not there. After SetupSysInfo, ParseInf. */
BOOL CInstallContext::CheckPackageFiles()
{
    BOOL bResult = TRUE;
    std::vector<std::string> paths;
    for (const FileLink *p = m_pFileLink; p; p = p->pNext) {
        const char *pszSourceName = p->pSrc && *p->pSrc ? p->pSrc : p->pDst;
        if (pszSourceName && *pszSourceName)
            paths.push_back(std::string(LogStr(m_pDrvSrcDir)) + "\\" + pszSourceName);
    }
    paths.push_back(LogStr(m_pInfFileName));
    if (m_pExeFileName)
        paths.push_back(m_pExeFileName);
    for (const std::string &path : paths) {
        DWORD dwAttr = GetFileAttributesA(path.c_str());
        if (dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        DWORD dwError = dwAttr == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        LogErr("CheckPackageFiles() Missing [%s] ::GetFileAttributes R %d E %d %s", path.c_str(), dwAttr, dwError,
               SysErrorText(dwError).c_str());
        bResult = FALSE;
    }
    return bResult;
}

/* Copies every file of the file list from m_pDrvSrcDir (its source name, the
 * list's second field, or else its own name) to its directory, created when
 * missing (flag 16 keeps an existing target, any other flag overwrites; a
 * target in use is replaced at the next restart), then the INF to its copy in
 * the system INF directory; what an earlier run left in the delayed
 * operations for these files (and the spooler's copies) is dropped once each
 * is in place, and kept when its copy fails. A failed file is logged with
 * "CopyInfFiles() [<file>]" and the rest still copied; 1 only when all
 * succeeded. After SetupSysInfo, ParseInf. */
BOOL CInstallContext::CopyInfFiles()
{
    BOOL bResult = TRUE;
    char szSource[INF_PATH_MAX];
    char szTarget[INF_PATH_MAX];
    for (const FileLink *p = m_pFileLink; p; p = p->pNext) {
        if (!p->pDst || !*p->pDst || !p->pDir) {  // "dir\" names no file
            LogErr("CopyInfFiles() p->pDst\r\n");
            bResult = FALSE;
            continue;
        }
        const char *pszSourceName = p->pSrc && *p->pSrc ? p->pSrc : p->pDst;
        if (!FormatPath(*this, szSource, sizeof(szSource), "CopyInfFiles", "%s\\%s", LogStr(m_pDrvSrcDir),
                        pszSourceName) ||
            !FormatPath(*this, szTarget, sizeof(szTarget), "CopyInfFiles", "%s\\%s", p->pDir, p->pDst)) {
            bResult = FALSE;  // the Length line names the file
            continue;
        }
        // What an earlier uninstall may have left to delete at the restart:
        // the file and the spooler's copies of a driver file.
        std::vector<std::string> targets{szTarget};
        if (m_bWinNT && SameName(p->pDir, m_pPrnDrvDir)) {
            targets.push_back(std::string(p->pDir) + "\\2\\" + p->pDst);
            targets.push_back(std::string(p->pDir) + "\\3\\" + p->pDst);
        }
        BOOL bCopied =
            MakeFolder(p->pDir) && (p->pFlag && ReadFieldNumber(p->pFlag) == kCopyNoOverwrite
                                        ? CopyFileNoOverwrite(szSource, szTarget) && DropRestartOperations(targets)
                                        : CopyListedFile(*this, szSource, szTarget, targets));
        if (!bCopied) {
            LogErr("CopyInfFiles() [%s]\r\n", p->pDst);
            bResult = FALSE;
        }
    }
    if (!FormatInfCopy(*this, szTarget, sizeof(szTarget), "CopyInfFiles")) {
        bResult = FALSE;
    } else if (!CopyFileOverwrite(LogStr(m_pInfFileName), szTarget) || !DropRestartOperations(szTarget)) {
        LogErr("CopyInfFiles() [%s]\r\n", LogStr(m_pInfBaseName));
        bResult = FALSE;
    }
    return bResult;
}

/* Copies pszSource to pszTarget unless the target exists. 1 when copied or
 * already there (only its GetFileAttributes line is logged), 0 after the
 * CopyFile error line. No directory is created. */
BOOL CInstallContext::CopyFileNoOverwrite(const char *pszSource, const char *pszTarget)
{
    DWORD dwAttr = GetFileAttributesA(pszTarget);
    DWORD dwError = CallError(dwAttr != INVALID_FILE_ATTRIBUTES);
    LogAttributes(*this, TRUE, pszTarget, dwAttr, dwError);
    if (dwAttr != INVALID_FILE_ATTRIBUTES)
        return TRUE;
    BOOL bCopied = CopyFileA(pszSource, pszTarget, FALSE);
    dwError = CallError(bCopied);
    LogStep(*this, bCopied, "::CopyFile([%s][%s]) R %d E %d %s", LogStr(pszSource), LogStr(pszTarget), bCopied,
            dwError, SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bCopied;
}

// Logs a call on one file with its message (the path, the result, the last
// error and its text) at the level the result picks. Passes the result on
// and leaves the call's last error set.
static BOOL LogFileCall(CInstallContext &ctx, BOOL bResult, const char *pszFormat, const char *pszPath)
{
    DWORD dwError = CallError(bResult);
    LogStep(ctx, bResult, pszFormat, LogStr(pszPath), bResult, dwError, SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bResult;
}

/* Deletes the file pszPath, read-only or not. A file in use (Windows NT)
 * stays when bInUseStays (a replacement follows), else it is deleted at the
 * next restart. 1 when deleted, scheduled, kept so, or absent (file or path
 * not found); 0 after an error line, the last error the failing call's. */
BOOL CInstallContext::DelFile(const char *pszPath, BOOL bInUseStays)
{
    DWORD dwAttr = GetFileAttributesA(pszPath);
    DWORD dwError = CallError(dwAttr != INVALID_FILE_ATTRIBUTES);
    if (dwAttr == INVALID_FILE_ATTRIBUTES) {
        BOOL bAbsent = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
        LogAttributes(*this, bAbsent, pszPath, dwAttr, dwError);
        SetLastError(dwError);
        return bAbsent;
    }
    LogAttributes(*this, TRUE, pszPath, dwAttr, dwError);
    if (!LogFileCall(*this, SetFileAttributesA(pszPath, FILE_ATTRIBUTE_NORMAL),
                     "::SetFileAttributes([%s]) R %d E %d %s", pszPath))
        return FALSE;
    BOOL bDeleted = DeleteFileA(pszPath);
    dwError = CallError(bDeleted);
    BOOL bInUse = !bDeleted && m_bWinNT && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY) && IsFileInUseError(dwError);
    LogStep(*this, bDeleted || bInUse, "::DeleteFile([%s]) R %d E %d %s", pszPath, bDeleted, dwError,
            SysErrorText(dwError).c_str());
    SetLastError(dwError);
    if (bDeleted || (bInUse && bInUseStays))
        return TRUE;
    return bInUse && DeleteFileAtRestart(pszPath);
}

// DelFile on the path formed from pszFormat; a path too long is a failure.
template <class... Args>
static BOOL DelFileAt(CInstallContext &ctx, BOOL bInUseStays, const char *pszOwner, const char *pszFormat,
                      Args... args)
{
    char szPath[INF_PATH_MAX];
    return FormatPath(ctx, szPath, sizeof(szPath), pszOwner, pszFormat, args...) && ctx.DelFile(szPath, bInUseStays);
}

/* Removes the model's installed files at uninstall: each listed file that no
 * installed driver names (with its copies in the driver directory's version
 * folders "2" and "3" on Windows NT); then, when no queue uses the driver
 * file any more, the INF copy, its ".PNF" and the system's copies
 * (DelOemInf). A file in use stays when bInUseStays (a reinstall copies its
 * replacement next), else goes at the next restart. Failed deletions are
 * logged and the rest still done; 1 when all succeeded. Refreshes the
 * DrvingLink list and the spooler's lists. */
BOOL CInstallContext::DelFiles(BOOL bInUseStays)
{
    if (!ListDrvingLink())
        return FALSE;
    BOOL bResult = TRUE;
    char szDriver[INF_PATH_MAX];
    for (const FileLink *p = m_pFileLink; p; p = p->pNext) {
        // An empty name would make the file's folder the target (and match
        // every installed driver's files).
        if (!p->pDst || !*p->pDst) {
            LogErr("DelFiles() p->pDst\r\n");
            return FALSE;
        }
        if (FindUsingDriver(p->pDst, szDriver, sizeof(szDriver)))
            continue;  // another installed driver still uses the file
        const char *pszDir = LogStr(p->pDir);
        bResult &= DelFileAt(*this, bInUseStays, "DelFiles", "%s\\%s", pszDir, p->pDst);
        if (m_bWinNT && SameName(p->pDir, m_pPrnDrvDir)) {
            bResult &= DelFileAt(*this, bInUseStays, "DelFiles", "%s\\2\\%s", pszDir, p->pDst);
            bResult &= DelFileAt(*this, bInUseStays, "DelFiles", "%s\\3\\%s", pszDir, p->pDst);
        }
    }
    if (m_pDrvingLink)
        return bResult;  // a queue still uses the driver file: the INF copies stay

    char szPath[INF_PATH_MAX];
    bResult &= FormatInfCopy(*this, szPath, sizeof(szPath), "DelFiles") && DelFile(szPath);

    // The precompiled companion: the text after the name's first period
    // becomes "PNF".
    char szName[INF_PATH_MAX];
    lstrcpynA(szName, LogStr(m_pInfBaseName), sizeof(szName));
    char *pPeriod = (char *)FindCharA(szName, '.');
    if (!pPeriod) {
        LogErr("DelFiles() pPeriod\r\n");
        return FALSE;
    }
    pPeriod[1] = 0;
    bResult &= DelFileAt(*this, FALSE, "DelFiles", "%s\\%s%sPNF", LogStr(m_pDevicePath), kMaker, szName);
    bResult &= DelOemInf();
    return bResult;
}

// TRUE when the INF file holds a line with "=" and the model name (compared
// without regard to case), read in pieces of at most 255 characters. A file
// that cannot be opened never matches.
static BOOL InfNamesModel(const char *pszPath, const char *pszModel)
{
    FILE *pFile = fopen(pszPath, "r");
    if (!pFile)
        return FALSE;
    char szLine[INF_LINE_MAX];
    BOOL bMatch = FALSE;
    while (!bMatch && fgets(szLine, sizeof(szLine), pFile))
        bMatch = FindCharA(szLine, '=') && StrStrI(szLine, pszModel);
    fclose(pFile);
    return bMatch;
}

// Examines one file found in the INF directory: when it names the model it
// is deleted with its ".PNF" (the name from its last period on replaced).
// 0 when a deletion fails or a path does not fit.
static BOOL DelOemInfFile(CInstallContext &ctx, const char *pszName)
{
    char szPath[INF_PATH_MAX];
    if (!FormatPath(ctx, szPath, sizeof(szPath), "DelOemInf", "%s\\%s", LogStr(ctx.m_pDevicePath), pszName))
        return FALSE;
    if (!InfNamesModel(szPath, ctx.m_pPrinterName))
        return TRUE;
    if (!ctx.DelFile(szPath))
        return FALSE;
    const char *pPeriod = FindLastCharA(pszName, '.');
    int cchStem = (int)(pPeriod ? pPeriod - pszName : strlen(pszName));
    return DelFileAt(ctx, FALSE, "DelOemInf", "%s\\%.*s.PNF", LogStr(ctx.m_pDevicePath), cchStem, pszName);
}

/* Deletes the copies of the INF that the system's own installation made in
 * m_pDevicePath ("oem*.inf" on Windows NT, every "*.inf" on Windows 95/98):
 * each that has a line with "=" and the model name, with its ".PNF".
 * 1 when all are gone (none found included), 0 after an error line. A NULL
 * or empty model name would match every such line: it is refused. */
BOOL CInstallContext::DelOemInf()
{
    if (!m_pPrinterName || !*m_pPrinterName) {
        LogErr("DelOemInf() m_pPrinterName\r\n");
        return FALSE;
    }
    char szPattern[INF_PATH_MAX];
    if (!FormatPath(*this, szPattern, sizeof(szPattern), "DelOemInf", "%s\\%s", LogStr(m_pDevicePath),
                    m_bWinNT ? "oem*.inf" : "*.inf"))
        return FALSE;
    WIN32_FIND_DATAA fdNext;
    HANDLE hFind = FindFirstFileA(szPattern, &fdNext);
    DWORD dwError = GetLastError();
    if (hFind == INVALID_HANDLE_VALUE) {
        if (dwError == ERROR_FILE_NOT_FOUND)
            return TRUE;
        LogErr("finder.FindFile R %d E %d %s", 0, dwError, SysErrorText(dwError).c_str());
        SetLastError(dwError);
        return FALSE;
    }
    // The search moves on before a file is examined, as that file may go.
    BOOL bResult = TRUE;
    for (BOOL bMore = TRUE; bMore && bResult;) {
        WIN32_FIND_DATAA fd = fdNext;
        bMore = FindNextFileA(hFind, &fdNext);
        dwError = CallError(bMore);
        if (!bMore && dwError != ERROR_NO_MORE_FILES) {
            LogErr("finder.FindNextFile R %d E %d %s", 0, dwError, SysErrorText(dwError).c_str());
            bResult = FALSE;
            break;
        }
        bResult = DelOemInfFile(*this, fd.cFileName);
    }
    FindClose(hFind);
    return bResult;
}

// Opens a file for reading without locking it against its other users.
static HANDLE OpenForCompare(const char *pszPath, BOOL bWinNT)
{
    // Windows 95/98 refuse FILE_SHARE_DELETE.
    DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | (bWinNT ? FILE_SHARE_DELETE : 0);
    return CreateFileA(pszPath, GENERIC_READ, dwShare, NULL, OPEN_EXISTING, 0, NULL);
}

// 1 when the two open files differ in size or in a byte, read in pieces of
// 64 KB; 0 when equal; -1 when either cannot be read.
static int CompareContents(HANDLE h1, HANDLE h2)
{
    BY_HANDLE_FILE_INFORMATION info1, info2;
    if (!GetFileInformationByHandle(h1, &info1) || !GetFileInformationByHandle(h2, &info2))
        return -1;
    if (info1.nFileSizeHigh != info2.nFileSizeHigh || info1.nFileSizeLow != info2.nFileSizeLow)
        return 1;
    const DWORD kPiece = 64 * 1024;
    char *pBuffers = (char *)AllocSplMem(2 * kPiece);
    if (!pBuffers)
        return -1;
    int nResult = -1;
    for (;;) {
        DWORD cb1 = 0, cb2 = 0;
        if (!ReadFile(h1, pBuffers, kPiece, &cb1, NULL) || !ReadFile(h2, pBuffers + kPiece, kPiece, &cb2, NULL))
            break;
        if (cb1 != cb2 || memcmp(pBuffers, pBuffers + kPiece, cb1)) {
            nResult = 1;
            break;
        }
        if (!cb1) {
            nResult = 0;
            break;
        }
    }
    FreeSplMem(pBuffers);
    return nResult;
}

// CompareContents on two files opened for it: 1 differ, 0 equal, -1 when
// either cannot be opened or read.
static int CompareFiles(const char *pszPath1, const char *pszPath2, BOOL bWinNT)
{
    int nResult = -1;
    HANDLE h1 = OpenForCompare(pszPath1, bWinNT);
    if (h1 != INVALID_HANDLE_VALUE) {
        HANDLE h2 = OpenForCompare(pszPath2, bWinNT);
        if (h2 != INVALID_HANDLE_VALUE) {
            nResult = CompareContents(h1, h2);
            CloseHandle(h2);
        }
        CloseHandle(h1);
    }
    return nResult;
}

/* 1 when the two files differ in size or contents (time stamps are not
 * compared: FAT keeps them in 2-second steps); 0 when both are equal or either
 * cannot be opened or read. Neither file is locked; the last error is kept. */
BOOL CInstallContext::DiffFile(const char *pszInstalled, const char *pszNew)
{
    DWORD dwError = GetLastError();
    BOOL bDiff = CompareFiles(pszInstalled, pszNew, m_bWinNT) == 1;
    SetLastError(dwError);
    return bDiff;
}

/* 1 when an installed copy of a listed file differs from the new one in
 * m_pDrvSrcDir: the spooler's copy that an installed driver names, and, for a
 * file whose destination is not the driver directory (the language monitor,
 * the status monitor, the print processor), also the copy at its destination,
 * which is the one in use. The comparison stops at the first difference.
 * Files no installed driver names (an empty name included) and files with the
 * extension "BPD" are not compared. pszName (cbName bytes, at least 256)
 * receives the name of the last driver looked at. Needs a fresh EnumDrv. */
BOOL CInstallContext::DiffDriverFiles(char *pszName, DWORD cbName)
{
    char szInstalled[INF_PATH_MAX];
    char szNew[INF_PATH_MAX];
    for (const FileLink *p = m_pFileLink; p; p = p->pNext) {
        // An empty name is in every string: it names no installed file.
        const char *pszFound = p->pDst && *p->pDst ? FindUsingDriver(p->pDst, pszName, cbName) : NULL;
        if (!pszFound) {
            LogDbg("Diff [%s] [%s]\r\n", LogStr(p->pDst), LogStr(NULL));
            continue;
        }
        const char *pPeriod = FindCharA(p->pDst, '.');
        if (pPeriod && !StrCmpI(pPeriod + 1, "BPD")) {
            LogDbg("Diff [%s] [%s]\r\n", p->pDst, pszFound);
            continue;
        }
        const char *pszSourceName = p->pSrc && *p->pSrc ? p->pSrc : p->pDst;
        if (!FormatPath(*this, szNew, sizeof(szNew), "DiffDriverFiles", "%s\\%s", LogStr(m_pDrvSrcDir),
                        pszSourceName))
            continue;  // not comparable; the error line says why
        // The spooler names installed files by full path; a bare name lies
        // in the file's destination directory.
        BOOL bPath = strlen(pszFound) >= 3 && IsAbsolutePathA(pszFound)
                         ? FormatPath(*this, szInstalled, sizeof(szInstalled), "DiffDriverFiles", "%s", pszFound)
                         : FormatPath(*this, szInstalled, sizeof(szInstalled), "DiffDriverFiles", "%s\\%s",
                                      LogStr(p->pDir), p->pDst);
        BOOL bDiff = bPath && DiffFile(szInstalled, szNew);
        LogDbg("Diff [%s] [%s] [%s] R %d\r\n", p->pDst, szInstalled, szNew, bDiff);
        if (!bDiff && !SameName(p->pDir, m_pPrnDrvDir) &&
            FormatPath(*this, szInstalled, sizeof(szInstalled), "DiffDriverFiles", "%s\\%s", LogStr(p->pDir),
                       p->pDst)) {
            bDiff = DiffFile(szInstalled, szNew);
            LogDbg("Diff [%s] [%s] [%s] R %d\r\n", p->pDst, szInstalled, szNew, bDiff);
        }
        if (bDiff)
            return TRUE;
    }
    return FALSE;
}
