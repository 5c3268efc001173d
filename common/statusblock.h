// The status channel of one open port: the shared StatusBlock, its request
// codes, and the rule that names the block and its three events. Included by
// both sides of the channel (the language monitor and the status monitor).
#pragma once
#include <stddef.h>
#include <stdint.h>

#define STATUSBLOCK_DATA_MAX 4096

// Reply numbering. A client that numbers its requests writes a non-zero
// number into dwRequestId with each request; the worker sets dwReplyId to
// STATUS_REPLY_BUSY when it takes a request and to that request's number once
// the reply is complete. dwReplyId != dwRequestId thus means the worker still
// owes a reply, and a reply belongs to the request whose number it echoes. A
// client that leaves dwRequestId alone (0 in a fresh block) is served as
// before.
#define STATUS_REPLY_BUSY 0xFFFFFFFFu

struct StatusBlock {
    uint32_t dwRequestId;          // written by a numbering client with each request
    uint32_t dwReplyId;            // written by the worker: busy, then the number it answered
    uint32_t dwSpoolerProcessId;
    uint32_t dwSpoolerThreadId;
    uint32_t hMonitorProcess;      // handle of the spooler process, 32-bit on every build
    uint32_t hMonitorThread;
    uint32_t dwMonitorProcessId;
    uint32_t dwMonitorThreadId;
    uint32_t hWndMonitor;          // window handles are 32-bit values on every build
    uint32_t uMsgMonitor;
    char     szWindowName[256];    // ANSI, written by the client
    uint32_t dwJobId;
    uint32_t dwFlags;
    uint32_t dwIoControlCode;
    uint32_t cbReturned;
    uint32_t bResult;
    uint32_t dwError;
    uint32_t dwRequest;
    uint32_t dwValue;
    uint32_t cbData;
    uint8_t  abData[STATUSBLOCK_DATA_MAX];
};

static_assert(sizeof(StatusBlock) == 4428, "StatusBlock is 4428 bytes");
static_assert(offsetof(StatusBlock, dwRequestId) == 0, "layout");
static_assert(offsetof(StatusBlock, dwReplyId) == 4, "layout");
static_assert(offsetof(StatusBlock, dwSpoolerProcessId) == 8, "layout");
static_assert(offsetof(StatusBlock, hMonitorProcess) == 16, "layout");
static_assert(offsetof(StatusBlock, dwMonitorThreadId) == 28, "layout");
static_assert(offsetof(StatusBlock, hWndMonitor) == 32, "layout");
static_assert(offsetof(StatusBlock, uMsgMonitor) == 36, "layout");
static_assert(offsetof(StatusBlock, szWindowName) == 40, "layout");
static_assert(offsetof(StatusBlock, dwJobId) == 296, "layout");
static_assert(offsetof(StatusBlock, dwFlags) == 300, "layout");
static_assert(offsetof(StatusBlock, dwIoControlCode) == 304, "layout");
static_assert(offsetof(StatusBlock, cbReturned) == 308, "layout");
static_assert(offsetof(StatusBlock, bResult) == 312, "layout");
static_assert(offsetof(StatusBlock, dwError) == 316, "layout");
static_assert(offsetof(StatusBlock, dwRequest) == 320, "layout");
static_assert(offsetof(StatusBlock, dwValue) == 324, "layout");
static_assert(offsetof(StatusBlock, cbData) == 328, "layout");
static_assert(offsetof(StatusBlock, abData) == 332, "layout");

// dwFlags bits.
#define STATUS_FLAG_PRINTING     0x00000001u
#define STATUS_FLAG_WRITE_FAILED 0x00000002u

// Request codes: the device control codes of the parallel-port and USB
// printer-class drivers.
#define KZT_IOCTL_PAR_QUERY_DEVICE_ID           0x0016000Cu
#define KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND   0x00220038u
#define KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND   0x0022003Cu

// Notifications posted to the status window (wParam of the registered message).
#define STATUS_MSG_NAME          "Ostrel StatusMonitor"
#define STATUS_NOTIFY_PORT_OPEN  1
#define STATUS_NOTIFY_DOC_START  2
#define STATUS_NOTIFY_DOC_END    3
#define STATUS_NOTIFY_PORT_CLOSE 4

#define STATUS_NAME_CCH 256

// Object name stems; the full name is "<stem> <monitor name> <port key>".
enum StatusObject { StatusFileMap, StatusEventMap, StatusEventCmd, StatusEventRet };

// Writes the name of one channel object into szName (cchName characters,
// always terminated; an over-long name is cut). The port key is the port name
// cut at its first comma with every backslash then turned into a comma.
// Serves both the wide (monitor) and the ANSI (status monitor) side.
template <typename CharT>
void FormatStatusObjectName(CharT *szName, size_t cchName, StatusObject object,
                            const CharT *pszLmName, const CharT *pszPortName)
{
    static const char *const s_stems[] = {
        "Ostrel FileMap", "Ostrel Event Map", "Ostrel Event Cmd", "Ostrel Event Ret"};
    if (!szName || cchName == 0)
        return;
    size_t n = 0;
    auto put = [&](CharT ch) { if (n + 1 < cchName) szName[n++] = ch; };
    for (const char *s = s_stems[object]; *s; ++s)
        put((CharT)(unsigned char)*s);
    put((CharT)' ');
    for (const CharT *s = pszLmName; s && *s; ++s)
        put(*s);
    put((CharT)' ');
    for (const CharT *s = pszPortName; s && *s && *s != (CharT)','; ++s)
        put(*s == (CharT)'\\' ? (CharT)',' : *s);
    szName[n] = 0;
}
