// The four spooler records of a model, built from its install section: the
// language monitor, the print processor, the driver and the queue template.
#include "installcontext.h"
#include "splstr.h"

// The spooler environment the records name. The Windows NT environment is
// that of the platform the installer was built for, so that the records,
// the spooler's lists (made for the current environment) and the driver
// directory all agree.
static const char *SplEnvironment(BOOL bWinNT)
{
    if (!bWinNT)
        return "Windows 4.0";
#ifdef _WIN64
    return "Windows x64";
#else
    return "Windows NT x86";
#endif
}

// Fills a name, environment and file record from a "name,file" directive:
// owned copies of the text before the first comma, the environment, the text
// after it. A value without a comma is all name, with no file; without the
// directive all three stay NULL.
static void SetupNameFile(const char *pszValue, const char *pszEnvironment, char *&pszName, char *&pszEnv,
                          char *&pszFile)
{
    if (!pszValue)
        return;
    const char *pComma = FindCharA(pszValue, ',');
    pszName = pComma ? AllocSplStrN(pszValue, pComma - pszValue) : AllocSplStr(pszValue);
    pszEnv = AllocSplStr(pszEnvironment);
    pszFile = pComma ? AllocSplStr(pComma + 1) : NULL;
}

// The directive's value, or the fallback when the directive is absent.
static char *CopyDirective(const CInstallContext &ctx, const char *pszKey, const char *pszFallback)
{
    const char *pszValue = ctx.GetDirective(pszKey);
    return AllocSplStr(pszValue ? pszValue : pszFallback);
}

// Builds the four records from the parsed install section (after SetupSysInfo
// and ParseInf) and logs every field; earlier records are freed. Always 1.
BOOL CInstallContext::SetupSplInfo()
{
    FreeSplRecords();
    const char *pszEnvironment = SplEnvironment(m_bWinNT);

    SetupNameFile(GetDirective("LanguageMonitor"), pszEnvironment, m_MonitorInfo2.pName, m_MonitorInfo2.pEnvironment,
                  m_MonitorInfo2.pDLLName);
    LogDbg("MONITOR_INFO_2.pName [%s]\r\n", LogStr(m_MonitorInfo2.pName));
    LogDbg("MONITOR_INFO_2.pEnvironment [%s]\r\n", LogStr(m_MonitorInfo2.pEnvironment));
    LogDbg("MONITOR_INFO_2.pDLLName [%s]\r\n", LogStr(m_MonitorInfo2.pDLLName));

    SetupNameFile(GetDirective("PrintProcessor"), pszEnvironment, m_PrnProcInfo.pName, m_PrnProcInfo.pEnvironment,
                  m_PrnProcInfo.pDLLName);
    LogDbg("PRNPROC_INFO.pName [%s]\r\n", LogStr(m_PrnProcInfo.pName));
    LogDbg("PRNPROC_INFO.pEnvironment [%s]\r\n", LogStr(m_PrnProcInfo.pEnvironment));
    LogDbg("PRNPROC_INFO.pDLLName [%s]\r\n", LogStr(m_PrnProcInfo.pDLLName));

    DRIVER_INFO_3A &di = m_DriverInfo3;
    di.cVersion = 0;
    di.pName = AllocSplStr(m_pPrinterName);
    di.pEnvironment = AllocSplStr(pszEnvironment);
    di.pDriverPath = CopyDirective(*this, "DriverFile", m_pInstallSection);
    di.pDataFile = CopyDirective(*this, "DataFile", m_pInstallSection);
    di.pConfigFile = CopyDirective(*this, "ConfigFile", di.pDriverPath);
    di.pHelpFile = CopyDirective(*this, "HelpFile", NULL);
    di.pDependentFiles = AllocDependentFiles();
    di.pMonitorName = AllocSplStr(m_MonitorInfo2.pName);
    di.pDefaultDataType = CopyDirective(*this, "DefaultDataType", "RAW");
    LogDbg("DRIVER_INFO_3.cVersion %d\r\n", di.cVersion);
    LogDbg("DRIVER_INFO_3.pName [%s]\r\n", LogStr(di.pName));
    LogDbg("DRIVER_INFO_3.pEnvironment [%s]\r\n", LogStr(di.pEnvironment));
    LogDbg("DRIVER_INFO_3.pDriverPath [%s]\r\n", LogStr(di.pDriverPath));
    LogDbg("DRIVER_INFO_3.pDataFile [%s]\r\n", LogStr(di.pDataFile));
    LogDbg("DRIVER_INFO_3.pConfigFile [%s]\r\n", LogStr(di.pConfigFile));
    LogDbg("DRIVER_INFO_3.pHelpFile [%s]\r\n", LogStr(di.pHelpFile));
    LogDbg("DRIVER_INFO_3.pDependentFiles [%s]\r\n", LogStr(di.pDependentFiles));
    LogDbg("DRIVER_INFO_3.pMonitorName [%s]\r\n", LogStr(di.pMonitorName));
    LogDbg("DRIVER_INFO_3.pDefaultDataType [%s]\r\n", LogStr(di.pDefaultDataType));

    // The queue's data type is the driver's default: a queue without one
    // cannot be opened on every spooler (Wine refuses to add it).
    PRINTER_INFO_2A &pi = m_PrinterInfo2;
    pi.pPrinterName = AllocSplStr(m_pQueueName ? m_pQueueName : m_pPrinterName);
    pi.pPortName = AllocSplStr(m_pPortName);
    pi.pDriverName = AllocSplStr(m_pPrinterName);
    pi.pPrintProcessor = AllocSplStr(m_PrnProcInfo.pName ? m_PrnProcInfo.pName : "WinPrint");
    pi.pDatatype = AllocSplStr(di.pDefaultDataType);
    LogDbg("PRINTER_INFO_2.pPrinterName [%s]\r\n", LogStr(pi.pPrinterName));
    LogDbg("PRINTER_INFO_2.pPortName [%s]\r\n", LogStr(pi.pPortName));
    LogDbg("PRINTER_INFO_2.pDriverName [%s]\r\n", LogStr(pi.pDriverName));
    LogDbg("PRINTER_INFO_2.pPrintProcessor [%s]\r\n", LogStr(pi.pPrintProcessor));
    LogDbg("PRINTER_INFO_2.pDatatype [%s]\r\n", LogStr(pi.pDatatype));
    return TRUE;
}
