// What Wine's spooler lacks for the installer's queues, as this program's
// own spooler calls see it: a queue's access list (Wine answers no level 3
// and gives every queue none; a SetPrinter level 3 replaces the parts its
// descriptor has), the jobs a queue holds (Wine's cJobs is always 0; here a
// job counts from StartDocPrinterA to EndDocPrinter, as if it printed at
// once), and a queue a test marks as deleted while it had jobs, which the
// spooler lists with PRINTER_STATUS_PENDING_DELETION (Wine deletes at once).
// Every call goes on to Wine's own function; the stand-in adds to or keeps
// what it answers. This program's import table points at the stand-in while
// the object lives; one at a time.
#pragma once
#include <windows.h>
#include <string>

class QueueStandIn {
public:
    QueueStandIn();   // installs itself in this program's import table
    ~QueueStandIn();  // and puts Wine's functions back
    bool Installed() const { return m_installed; }

    // The queue's access list as SDDL: the one SetPrinter level 3 gave it,
    // or that of a new queue (Administrators all, Everyone print).
    std::string SecurityOf(const char *pszQueue) const;
    // Jobs begun with StartDocPrinterA and not yet ended, per queue; they
    // are the queue's cJobs in GetPrinterA and EnumPrintersA at level 2.
    LONG Jobs(const char *pszQueue) const;
    // From now on the queue is listed with PRINTER_STATUS_PENDING_DELETION,
    // as a queue deleted while it still had jobs is.
    void MarkPendingDeletion(const char *pszQueue);

private:
    bool m_installed = false;
};
