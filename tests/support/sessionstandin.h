// What Wine does not tell a language monitor on Vista and later: the owner
// of a job (Wine's GetJobW names nobody) and the machine's sessions (Wine's
// WTSEnumerateSessionsW lists none). Installed between a loaded jobtap.dll
// and Wine: its GetJobW and CreateProcessAsUserW imports, and the session
// calls it looks up through GetProcAddress. Wine's own WTSQueryUserToken
// (which hands back the caller's token for any session), CreateEnvironmentBlock
// and CreateProcessAsUserW still do the work; the stand-in records which
// session's token was asked for, and from what thread.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct StandInSession {
    DWORD id;
    int state;                 // a WTS_CONNECTSTATE_CLASS value (WTSActive 0, WTSDisconnected 4)
    std::wstring user;         // empty: nobody logged on
};

// What jobtap asked CreateProcessAsUserW for, the last time.
struct ProcessAsUserCall {
    int count = 0;             // calls since Reset
    bool tokenGiven = false;
    bool inheritHandles = true;
    bool environmentGiven = false;
    DWORD flags = 0;
    std::wstring desktop;
    std::wstring commandLine;
    DWORD tokenSession = ~0u;       // the session whose user's token was asked for
    bool tokenWhileImpersonating = false;   // asked on a thread that impersonated
};

namespace SessionStandIn {
// Patches the module's imports; the settings below hold for every job.
// Returns false when nothing could be patched.
bool Install(HMODULE hJobtap);
// Every job's owner from now on, and the machine it came from (as the
// spooler writes it, "\\NAME"). Reset: this process's user on this machine.
void SetOwner(const std::wstring &user, const std::wstring &machine);
// The machine's sessions. Reset: session 0 with nobody, and this process's
// session, active, with this process's user.
void SetSessions(const std::vector<StandInSession> &sessions);
void Reset();
ProcessAsUserCall LastCall();
std::wstring ThisUser();
std::wstring ThisMachine();    // "\\NAME"
}
