// The client side of a port's status channel, as a second program uses it:
// open the named objects, take the lock, write a request, wait for the reply.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "statusblock.h"

struct ChannelRequest {
    DWORD dwCode = KZT_IOCTL_PAR_QUERY_DEVICE_ID;
    DWORD dwRequest = 0;
    DWORD dwValue = 0;
    DWORD cbData = STATUSBLOCK_DATA_MAX;     // written as is, even above 4096
    std::vector<BYTE> data;                  // for a set command
    DWORD dwTimeoutMs = 5000;
    DWORD dwRequestId = 0;                   // written when non-zero; 0 plays a client that leaves it alone
};

struct ChannelReply {
    DWORD bResult = 0, dwError = 0, cbReturned = 0;
    std::vector<BYTE> data;                  // abData[0..min(cbReturned, 4096))
};

std::wstring ChannelObjectName(StatusObject object, const std::wstring &lmName, const std::wstring &portName);

// Runs one request; false when an object is missing or a wait timed out.
bool ChannelCall(const std::wstring &lmName, const std::wstring &portName, const ChannelRequest &request,
                 ChannelReply *reply);

// A read-only copy of the port's block; false when the block does not exist.
bool ChannelSnapshot(const std::wstring &lmName, const std::wstring &portName, StatusBlock *block);

// Stores a window title in the block, as the status monitor does.
bool ChannelSetWindowName(const std::wstring &lmName, const std::wstring &portName, const std::string &title);
