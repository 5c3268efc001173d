// The two commands that outlive the installer, composed before anything is
// changed: a first phase or an install checks its command up front, so that
// a command that cannot be written never strands a half-done operation.
#pragma once
#include "installcontext.h"

/* Composes the RunOnce command of the second phase into pszCommand (cbCommand
 * bytes, 256 in the engine) from the working folder, program, INF, model,
 * port and mode switches, then " /quiet" and " /log \"<path>\"" as this run
 * was given them (the log left out, after a DBG line, when it does not fit). Needs SetupSysInfo and the program's names. FALSE,
 * pszCommand empty, after "AddRunOnce() <member>\r\n" for a missing name or
 * "AddRunOnce() Length [<command>]\r\n" when it does not fit. */
BOOL FormatRunOnceCommand(CInstallContext &ctx, char *pszCommand, size_t cbCommand);

/* Composes the Uninstall entry's "UninstallString" the same way, with the
 * ERR lines of "AddUninstallKey()". */
BOOL FormatUninstallString(CInstallContext &ctx, char *pszCommand, size_t cbCommand);

/* The values of the model's Uninstall entry (engine/uninstallvalues.cpp),
 * into the open model key: the design's two, then those deployment tools
 * read. FALSE after the error line of the first that failed. */
BOOL WriteUninstallValues(CInstallContext &ctx, HKEY hModel, const char *pszUninstall);
// Whether the model's Uninstall entry names the INF's "DriverVer" version
// (FALSE for no entry, no value or another version).
BOOL UninstallEntryIsCurrent(CInstallContext &ctx);

/* The durable record of the INF's pending second phase (engine/pendingphase.cpp),
 * the value <INF name> under "SOFTWARE\Ostrel\Pending": read (TRUE when one
 * is pending; a record whose program is gone is removed and counts as none)
 * and written (FALSE after an error line). */
BOOL ReadPendingCommand(CInstallContext &ctx, const char *pszInfBase, std::string &strCommand);
BOOL WritePendingCommand(CInstallContext &ctx, const char *pszCommand);
BOOL CommandProgramExists(const char *pszCommand);  // FALSE when its program is surely gone
