// A second process that sends device-id requests through a port's status
// channel, as the status monitor does:
//   chanclient LMNAME PORT COUNT EXPECTED
// Exit code: 0 when every reply arrived and equals EXPECTED, else 1. Ports
// that close under it make requests fail; with COUNT negative (used while
// ports close under it) such failures are tolerated, but a reply that says
// it succeeded with other bytes than EXPECTED still exits 3, and a run in
// which no request at all was answered exits 4 (its port was never there).
#include "channelclient.h"
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 5)
        return 2;
    int count = _wtoi(argv[3]);
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
