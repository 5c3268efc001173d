// A sample filter library for the language monitor's " Filter" value. One
// source, several builds:
//   FILTER_XOR        every byte XOR 0x5A (reversible), handed out at once
//   FILTER_HOLD       XOR, but everything is held until "Flush"
//   FILTER_PASS       bytes unchanged (for measuring the filter path)
//   FILTER_NO_FLUSH   XOR without the "Flush" export (an incomplete library)
//   FILTER_NO_READ    XOR without the "Read" export
//   FILTER_FAIL_OPEN  "Open" fails with ERROR_ACCESS_DENIED
//   FILTER_TAKE_NOTHING "Write" succeeds but takes no byte, every time
//   FILTER_FAIL_WRITE "Write" refuses with ERROR_INVALID_DATA
//   FILTER_FAIL_FLUSH XOR, but "Flush" fails without setting an error code
//   FILTER_LIE        holds everything until "Flush", then "Read" claims one
//                     byte more than it was offered, every time
//   FILTER_LIE_ONCE   holds everything; its first "Read" claims one byte more
//                     than it was offered, every later one hands out nothing
//   FILTER_DRIBBLE    holds everything until "Flush", then "Read" hands out
//                     one byte, every time, without end
//   FILTER_EXPAND     holds everything until "Flush", then hands out 100,000
//                     lines of 300 bytes, one a "Read" (an honest expansion);
//                     a "Read" offered less than 256 KB fails
//   FILTER_DEP        XOR, importing its key from kztfdep.dll (where the
//                     loader looks for a filter's own imports)
// Calls are counted in a file beside the DLL, "<dll>.calls", one word a line.
#include <windows.h>
#include <vector>

static std::vector<BYTE> g_pending;
#ifdef FILTER_PASS
// The language monitor drains the filter inside the Write call that fed it,
// so the pass-through filter hands out the caller's bytes without a copy.
static const BYTE *g_pass;
static size_t g_passLeft;

// A string move: about twice as fast as the runtime's memcpy under Wine.
static void CopyBytes(void *pDst, const void *pSrc, size_t cb)
{
    __asm__ __volatile__("rep movsb" : "+D"(pDst), "+S"(pSrc), "+c"(cb) : : "memory");
}
#endif
#ifdef FILTER_DEP
extern "C" __declspec(dllimport) BYTE KztDepKey(void);
#define XOR_KEY KztDepKey()
#else
#define XOR_KEY 0x5A
#endif
static size_t g_offset;
static bool g_flushed;
static size_t g_reads;

// Keeps the caller's last error: the counting is no part of the filter.
static void Trace(const char *word)
{
    DWORD dwError = GetLastError();
    char path[MAX_PATH];
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)&Trace, &self);
    GetModuleFileNameA(self, path, MAX_PATH);
    lstrcatA(path, ".calls");
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD cb;
        WriteFile(h, word, lstrlenA(word), &cb, nullptr);
        WriteFile(h, "\n", 1, &cb, nullptr);
        CloseHandle(h);
    }
    SetLastError(dwError);
}

extern "C" __declspec(dllexport) BOOL WINAPI Open(void)
{
    g_pending.clear();
    g_offset = 0;
    g_flushed = false;
    g_reads = 0;
#ifndef FILTER_PASS
    Trace("Open");
#endif
#ifdef FILTER_FAIL_OPEN
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
#endif
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI Write(LPBYTE pData, DWORD cbData, LPDWORD pcbAccepted)
{
#ifdef FILTER_TAKE_NOTHING
    Trace("Write");
    *pcbAccepted = 0;
    return TRUE;
#endif
#ifdef FILTER_FAIL_WRITE
    Trace("Write");
    *pcbAccepted = 0;
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
#elif defined(FILTER_PASS)
    g_pass = pData;
    g_passLeft = cbData;
    *pcbAccepted = cbData;
    return TRUE;
#else
    if (g_offset == g_pending.size()) {
        g_pending.clear();
        g_offset = 0;
    }
    size_t at = g_pending.size();
    g_pending.insert(g_pending.end(), pData, pData + cbData);
#ifndef FILTER_PASS
    for (size_t i = at; i < g_pending.size(); ++i)
        g_pending[i] ^= XOR_KEY;
#endif
    (void)at;
    *pcbAccepted = cbData;
    return TRUE;
#endif
}

#ifndef FILTER_NO_READ
extern "C" __declspec(dllexport) BOOL WINAPI Read(LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
#ifdef FILTER_PASS
    size_t cbPass = g_passLeft < cbBuffer ? g_passLeft : cbBuffer;
    CopyBytes(pBuffer, g_pass, cbPass);
    g_pass += cbPass;
    g_passLeft -= cbPass;
    *pcbRead = (DWORD)cbPass;
    return TRUE;
#endif
#ifdef FILTER_LIE
    *pcbRead = g_flushed ? cbBuffer + 1 : 0;
    return TRUE;
#endif
#ifdef FILTER_LIE_ONCE
    *pcbRead = g_reads++ == 0 ? cbBuffer + 1 : 0;
    return TRUE;
#endif
#ifdef FILTER_EXPAND
    if (cbBuffer < 0x40000) {                 // every read is offered a whole 256 KB
        *pcbRead = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!g_flushed || g_reads == 100000) {
        *pcbRead = 0;
        return TRUE;
    }
    memset(pBuffer, 'e', 300);
    g_reads++;
    *pcbRead = 300;
    return TRUE;
#endif
#ifdef FILTER_DRIBBLE
    if (g_flushed && cbBuffer)
        pBuffer[0] = 'x';
    *pcbRead = g_flushed && cbBuffer ? 1 : 0;
    return TRUE;
#endif
#ifdef FILTER_HOLD
    if (!g_flushed) {
        *pcbRead = 0;
        return TRUE;
    }
#endif
    size_t cb = g_pending.size() - g_offset;
    if (cb > cbBuffer)
        cb = cbBuffer;
    if (cb)
        memcpy(pBuffer, g_pending.data() + g_offset, cb);
    g_offset += cb;
    *pcbRead = (DWORD)cb;
    return TRUE;
}
#endif

#ifndef FILTER_NO_FLUSH
extern "C" __declspec(dllexport) BOOL WINAPI Flush(void)
{
#ifndef FILTER_PASS
    Trace("Flush");
#endif
    g_flushed = true;
#ifdef FILTER_FAIL_FLUSH
    return FALSE;
#else
    return TRUE;
#endif
}
#endif

extern "C" __declspec(dllexport) BOOL WINAPI Close(void)
{
#ifndef FILTER_PASS
    Trace("Close");
#endif
    g_pending.clear();
    g_offset = 0;
    return TRUE;
}
