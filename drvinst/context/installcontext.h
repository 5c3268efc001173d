// The installer's working object: one per operation. It holds the command
// line, the system facts, the parsed INF and the collected error text, and
// owns every string and list node it points to.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <string>
#include <vector>

struct StringLink {
    StringLink *pNext;
    char *pKey;
    char *pValue;
};

struct FileLink {
    FileLink *pNext;
    char *pDst;
    char *pSrc;
    char *pTmp;
    char *pFlag;
    char *pDir;
    BOOL bNotDependent;
};

struct RegLink {
    RegLink *pNext;
    char *pRoot;
    char *pSubKey;
    char *pValueName;
    char *pFlag;
    char *pValue;
};

struct InfDirective {
    const char *pKey;
    char *pValue;
    BOOL bList;  // 1: the whole comma list; 0: cut at the first comma
};

// A printer queue that uses this driver; all three strings are owned copies.
struct DrvingLink {
    DrvingLink *pNext;
    char *pPrinterName;
    char *pPortName;
    char *pDriverName;
};

// The installer's own record of a print processor, as AddPrintProcessor takes it.
struct PRNPROC_INFO {
    char *pName;
    char *pEnvironment;
    char *pDLLName;
};

#define INF_SECTION_MAX 0x7FFF  // section text buffer of the reader's callers
#define INF_LINE_MAX 256        // one entry, one value, one %key% name
#define INF_PATH_MAX 256        // every path buffer of the context

class InfCache;
struct InfSection;

class CInstallContext {
public:
    CInstallContext();
    virtual ~CInstallContext();

    // Diagnostic log: one formatted message each, ending in "\r\n".
    // GetErrorText: every error message so far, owned by the context.
    BOOL SetLogFileName(const char *pszName);
    const char *GetErrorText() const { return m_strError.c_str(); }
    void LogDbg(const char *pszFormat, ...);
    void LogErr(const char *pszFormat, ...);
    void LogWrite(const char *pszText);

    // Command line and names (installcontext.cpp, commandline.cpp).
    BOOL ParseCommand();
    BOOL ParseArguments(char *pszCommandLine);
    // Whether the line holds "/quiet", "/qn", "/q" or "/finish" (any case, quoted or not) as a word of
    // its own: read before the line is split, so that a line that does not
    // split still shows no box when it asked for none.
    static BOOL AsksQuiet(const char *pszCommandLine);
    BOOL SetInfFileName(const char *psz);
    BOOL SetPrinterName(const char *psz);
    BOOL SetPortName(const char *psz);
    BOOL SetQueueName(const char *psz);
    const char *GetInfFileName() const { return m_pInfFileName; }
    const char *GetPrinterName() const { return m_pPrinterName; }
    const char *GetPortName() const { return m_pPortName; }
    BOOL SetInfDirBase();

    // System facts and the working folder (sysinfo.cpp, sysversion.cpp,
    // filecopy.cpp).
    BOOL SetupSysInfo();
    void LogSystemVersion();
    BOOL IsWow64();
    char *AllocCurrentDevicePath();
    BOOL CopyFileOverwrite(const char *pszSource, const char *pszTarget, BOOL bInUseAsked = FALSE);
    BOOL CopyToTemp();
    // The per-machine working folder (machinefolder.cpp): SetupWorkingFolder
    // sets m_pTempDirName; CheckMachineFolder tells whether only SYSTEM,
    // Administrators (and this administrator) own and may change a folder.
    BOOL SetupWorkingFolder();
    BOOL ReadProgramsDir(char *pszOut, DWORD cbOut);
    BOOL CheckMachineFolder(const char *pszFolder);
    BOOL ReadyMachineFolder(const char *pszFolder);

    // INF text reader (infreader.cpp, inflists.cpp).
    DWORD GetPrivateProfileSectionReadOnly(const char *pszSection, char *pBuffer, DWORD cbBuffer,
                                           const char *pszPath);
    BOOL GetFirstLineTextW95(const char *pszSection, const char *pszKey, char *pszOut, DWORD cbOut);
    BOOL GetIndexLineTextW95(const char *pszSection, int nIndex, char *pszOut, DWORD cbOut);
    int GetLineCountW95(const char *pszSection);
    int GetIndexLineFields(const char *pszSection, int nIndex, char (*aszFields)[INF_LINE_MAX], int nFields);
    // The forms the INF parse calls; they forward to the W95 forms everywhere.
    BOOL GetFirstLineText(const char *pszSection, const char *pszKey, char *pszOut, DWORD cbOut)
    {
        return GetFirstLineTextW95(pszSection, pszKey, pszOut, cbOut);
    }
    BOOL GetIndexLineText(const char *pszSection, int nIndex, char *pszOut, DWORD cbOut)
    {
        return GetIndexLineTextW95(pszSection, nIndex, pszOut, cbOut);
    }
    BOOL ListStringDirectiveW95();
    StringLink *AddStringLinkW95(const char *pszKey, const char *pszValue);
    FileLink *AddFileLink(const char *pszDst, const char *pszSrc, const char *pszTmp, const char *pszFlag,
                          const char *pszDir);
    RegLink *AddRegLink(const char *pszRoot, const char *pszSubKey, const char *pszValueName,
                        const char *pszFlag, const char *pszValue);
    void FreeStringLinks();
    int RemoveQuotes(const char *pszIn, char *pszOut);
    int ExpandStringKeys(const char *pszIn, char *pszOut);
    int ExpandLine(const char *pszIn, char *pszOut);
    static BOOL IsBlankOrComment(const char *psz);

