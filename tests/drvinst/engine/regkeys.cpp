#include "regkeys.h"
#include <aclapi.h>
#include <sddl.h>

bool KeyExists(const std::string &path)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &hKey))
        return false;
    RegCloseKey(hKey);
    return true;
}

// The leaf is created relative to its parent: Wine's ANSI calls refuse a
// path argument longer than MAX_PATH, and a test needs names up to 256
// characters below long paths.
bool CreateKey(const std::string &path, bool bVolatile)
{
    size_t last = path.rfind('\\');
    HKEY hParent = HKEY_LOCAL_MACHINE;
    if (last != std::string::npos && RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.substr(0, last).c_str(), 0, NULL,
                                                     0, KEY_ALL_ACCESS, NULL, &hParent, NULL))
        return false;
    HKEY hKey;
    DWORD dwOptions = bVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE;
    std::string leaf = last == std::string::npos ? path : path.substr(last + 1);
    LONG lStatus = RegCreateKeyExA(hParent, leaf.c_str(), 0, NULL, dwOptions, KEY_ALL_ACCESS, NULL, &hKey, NULL);
    if (hParent != HKEY_LOCAL_MACHINE)
        RegCloseKey(hParent);
    if (lStatus)
        return false;
    RegCloseKey(hKey);
    return true;
}

// The names of an open key's subkeys, in the registry's order.
static std::vector<std::string> EnumNames(HKEY hKey)
{
    std::vector<std::string> names;
    char szName[512];
    DWORD cchName = sizeof(szName);
    for (DWORD i = 0; !RegEnumKeyExA(hKey, i, szName, &cchName, NULL, NULL, NULL, NULL); i++) {
        names.push_back(szName);
        cchName = sizeof(szName);
    }
    return names;
}

std::vector<std::string> SubkeyNames(const std::string &path)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &hKey))
        return {};
    std::vector<std::string> names = EnumNames(hKey);
    RegCloseKey(hKey);
    return names;
}

// Opens the key's access list first (its owner may always do so), so that
// it goes whatever list a test gave it; names relative to their parent.
static void DeleteUnder(HKEY hParent, const std::string &name)
{
    HKEY hKey;
    if (!RegOpenKeyExA(hParent, name.c_str(), 0, WRITE_DAC, &hKey)) {
        SetSecurityInfo(hKey, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, NULL, NULL);
        RegCloseKey(hKey);
    }
    if (!RegOpenKeyExA(hParent, name.c_str(), 0, KEY_READ, &hKey)) {
        for (const std::string &child : EnumNames(hKey))
            DeleteUnder(hKey, child);
        RegCloseKey(hKey);
    }
    RegDeleteKeyA(hParent, name.c_str());
}

void DeleteKeyTree(const std::string &path)
{
    DeleteUnder(HKEY_LOCAL_MACHINE, path);
}

bool SetValueBytes(const std::string &path, const char *name, DWORD type, const std::string &bytes)
{
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL))
        return false;
    LONG lStatus = RegSetValueExA(hKey, name, 0, type, (const BYTE *)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(hKey);
    return lStatus == ERROR_SUCCESS;
}

bool SetValueText(const std::string &path, const char *name, const std::string &text)
{
    return SetValueBytes(path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

RegValue GetValue(const std::string &path, const char *name)
{
    RegValue value;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &hKey))
        return value;
    char data[1024];
    DWORD cbData = sizeof(data);
    if (!RegQueryValueExA(hKey, name, NULL, &value.type, (LPBYTE)data, &cbData)) {
        value.found = true;
        value.bytes.assign(data, cbData);
    }
    RegCloseKey(hKey);
    return value;
}

std::string DaclText(const std::string &path)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &hKey))
        return "";
    PACL pDacl = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    std::string text;
    if (!GetSecurityInfo(hKey, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, &pDacl, NULL, &pSd)) {
        char *pszText = NULL;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorA(pSd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                 &pszText, NULL))
            text = pszText;
        LocalFree(pszText);
        LocalFree(pSd);
    }
    RegCloseKey(hKey);
    return text;
}

bool SetDaclText(const std::string &path, const char *sddl)
{
    PSECURITY_DESCRIPTOR pSd = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &pSd, NULL))
        return false;
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pDacl = NULL;
    GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted);
    HKEY hKey;
    bool bSet = false;
    if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &hKey)) {
        bSet = !SetSecurityInfo(hKey, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, pDacl, NULL);
        RegCloseKey(hKey);
    }
    LocalFree(pSd);
    return bSet;
}

bool CreateReadOnlyKey(const std::string &path)
{
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL))
        return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = NULL;
    DWORD status = ERROR_NOT_ENOUGH_MEMORY;
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        BYTE aclBuffer[256];
        PACL acl = (PACL)aclBuffer;
        InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION);
        AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | DELETE | WRITE_DAC, everyone);
        status = SetSecurityInfo(hKey, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 NULL, NULL, acl, NULL);
        FreeSid(everyone);
    }
    RegCloseKey(hKey);
    if (status != ERROR_SUCCESS)
        return false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &hKey) != ERROR_ACCESS_DENIED) {
        RegCloseKey(hKey);
        return false;
    }
    return true;
}
