// The spooler's job calls as one loaded library makes them, with what Wine's
// spooler lacks: access rights (a user without administer rights is refused
// any OpenPrinterW that asks for more than the use of the queue), a
// WritePrinter that can fail as on a full spool disk, and an AbortPrinter
// that is noticed (Wine's does nothing), and an EnumPortsA that fails when
// told to. Every call that is not refused goes
// on to Wine's own function, which notices closed handles and missing
// documents itself. The library's import table points at the stand-in while
// the object lives; one object at a time.
#pragma once
#include <windows.h>
#include <vector>

class SpoolerStandIn {
public:
    explicit SpoolerStandIn(HMODULE hLibrary);
    ~SpoolerStandIn();
    bool Installed() const { return m_installed; }

    // From now on OpenPrinterW refuses rights beyond PRINTER_ACCESS_USE with
    // ERROR_ACCESS_DENIED, as for a user without administer rights, and so
    // do SetPrinterW (but for level 9, the user's own default device mode)
    // and SetPrinterDataW.
    void UserWithoutAdministerRights();
    // The nth WritePrinter call from now (1 for the next) fails with dwError
    // and writes nothing.
    void FailWrite(LONG nth, DWORD dwError);

    // The next nTimes EnumPortsA calls that ask for the size (bFill false:
    // no buffer) or that fill a buffer (bFill true) fail with dwError; a
    // refused fill still reports the size Wine's spooler needs. Wine's own
    // function is reached through its export, so the stand-in also serves
    // the test program's own imports.
    void FailEnumPorts(bool bFill, LONG nTimes, DWORD dwError);
    LONG EnumPortsCalls() const;      // EnumPortsA calls

    LONG Writes() const;              // WritePrinter calls
    LONG WritesAfterFailure() const;  // WritePrinter calls after the failed one
    LONG Aborts() const;              // AbortPrinter calls
    LONG EndDocs() const;             // EndDocPrinter calls
    LONG RefusedOpens() const;        // OpenPrinterW calls refused for their rights
    LONG RefusedChanges() const;      // SetPrinterW and SetPrinterDataW calls refused for their rights
    // From now on SetPrinterW level 9 is refused too (ERROR_ACCESS_DENIED).
    void RefuseUserDefaults();
    LONG UserDefaults() const;        // SetPrinterW level 9 calls kept
    std::vector<BYTE> LastUserDefault() const;  // the device mode (and private part) of the last one
    // Waits until at least n WritePrinter calls were made; false on timeout.
    bool WaitForWrites(LONG n, DWORD timeoutMs) const;

private:
    HMODULE m_hLibrary;
    bool m_installed = false;
};