    // INF models and install sections (infmodels.cpp, infsections.cpp).
    BOOL FindFirstInf(std::string &strPath);
    BOOL IsPrinterInf(const char *pszPath);
    BOOL FindInfPrinters(std::vector<std::string> &models);
    BOOL FindInfPrinters(std::string &strList);
    BOOL ParseInf();
    const char *GetDirective(const char *pszKey) const;
    const char *GetPorts() const { return GetDirective("Ports"); }
    const char *GetComPortSettings() const { return GetDirective("ComPortSettings"); }
    BOOL GetDestDir(const char *pszSection, char *pszOut, DWORD cbOut);
    BOOL ParseCopyFilesItem(const char *pszItem);
    BOOL ParseAddRegSection(const char *pszItem);
    char *AllocDependentFiles();

public:
    BOOL m_bInstall;
    BOOL m_bUninstall;
    BOOL m_bReinstall;
    BOOL m_bCopy;
    BOOL m_bRunOnce;
    BOOL m_bDialogShown;
    // The switches of an unattended run (commandline.cpp): "/quiet", no
    // window, the result in the exit code and the log; "/forcerestart", a
    // quiet first phase restarts the computer; "/?", the usage text;
    // m_strLogPath, the path after "/log" ("" when not given); m_bBadCommand,
    // an unknown switch, a "/log" without its path or a fifth argument;
    // m_bLineSplit, the line split and these were set from it.
    BOOL m_bQuiet = FALSE;
    BOOL m_bFinish = FALSE;  // "/finish": run every pending second phase
    BOOL m_bForceRestart = FALSE;
    BOOL m_bNoRestart = FALSE;  // "/norestart": accepted; with "/forcerestart" a bad command line
    // "/addqueue": a quiet install adds a further queue of a model that has
    // one already (the dialog always does, under "<model> (<n>)").
    BOOL m_bAddQueue = FALSE;
    BOOL m_bAlreadyInstalled = FALSE;  // set by Excecute: the quiet install found it all there
    BOOL m_bPrepIncomplete = FALSE;    // set by Excecute: a second phase's INF was not read whole
    size_t m_cchErrorBeforePrep = 0;   // m_strError's length when RunOperation began its preparation
    BOOL m_bUsage = FALSE;
    BOOL m_bBadCommand = FALSE;
    BOOL m_bLineSplit = FALSE;
    std::string m_strLogPath;
    // What Excecute leaves for the program's result (engine/execute.cpp):
    // m_bRestartPending, a second phase is registered under RunOnce and waits
    // for the next start; m_bRestartStarted, the restart was asked for and
    // Windows accepted; m_bPendingRefused, the operation was refused, changing
    // nothing, because a second phase of this INF is still pending
    // (m_strPendingCommand holds its RunOnce command) or another run of the
    // INF holds its lock (m_strPendingCommand empty; a second phase that
    // found it held has registered itself again).
    BOOL m_bRestartPending;
    BOOL m_bRestartStarted;
    BOOL m_bPendingRefused;
    BOOL m_bReplaceAtRestart;  // a file waits for the restart to be replaced or deleted
    BOOL m_bRestartFailed;     // the operation was done, the restart it asked for failed
    BOOL m_bPhaseFinished = FALSE;  // a second phase did all its work: it is no longer pending
    BOOL m_bMonitorAdded = FALSE;   // AddMon registered the monitor (not there before)
    BOOL m_bProcAdded = FALSE;      // AddProc added the print processor
    BOOL m_bSettingsLost = FALSE;   // a queue came back without some of its settings (named in m_strError)
    std::string m_strPendingCommand;
    // The dialogs Excecute shows (enginedialogs.h): set by the program before
    // Excecute, not owned; NULL until set.
    class CEngineDialogs *m_pDialogs = NULL;
    char *m_pLogFileName;
    std::string m_strError;
    char *m_pExeFileName;
    char *m_pExeDirName;
    char *m_pExeBaseName;
    char *m_pCommandLine;
    char *m_pInfFileName;
    char *m_pPrinterName;
    char *m_pPortName;
    char *m_pQueueName;
    char *m_pInfDirName;
    char *m_pInfBaseName;
    char *m_pTempDirName;
    char *m_pDrvSrcDir;
    LANGID m_wLangID;
    OSVERSIONINFOA m_osvi;
    BOOL m_bWinNT;
    char *m_pDevicePath;
    char *m_pPrnDrvDir;
    char *m_pInstallSection;
    char *m_pHardwareID;
    InfDirective *m_pInfDirective;
    FileLink *m_pFileLink;
    RegLink *m_pRegLink;
    StringLink *m_pStringLink;

