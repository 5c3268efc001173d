#include "keydacl.h"
#include "steplog.h"

static const char kAdvapi[] = "ADVAPI32.DLL";

KeyDacl::KeyDacl(CInstallContext &ctx, HKEY hKey)
    : m_ctx(ctx), m_hKey(hKey), m_hAdvapi(NULL), m_pfnGetSecurityInfo(NULL), m_pfnSetSecurityInfo(NULL),
      m_bRead(FALSE), m_pDacl(NULL), m_pSecurityDescriptor(NULL)
{
}

KeyDacl::~KeyDacl()
{
    if (m_pSecurityDescriptor)
        LocalFree(m_pSecurityDescriptor);
    if (m_hAdvapi)
        FreeLibrary(m_hAdvapi);
}

// One call of the library by name; NULL after an error line.
static FARPROC LookUpCall(CInstallContext &ctx, HMODULE hModule, const char *pszName)
{
    FARPROC pfn = GetProcAddress(hModule, pszName);
    DWORD dwError = CallError(pfn != NULL);
    if (!pfn)
        ctx.LogErr("::GetProcAddress([%s]) R x%x E %d %s", pszName, 0, dwError, SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return pfn;
}

// The library and its two security calls; a call it lacks fails the step
// as a failed load does.
BOOL KeyDacl::LoadSecurityCalls()
{
    m_hAdvapi = LoadLibraryA(kAdvapi);
    DWORD dwError = CallError(m_hAdvapi != NULL);
    LogStep(m_ctx, m_hAdvapi != NULL, "::LoadLibrary([%s]) R x%x E %d %s", kAdvapi, (UINT)(UINT_PTR)m_hAdvapi,
            dwError, SysErrorText(dwError).c_str());
    if (!m_hAdvapi)
        return FALSE;
    m_pfnGetSecurityInfo = (PFN_GETSECURITYINFO)LookUpCall(m_ctx, m_hAdvapi, "GetSecurityInfo");
    m_pfnSetSecurityInfo = (PFN_SETSECURITYINFO)LookUpCall(m_ctx, m_hAdvapi, "SetSecurityInfo");
    return m_pfnGetSecurityInfo && m_pfnSetSecurityInfo;
}

BOOL KeyDacl::OpenToEveryone()
{
    if (!LoadSecurityCalls())
        return FALSE;
    DWORD dwStatus = m_pfnGetSecurityInfo(m_hKey, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, &m_pDacl,
                                          NULL, &m_pSecurityDescriptor);
    LogStep(m_ctx, dwStatus == ERROR_SUCCESS, "MyGetSecurityInfo E %d %s", dwStatus, SysErrorText(dwStatus).c_str());
    if (dwStatus != ERROR_SUCCESS)
        return FALSE;  // nothing was read, nothing to put back
    m_bRead = TRUE;
    dwStatus = m_pfnSetSecurityInfo(m_hKey, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, NULL, NULL);
    LogStep(m_ctx, dwStatus == ERROR_SUCCESS, "MySetSecurityInfo E %d %s", dwStatus, SysErrorText(dwStatus).c_str());
    return dwStatus == ERROR_SUCCESS;
}

BOOL KeyDacl::Restore()
{
    BOOL bResult = TRUE;
    if (m_bRead) {
        DWORD dwStatus =
            m_pfnSetSecurityInfo(m_hKey, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, m_pDacl, NULL);
        LogStep(m_ctx, dwStatus == ERROR_SUCCESS, "MySetSecurityInfo E %d %s", dwStatus,
                SysErrorText(dwStatus).c_str());
        bResult = dwStatus == ERROR_SUCCESS;
        m_bRead = FALSE;
    }
    if (m_pSecurityDescriptor) {
        HLOCAL hLeft = LocalFree(m_pSecurityDescriptor);
        DWORD dwError = CallError(hLeft == NULL);
        LogStep(m_ctx, hLeft == NULL, "::LocalFree R %d E %d %s", (int)(INT_PTR)hLeft, dwError,
                SysErrorText(dwError).c_str());
        bResult = bResult && hLeft == NULL;
        m_pSecurityDescriptor = NULL;
        m_pDacl = NULL;
    }
    if (m_hAdvapi) {
        BOOL bFreed = FreeLibrary(m_hAdvapi);
        DWORD dwError = CallError(bFreed);
        LogStep(m_ctx, bFreed, "::FreeLibrary R %d E %d %s", bFreed, dwError, SysErrorText(dwError).c_str());
        bResult = bResult && bFreed;
        m_hAdvapi = NULL;
    }
    return bResult;
}
