// A queue's settings across a reinstall's restart, kept in its queue record
// under "SOFTWARE\Ostrel\<INF name>\<n>" (engine/queuesettings.cpp).
#pragma once
#include "installcontext.h"

/* Saves the settings of queue pszQueue (its printer record's texts and
 * numbers, device mode, access list and printer data) into its open record
 * key hRecord. A queue that is not there has none (TRUE). FALSE after an
 * error line. */
BOOL SaveQueueSettings(CInstallContext &ctx, HKEY hRecord, const char *pszQueue);

/* Puts the settings of record nRecord of m_pInfBaseName back on queue
 * pszQueue, each part on its own. Printing defaults the new driver refuses
 * are left out, named in an error line, and *pbDevmodeLost set: the result
 * stays TRUE. FALSE, after error lines, when the spooler failed another
 * part (the phase then runs again). A record without settings gives TRUE. */
BOOL RestoreQueueSettings(CInstallContext &ctx, int nRecord, const char *pszQueue, BOOL *pbDevmodeLost);
