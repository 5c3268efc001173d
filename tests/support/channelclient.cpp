#include "channelclient.h"

std::wstring ChannelObjectName(StatusObject object, const std::wstring &lmName, const std::wstring &portName)
{
    WCHAR sz[STATUS_NAME_CCH];
    FormatStatusObjectName(sz, STATUS_NAME_CCH, object, lmName.c_str(), portName.c_str());
    return sz;
}

namespace {
struct Handles {
    HANDLE h[4] = {};
    ~Handles() { for (HANDLE x : h) if (x) CloseHandle(x); }
};

template <typename F>
bool WithView(const std::wstring &lmName, const std::wstring &portName, DWORD access, F f)
{
    HANDLE hMap = OpenFileMappingW(access, FALSE, ChannelObjectName(StatusFileMap, lmName, portName).c_str());
    if (!hMap)
        return false;
    auto *block = (StatusBlock *)MapViewOfFile(hMap, access, 0, 0, sizeof(StatusBlock));
    bool ok = block != nullptr;
    if (block) {
        f(block);
        UnmapViewOfFile(block);
    }
    CloseHandle(hMap);
    return ok;
}
} // namespace

bool ChannelCall(const std::wstring &lmName, const std::wstring &portName, const ChannelRequest &request,
                 ChannelReply *reply)
{
    Handles events;
    const StatusObject objects[] = {StatusEventMap, StatusEventCmd, StatusEventRet};
    for (int i = 0; i < 3; ++i) {
        events.h[i] = OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE,
                                 ChannelObjectName(objects[i], lmName, portName).c_str());
        if (!events.h[i])
            return false;
    }
    bool ok = false;
    WithView(lmName, portName, FILE_MAP_WRITE, [&](StatusBlock *block) {
        if (WaitForSingleObject(events.h[0], request.dwTimeoutMs) != WAIT_OBJECT_0)
            return;
        block->dwIoControlCode = request.dwCode;
        block->dwRequest = request.dwRequest;
        block->dwValue = request.dwValue;
        block->cbData = request.cbData;
        if (request.dwRequestId)
            block->dwRequestId = request.dwRequestId;
        if (!request.data.empty())
            memcpy(block->abData, request.data.data(), std::min<size_t>(request.data.size(), STATUSBLOCK_DATA_MAX));
        SetEvent(events.h[1]);
        if (WaitForSingleObject(events.h[2], request.dwTimeoutMs) == WAIT_OBJECT_0) {
            reply->bResult = block->bResult;
            reply->dwError = block->dwError;
            reply->cbReturned = block->cbReturned;
            DWORD cb = std::min<DWORD>(block->cbReturned, STATUSBLOCK_DATA_MAX);
            reply->data.assign(block->abData, block->abData + cb);
            ok = true;
        }
        SetEvent(events.h[0]);
    });
    return ok;
}

bool ChannelSnapshot(const std::wstring &lmName, const std::wstring &portName, StatusBlock *copy)
{
    return WithView(lmName, portName, FILE_MAP_READ, [&](StatusBlock *block) { *copy = *block; });
}

bool ChannelSetWindowName(const std::wstring &lmName, const std::wstring &portName, const std::string &title)
{
    return WithView(lmName, portName, FILE_MAP_WRITE, [&](StatusBlock *block) {
        lstrcpynA(block->szWindowName, title.c_str(), sizeof(block->szWindowName));
    });
}