    // Spooler components (engine/): the records built from the install
    // section, the spooler's lists and the queues that use this driver. Every
    // string of the four records is an owned copy. SetupSysInfo, ParseInf and
    // SetupSplInfo come first; each operation returns 1 or 0 and logs its steps.
    BOOL SetupSplInfo();
    BOOL EnumProc();
    BOOL EnumDrv();
    BOOL EnumPrn();
    const char *FindUsingDriver(const char *pszFile, char *pszName, DWORD cbName = INF_PATH_MAX);
    BOOL AddMon();
    BOOL AddProc();
    BOOL AddDrv();
    BOOL AddQueue();
    BOOL AddQueueNamed(const char *pszName);
    BOOL DelMon();
    BOOL DelProc();
    BOOL DelProcW95(const char *pszName);
    BOOL DelDrv();
    BOOL DelPrn();
    BOOL DelQueueNamed(const char *pszName);
    DrvingLink *AddDrvingLink(const char *pszPrinter, const char *pszPort, const char *pszDriver);
    void FreeDrvingLink();
    BOOL ListDrvingLink();
    void FreeSplRecords();  // the four records' strings, records zeroed
    MONITOR_INFO_2A m_MonitorInfo2;
    PRNPROC_INFO m_PrnProcInfo;
    DRIVER_INFO_3A m_DriverInfo3;
    PRINTER_INFO_2A m_PrinterInfo2;
    LPBYTE m_pEnumProc1;  // PRINTPROCESSOR_INFO_1A records
    DWORD m_cEnumProc1;
    LPBYTE m_pEnumDrv3;   // DRIVER_INFO_3A records
    DWORD m_cEnumDrv3;
    LPBYTE m_pEnumPrn2;   // PRINTER_INFO_2A records
    DWORD m_cEnumPrn2;
    DrvingLink *m_pDrvingLink;
    std::string m_strQueueAdded;  // the queue the last AddQueueNamed made

    // Port and device registry (engine/devreg.cpp): the queue records kept
    // under the maker's key across a reinstall's restart, the model's
    // parallel-port device entries, its Windows 95/98 USB entry. SetupSysInfo
    // and ParseInf come first; each returns 1 or 0 and logs its steps.
    // Paths are relative to HKEY_LOCAL_MACHINE.
    BOOL SaveDrvingLink();
    BOOL LoadDrvingLink();
    BOOL DelRegUsbPrint();
    BOOL AddRegLptEnum();
    BOOL CreateEnumKey(const char *pszParent, const char *pszName);
    BOOL SetEnumKeyValues(const char *pszPath);

    // Driver files and registry lines (engine/files.cpp, engine/reglines.cpp):
    // the file list copied to its directories with the INF, deleted again
    // unless another driver uses it, the system's INF copies removed, the
    // registry lines written and removed, installed files compared with the
    // new ones. After SetupSysInfo, ParseInf and SetupSplInfo; each returns
    // 1 or 0 and logs its steps. Paths are composed in 256-byte buffers.
    BOOL CopyInfFiles();
    BOOL CheckPackageFiles();
    BOOL CopyFileNoOverwrite(const char *pszSource, const char *pszTarget);
    BOOL MakeFolder(const char *pszDir);
    BOOL DelFile(const char *pszPath, BOOL bInUseStays = FALSE);
    BOOL DelFiles(BOOL bInUseStays = FALSE);
    BOOL DelOemInf();
    BOOL AddReg();
    BOOL DelReg();
    BOOL DiffDriverFiles(char *pszName, DWORD cbName = INF_PATH_MAX);
    BOOL DiffFile(const char *pszInstalled, const char *pszNew);
    // Files in use (engine/restartfiles.cpp): replaced or deleted by Windows
    // NT at the next restart; m_bReplaceAtRestart says some file waits so.
    BOOL ReplaceFileAtRestart(const char *pszSource, const char *pszTarget,
                              const std::vector<std::string> &dropFirst);
    BOOL DeleteFileAtRestart(const char *pszPath);
    BOOL DropRestartOperations(const std::vector<std::string> &targets);
    BOOL DropRestartOperations(const char *pszTarget);

