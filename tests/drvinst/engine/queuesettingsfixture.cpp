#include "queuesettingsfixture.h"
#include "queuestandin.h"
#include <windows.h>
#include <winspool.h>
#include <sddl.h>
#include <stdio.h>
#include <vector>

// Everything a queue has that a reinstall must keep, read back through this
// program's spooler calls (the stand-in answers what Wine lacks): one line
// per field.
std::string QueueSettings(const char *queue, const QueueStandIn *standIn)
{
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE h = NULL;
    if (!OpenPrinterA((LPSTR)queue, &h, &defaults))
        return "(no queue)";
    DWORD cb = 0;
    GetPrinterA(h, 2, NULL, 0, &cb);
    std::vector<BYTE> buffer(cb + 2048);
    std::string s;
    if (GetPrinterA(h, 2, buffer.data(), (DWORD)buffer.size(), &cb)) {
        const PRINTER_INFO_2A &p = *(const PRINTER_INFO_2A *)buffer.data();
        auto text = [](const char *psz) { return psz ? std::string(psz) : std::string("(null)"); };
        s += "port " + text(p.pPortName) + "\nshare " + text(p.pShareName) + "\ncomment " + text(p.pComment) +
             "\nlocation " + text(p.pLocation) + "\nsepfile " + text(p.pSepFile) + "\nprocessor " +
             text(p.pPrintProcessor) + "\ndatatype " + text(p.pDatatype) + "\nparameters " + text(p.pParameters) +
             "\nattributes " + std::to_string(p.Attributes) + "\npriority " + std::to_string(p.Priority) + "/" +
             std::to_string(p.DefaultPriority) + "\nhours " + std::to_string(p.StartTime) + "-" +
             std::to_string(p.UntilTime) + "\n";
        if (p.pDevMode) {
            s += "devmode copies " + std::to_string(p.pDevMode->dmCopies) + " fields " +
                 std::to_string(p.pDevMode->dmFields) + " size " +
                 std::to_string(p.pDevMode->dmSize + p.pDevMode->dmDriverExtra) + "\ndevmode bytes ";
            // Every byte after the device name (the queue's own name there).
            const BYTE *pb = (const BYTE *)p.pDevMode;
            for (size_t i = CCHDEVICENAME; i < (size_t)p.pDevMode->dmSize + p.pDevMode->dmDriverExtra; i++) {
                char hex[4];
                snprintf(hex, sizeof(hex), "%02x", pb[i]);
                s += hex;
            }
            s += "\n";
        }
    }
    if (standIn)
        s += "security " + standIn->SecurityOf(queue) + "\n";
    for (const char *value : {"TZ Mode", "TZ Name", "TZ Table"}) {
        BYTE data[64] = {};
        DWORD type = 0, cbData = 0;
        DWORD status = GetPrinterDataA(h, (LPSTR)value, &type, data, sizeof(data), &cbData);
        s += std::string("data ") + value + " " + std::to_string(status) + " " + std::to_string(type) + " ";
        for (DWORD i = 0; !status && i < cbData && i < sizeof(data); i++) {
            char hex[4];
            snprintf(hex, sizeof(hex), "%02x", data[i]);
            s += hex;
        }
        s += "\n";
    }
    ClosePrinter(h);
    return s;
}

// Gives the queue a setting of every kind an administrator may change.
bool ConfigureQueue(const char *queue, bool withSecurity)
{
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE h = NULL;
    if (!OpenPrinterA((LPSTR)queue, &h, &defaults))
        return false;
    DWORD cb = 0;
    GetPrinterA(h, 2, NULL, 0, &cb);
    std::vector<BYTE> buffer(cb + 2048);
    if (!GetPrinterA(h, 2, buffer.data(), (DWORD)buffer.size(), &cb))
        return false;
    PRINTER_INFO_2A p = *(PRINTER_INFO_2A *)buffer.data();
    p.pShareName = (LPSTR) "TZ1000";
    p.pComment = (LPSTR) "Plotter of the drawing office";
    p.pLocation = (LPSTR) "Building 2, room 14";
    p.pSepFile = (LPSTR) "C:\\windows\\system32\\pcl.sep";
    p.pParameters = (LPSTR) "fast";
    p.Attributes |= PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS;
    p.Priority = 7;
    p.DefaultPriority = 3;
    p.StartTime = 420;
    p.UntilTime = 1140;
    if (!p.pDevMode)
        return false;
    std::vector<BYTE> devmode((BYTE *)p.pDevMode, (BYTE *)p.pDevMode + p.pDevMode->dmSize + p.pDevMode->dmDriverExtra);
    p.pDevMode = (DEVMODEA *)devmode.data();
    p.pDevMode->dmCopies = 3;
    p.pDevMode->dmFields |= DM_COPIES;
    p.pSecurityDescriptor = NULL;
    if (!SetPrinterA(h, 2, (LPBYTE)&p, 0))
        return false;
    PSECURITY_DESCRIPTOR sd = NULL;
    if (withSecurity) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
                "O:BAG:SYD:(A;;0xf000c;;;BA)(A;;0x20008;;;BU)(A;;0xf000c;;;S-1-5-21-1-2-3-1001)", SDDL_REVISION_1,
                &sd, NULL))
            return false;
        PRINTER_INFO_3 security = {sd};
        BOOL bSet = SetPrinterA(h, 3, (LPBYTE)&security, 0);
        LocalFree(sd);
        if (!bSet)
            return false;
    }
    DWORD mode = 5;
    const char name[] = "wide";
    const BYTE table[] = {1, 0, 2, 0, 0xFF};
    if (SetPrinterDataA(h, (LPSTR) "TZ Mode", REG_DWORD, (LPBYTE)&mode, sizeof(mode)) != 0)
        return false;
    if (SetPrinterDataA(h, (LPSTR) "TZ Name", REG_SZ, (LPBYTE)name, sizeof(name)) != 0)
        return false;
    if (SetPrinterDataA(h, (LPSTR) "TZ Table", REG_BINARY, (LPBYTE)table, sizeof(table)) != 0)
        return false;
    ClosePrinter(h);
    return true;
}

