// A second process that sends device-id requests through a port's status
// channel, as the status monitor does:
//   chanclient LMNAME PORT COUNT EXPECTED
// Exit code: 0 when every reply arrived and equals EXPECTED, else 1. Ports
// that close under it make requests fail; with COUNT negative (used while
// ports close under it) such failures are tolerated, but a reply that says
// it succeeded with other bytes than EXPECTED still exits 3, and a run in
// which no request at all was answered exits 4 (its port was never there).
//   chanclient LMNAME PORT 0 EVENT
// takes the channel's lock event, signals the named event EVENT and then
// waits for ever, holding the lock: a status monitor that dies in a request.
#include "channelclient.h"
#include <stdio.h>
#include <stdlib.h>

static int HoldTheLock(const wchar_t *pszLm, const wchar_t *pszPort, const wchar_t *pszEvent)
{
    wchar_t szName[STATUS_NAME_CCH];
    FormatStatusObjectName(szName, STATUS_NAME_CCH, StatusEventMap, pszLm, pszPort);
    HANDLE hLock = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, szName);
    HANDLE hHeld = OpenEventW(EVENT_MODIFY_STATE, FALSE, pszEvent);
    if (!hLock || !hHeld || WaitForSingleObject(hLock, 5000) != WAIT_OBJECT_0)
        return 2;
    SetEvent(hHeld);
    Sleep(INFINITE);
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 5)
        return 2;
    int count = _wtoi(argv[3]);
    if (count == 0)
        return HoldTheLock(argv[1], argv[2], argv[4]);
    bool tolerant = count < 0;
    if (tolerant)
        count = -count;
    std::string expected;
    for (const wchar_t *p = argv[4]; *p; ++p)
        expected += (char)*p;
    int ok = 0, failed = 0, wrong = 0;
    for (int i = 0; i < count; ++i) {
        ChannelRequest request;
        request.cbData = 256;
        request.dwTimeoutMs = tolerant ? 1000 : 5000;
        ChannelReply reply;
        bool answered = ChannelCall(argv[1], argv[2], request, &reply) && reply.bResult;
        if (answered && std::string(reply.data.begin(), reply.data.end()) == expected)
            ++ok;
        else
            ++failed;
        wrong += answered && std::string(reply.data.begin(), reply.data.end()) != expected;
    }
    printf("ok %d failed %d wrong %d\n", ok, failed, wrong);
    if (!tolerant)
        return failed ? 1 : 0;
    return wrong ? 3 : !ok ? 4 : 0;
}
