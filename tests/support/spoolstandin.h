// The spooler's job calls as one loaded library makes them, with what Wine's
// spooler lacks: access rights (a user without administer rights is refused
// any OpenPrinterW that asks for more than the use of the queue), a
// WritePrinter that can fail as on a full spool disk, and an AbortPrinter
// that is noticed (Wine's does nothing). Every call that is not refused goes
// on to Wine's own function, which notices closed handles and missing
// documents itself. The library's import table points at the stand-in while
// the object lives; one object at a time.
#pragma once
#include <windows.h>
#include <vector>

// A by-name import of a module from the spooler's client library
// (WINSPOOL.DRV): its name as imported (possibly "@n"-decorated) and its slot
// in the module's import table.
struct SpoolerImport {
    const char *pszName;
    ULONG_PTR *pSlot;
};
// The module's spooler imports, in import-table order; valid while the
// module stays loaded.
std::vector<SpoolerImport> SpoolerImports(HMODULE hModule);
// Whether an imported name is pszName, with or without a "@n" decoration.
bool SameImportName(const char *pszImported, const char *pszName);
// Writes value into an import slot (made writable for the write); returns
// the slot's value before.
ULONG_PTR SwapImportSlot(ULONG_PTR *pSlot, ULONG_PTR value);

class SpoolerStandIn {
public:
    explicit SpoolerStandIn(HMODULE hLibrary);
    ~SpoolerStandIn();
    bool Installed() const { return m_installed; }

    // From now on OpenPrinterW refuses rights beyond PRINTER_ACCESS_USE with
    // ERROR_ACCESS_DENIED, as for a user without administer rights.
    void UserWithoutAdministerRights();
    // The nth WritePrinter call from now (1 for the next) fails with dwError
    // and writes nothing.
    void FailWrite(LONG nth, DWORD dwError);

    LONG Writes() const;              // WritePrinter calls
    LONG WritesAfterFailure() const;  // WritePrinter calls after the failed one
    LONG Aborts() const;              // AbortPrinter calls
    LONG EndDocs() const;             // EndDocPrinter calls
    LONG RefusedOpens() const;        // OpenPrinterW calls refused for their rights
    // Waits until at least n WritePrinter calls were made; false on timeout.
    bool WaitForWrites(LONG n, DWORD timeoutMs) const;

private:
    HMODULE m_hLibrary;
    bool m_installed = false;
};
