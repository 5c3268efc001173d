// The texts of the status window's panels, apart from the window: what a
// Host Info tick shows for the job state, what a notification adds, and the
// Spool Info report of the spooler's records.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <string>

// Host Info line for the block's flags. With neither bit set it is the
// Shutdown line for idleCount; *pbIdle tells that the idle count moves on.
std::string HostInfoLine(DWORD dwFlags, int idleCount, BOOL *pbIdle);

// The text a language monitor notification adds (after the time stamp).
std::string NotificationLine(WPARAM wParam, LPARAM lParam, DWORD dwJobId);

std::string FormatPrinterInfo2(const PRINTER_INFO_2A *pInfo);
std::string FormatPrinterInfo5(const PRINTER_INFO_5A *pInfo);
std::string FormatJobInfo2(const JOB_INFO_2A *pJob);
// The last of the jobs whose status says printing, or null.
const JOB_INFO_2A *FindPrintingJob(const JOB_INFO_2A *pJobs, DWORD cJobs);

// The whole Spool Info report for an open printer (without the time line);
// failed queries leave their section out.
std::string SpoolInfoReport(HANDLE hPrinter);
