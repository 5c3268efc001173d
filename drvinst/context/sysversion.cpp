// The system's own version for support: what the kernel says it is, whatever
// the version functions tell a program (without a manifest that lists them,
// Windows 8.1 and later report themselves as 8, 6.2).
#include "installcontext.h"

typedef LONG(WINAPI *PFN_RTLGETVERSION)(OSVERSIONINFOW *);
typedef void(WINAPI *PFN_GETNATIVESYSTEMINFO)(SYSTEM_INFO *);

// The name of a processor architecture of SYSTEM_INFO.
static const char *ArchitectureName(WORD wArchitecture)
{
    switch (wArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return "x86";
    case PROCESSOR_ARCHITECTURE_AMD64:
        return "x64";
    case PROCESSOR_ARCHITECTURE_IA64:
        return "IA64";
    case 12:  // PROCESSOR_ARCHITECTURE_ARM64
        return "ARM64";
    default:
        return "KZT_UNKNOWN";
    }
}

/* Logs one line with the system's real version (major.minor.build, platform
 * id, service pack), the machine's architecture and this program's, and the
 * version that GetVersionExA tells this program: the real one from
 * RtlGetVersion and GetNativeSystemInfo, looked up at run time (Windows 95,
 * 98 and Me have neither, 2000 lacks the second), else what GetVersionExA
 * and GetSystemInfo say. Once per run, after the log file is chosen. */
void CInstallContext::LogSystemVersion()
{
    OSVERSIONINFOA told;
    ZeroMemory(&told, sizeof(told));
    told.dwOSVersionInfoSize = sizeof(told);
    BOOL bTold = GetVersionExA(&told);
    DWORD dwError = GetLastError();
    if (!bTold) {
        LogErr("LogSystemVersion() ::GetVersionEx R %d E %d %s", bTold, dwError, SysErrorText(dwError).c_str());
        return;
    }
    OSVERSIONINFOW real;
    ZeroMemory(&real, sizeof(real));
    real.dwOSVersionInfoSize = sizeof(real);
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    PFN_RTLGETVERSION pfnRtlGetVersion = hNtdll ? (PFN_RTLGETVERSION)GetProcAddress(hNtdll, "RtlGetVersion") : NULL;
    char szServicePack[128] = "";
    if (pfnRtlGetVersion && pfnRtlGetVersion(&real) == 0) {
        WideCharToMultiByte(CP_ACP, 0, real.szCSDVersion, -1, szServicePack, sizeof(szServicePack), NULL, NULL);
        szServicePack[sizeof(szServicePack) - 1] = 0;
    } else {
        real.dwMajorVersion = told.dwMajorVersion;
        real.dwMinorVersion = told.dwMinorVersion;
        // The 95 family keeps its major and minor in the build's high word.
        real.dwBuildNumber = told.dwPlatformId == VER_PLATFORM_WIN32_NT ? told.dwBuildNumber : LOWORD(told.dwBuildNumber);
        real.dwPlatformId = told.dwPlatformId;
        lstrcpynA(szServicePack, told.szCSDVersion, sizeof(szServicePack));
    }

    SYSTEM_INFO machine, program;
    ZeroMemory(&machine, sizeof(machine));
    ZeroMemory(&program, sizeof(program));
    GetSystemInfo(&program);
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    PFN_GETNATIVESYSTEMINFO pfnNative =
        hKernel ? (PFN_GETNATIVESYSTEMINFO)GetProcAddress(hKernel, "GetNativeSystemInfo") : NULL;
    if (pfnNative)
        pfnNative(&machine);
    else
        machine = program;
    LogDbg("LogSystemVersion() Windows %lu.%lu.%lu platform %lu [%s] machine %s program %s, told %lu.%lu\r\n",
           real.dwMajorVersion, real.dwMinorVersion, real.dwBuildNumber, real.dwPlatformId, szServicePack,
           ArchitectureName(machine.wProcessorArchitecture), ArchitectureName(program.wProcessorArchitecture),
           told.dwMajorVersion, told.dwMinorVersion);
}