    // The execution sequence (engine/execute.cpp, engine/restart.cpp): an
    // install, or one phase of an uninstall or reinstall, as the mode flags
    // say, with the RunOnce entry of the second phase, the restart and the
    // model's entry in the list of installed software. After ParseCommand (the
    // working-folder copy and the RunOnce command name the program),
    // SetupSysInfo, ParseInf and SetupSplInfo; m_pDialogs may be NULL (then
    // no dialog, no restart). Each returns 1 or 0 and logs its steps; on 0
    // m_strError holds the text to show.
    BOOL Excecute();
    // SetupSysInfo, ParseInf, SetupSplInfo and Excecute, pDialogs (the
    // caller's, or NULL) in m_pDialogs for this call only.
    BOOL RunOperation(class CEngineDialogs *pDialogs);
    BOOL ExcecuteSteps();  // Excecute's blocks, under the INF's lock (engine/inflock.cpp)
    // A quiet install's checks (engine/installcheck.cpp).
    BOOL FindModelQueue(BOOL *pbOnPort, std::string &strOtherPort);
    BOOL CheckRepeatedInstall(BOOL *pbDone, BOOL *pbRefresh);
    BOOL AddRunOnce();
    BOOL RestartWindows();
    BOOL AddUninstallKey();
    BOOL DelUninstallKey();
    BOOL FindUninstallKey(BOOL *pbListed);
    BOOL FindPendingPhase();
    // A second phase's own registration (engine/pendingphase.cpp): written
    // back first, removed once finished; "/finish" runs every pending one.
    void KeepPhaseRegistered();
    BOOL ClearPendingPhase();
    DWORD FinishPendingPhases();
    // The installer's kept copy for the Uninstall entry (engine/keptcopy.cpp):
    // the working folder, "<ProgramFilesDir>\Ostrel\Ostrel<INF name>".
    const char *KeptFolder();
    BOOL CopyToWorkingFolder();
    BOOL DelKeptFolder();
    // The generic USB port, for a printer not plugged in yet ("USB"), gets
    // no queue: "USB" in any case at the start, and not six characters ending
    // in three digits (USB001 is a real port). NULL is no USB port.
    static BOOL IsGenericUsbPort(const char *pszPort);

private:
    CInstallContext(const CInstallContext &) = delete;
    CInstallContext &operator=(const CInstallContext &) = delete;

    void LogLine(BOOL bError, const char *pszMessage);
    BOOL ResolveInfFileName();
    void LogLanguage();
    BOOL CheckOrCreateFolder(const char *pszFolder, BOOL bCreate);
    BOOL StoreSysString(char *&pszMember, const char *psz, const char *pszName);
    InfSection *ReadSection(const char *pszPath, const char *pszSection);
    InfSection *ReadQueriedSection(const char *pszSection);
    const char *ReadIndexEntry(const char *pszSection, int nIndex, const std::string *&pExpanded);
    BOOL ExpandKeys(const char *pszIn, char *pszOut, int &cchOut);
    BOOL ExpandField(const char *pBegin, const char *pEnd, char *pszOut);
    BOOL SplitPathMembers(const char *pszPath, char *&pszDir, char *&pszBase, const char *pszNoLast,
                          const char *pszNoDir, const char *pszNoBase);
    void LogStringTable();
    BOOL ReadModelsSection(char *pszModels, DWORD cbModels, const char *pszFailure);

    // Read-through copy of the INF and of the sections read from it, so that
    // a query costs no rescan of the file (infcache.cpp).
    InfCache *m_pInfCache;
    DWORD m_dwStringGeneration;  // changes whenever the string table does
    DWORD m_cLongLineRefusals;   // sections refused for a line too long, so far
    // Last nodes appended, for appends in constant time (inflists.cpp).
    StringLink *m_pStringTail;
    FileLink *m_pFileTail;
    RegLink *m_pRegTail;
};

// The errors of a file another process holds open or has mapped: it can be
// replaced or deleted only at the next restart (filecopy.cpp).
BOOL IsFileInUseError(DWORD dwError);

// "E %d %s" tail of a system-call message: the code's system text, which
// ends in a line break, or "\r\n" alone.
class SysErrorText {
public:
    explicit SysErrorText(DWORD dwError);
    const char *c_str() const { return m_szText; }

private:
    char m_szText[512];
};
