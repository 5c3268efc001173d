// The shipped binaries, read as files: they must load on Windows 2000 and XP
// (no imports those systems lack, no runtime DLL beside them) and export the
// exact undecorated names the spooler looks up.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>
#include "testenv.h"

namespace {

struct PeImage {
    std::vector<BYTE> bytes;
    bool pe32plus = false;
    std::vector<IMAGE_SECTION_HEADER> sections;
    IMAGE_DATA_DIRECTORY dirs[16] = {};

    bool Load(const std::wstring &path)
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        bytes.resize(GetFileSize(h, nullptr));
        DWORD cb = 0;
        ReadFile(h, bytes.data(), (DWORD)bytes.size(), &cb, nullptr);
        CloseHandle(h);
        auto *dos = At<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE)
            return false;
        DWORD nt = dos->e_lfanew;
        auto *file = At<IMAGE_FILE_HEADER>(nt + 4);
        auto *magic = At<WORD>(nt + 4 + sizeof(IMAGE_FILE_HEADER));
        if (!file || !magic)
            return false;
        pe32plus = *magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
        DWORD opt = nt + 4 + sizeof(IMAGE_FILE_HEADER);
        DWORD dirOffset = opt + (pe32plus ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                          : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
        for (int i = 0; i < 16; ++i)
            if (auto *d = At<IMAGE_DATA_DIRECTORY>(dirOffset + i * sizeof(IMAGE_DATA_DIRECTORY)))
                dirs[i] = *d;
        DWORD sec = opt + file->SizeOfOptionalHeader;
        for (int i = 0; i < file->NumberOfSections; ++i)
            if (auto *s = At<IMAGE_SECTION_HEADER>(sec + i * sizeof(IMAGE_SECTION_HEADER)))
                sections.push_back(*s);
        return true;
    }

    template <typename T> const T *At(size_t offset) const
    {
        return offset + sizeof(T) <= bytes.size() ? (const T *)(bytes.data() + offset) : nullptr;
    }

    size_t Offset(DWORD rva) const
    {
        for (auto &s : sections)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        return (size_t)-1;
    }

    std::string Str(DWORD rva) const
    {
        size_t o = Offset(rva);
        std::string s;
        while (o < bytes.size() && bytes[o])
            s += (char)bytes[o++];
        return s;
    }

    // "DLL!Function" for every imported name.
    std::vector<std::string> Imports() const
    {
        std::vector<std::string> out;
        const IMAGE_DATA_DIRECTORY &d = dirs[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (size_t o = Offset(d.VirtualAddress); auto *imp = At<IMAGE_IMPORT_DESCRIPTOR>(o); o += sizeof(*imp)) {
            if (!imp->Name)
                break;
            std::string dll = Str(imp->Name);
            std::transform(dll.begin(), dll.end(), dll.begin(), ::toupper);
            DWORD thunks = imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk;
            size_t width = pe32plus ? 8 : 4;
            for (size_t t = Offset(thunks);; t += width) {
                ULONGLONG v = pe32plus ? (At<ULONGLONG>(t) ? *At<ULONGLONG>(t) : 0)
                                       : (At<DWORD>(t) ? *At<DWORD>(t) : 0);
                if (!v)
                    break;
                bool ordinal = pe32plus ? (v >> 63) : (v >> 31);
                out.push_back(dll + "!" + (ordinal ? "#" + std::to_string(v & 0xFFFF) : Str((DWORD)v + 2)));
            }
        }
        return out;
    }

    std::set<std::string> Exports() const
    {
        std::set<std::string> out;
        const IMAGE_DATA_DIRECTORY &d = dirs[IMAGE_DIRECTORY_ENTRY_EXPORT];
        if (!d.VirtualAddress)
            return out;
        auto *exp = At<IMAGE_EXPORT_DIRECTORY>(Offset(d.VirtualAddress));
        if (!exp)
            return out;
        for (DWORD i = 0; i < exp->NumberOfNames; ++i)
            if (auto *rva = At<DWORD>(Offset(exp->AddressOfNames) + i * 4))
                out.insert(Str(*rva));
        return out;
    }
};

// Functions that Windows 2000 or XP (before its service packs) do not export,
// and that MinGW-w64's runtimes are known to pull in.
const char *const kMissingOnTarget[] = {
    "GetTickCount64", "InitializeCriticalSectionEx", "InitOnceExecuteOnce", "InitOnceBeginInitialize",
    "InitOnceComplete", "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared",
    "ReleaseSRWLockExclusive", "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive",
    "InitializeConditionVariable", "SleepConditionVariableCS", "SleepConditionVariableSRW",
    "WakeConditionVariable", "WakeAllConditionVariable", "FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue",
    "GetFileInformationByHandleEx", "SetFileInformationByHandle", "GetFinalPathNameByHandleW",
    "CreateSymbolicLinkW", "GetErrorMode", "QueryFullProcessImageNameW", "GetCurrentProcessorNumber",
    "CompareStringEx", "LCMapStringEx", "GetLocaleInfoEx", "CreateEventExW", "CreateMutexExW",
    "GetModuleHandleExA", "GetModuleHandleExW", "AddVectoredExceptionHandler",
    "RemoveVectoredExceptionHandler", "GetNativeSystemInfo", "AttachConsole", "GetProcessId", "GetThreadId",
    "GetLogicalProcessorInformation", "IsWow64Process", "SetDllDirectoryW", "EncodePointer", "DecodePointer",
    "InitializeSListHead", "InterlockedPushEntrySList", "InterlockedPopEntrySList", "RtlCaptureContext",
    "RtlVirtualUnwind", "RtlLookupFunctionEntry"};

// The system DLLs a deliverable may import; nothing else ships beside it.
const char *const kSystemDlls[] = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL",
                                   "WINSPOOL.DRV", "COMCTL32.DLL", "COMDLG32.DLL", "SHELL32.DLL"};

struct Shipped {
    const wchar_t *file;
    bool sample;                     // a stand-in of the sample's, from the product build's sample folder
    std::set<std::string> exports;   // exact export names; empty for a program or a stand-in
    ACTCTX_REQUESTED_RUN_LEVEL runLevel = ACTCTX_RUN_LEVEL_UNSPECIFIED;  // a program's manifest asks for it
};
const Shipped kShipped[] = {
    {L"jobtap.dll", false, {"DllEntryPoint", "InitializePrintMonitor"}},
    {L"vigil.exe", false, {}, ACTCTX_RUN_LEVEL_AS_INVOKER},
    {L"drvinst.exe", false, {}, ACTCTX_RUN_LEVEL_REQUIRE_ADMIN},
    {L"KZTTZUIF.DLL", false,
     {"DevQueryPrintEx", "DrvAdvancedDocumentProperties", "DrvConvertDevMode", "DrvDeviceCapabilities",
      "DrvDevicePropertySheets", "DrvDocumentProperties", "DrvDocumentPropertySheets", "DrvPrinterEvent",
      "DrvUpgradePrinter", "PrinterProperties", "UserIFDLLEntryFunc"}},
    {L"KZTTZDRV.DLL", true, {}},
    {L"KZTTZPP.DLL", true, {}},
    {L"KZTTZRES.DLL", true, {}},
};

// The version resource every shipped binary carries: the package's one
// version as file and product version, the product's name, the company.
void CheckVersionResource(const std::wstring &path)
{
    DWORD handle = 0, cb = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_NE(0u, cb) << Narrow(path) << " has no version resource";
    std::vector<BYTE> info(cb);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, cb, info.data())) << Narrow(path);
    const struct { const wchar_t *name; const wchar_t *value; } kValues[] = {
        {L"CompanyName", L"Ostrel"},
        {L"ProductName", L"Ostrel TZ host software"},
        {L"FileVersion", L"" KZT_PACKAGE_VERSION},
        {L"ProductVersion", L"" KZT_PACKAGE_VERSION},
    };
    for (const auto &v : kValues) {
        wchar_t *text = nullptr;
        UINT cch = 0;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + v.name;
        ASSERT_TRUE(VerQueryValueW(info.data(), key.c_str(), (void **)&text, &cch)) << Narrow(path) << " " << Narrow(v.name);
        EXPECT_EQ(std::wstring(v.value), std::wstring(text)) << Narrow(path) << " " << Narrow(v.name);
    }
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void **)&fixed, &cbFixed));
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS) << Narrow(path);
}

// A program's manifest as the loader reads it, into an activation context:
// the execution level, the supported systems from Vista to 10/11, system DPI
// awareness.
void CheckManifest(const std::wstring &path, ACTCTX_REQUESTED_RUN_LEVEL runLevel)
{
    ACTCTXW actctx = {sizeof(actctx)};
    actctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    actctx.lpSource = path.c_str();
    actctx.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
    HANDLE h = CreateActCtxW(&actctx);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path) << " has no manifest the loader accepts: " << GetLastError();
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    SIZE_T cb = 0;
    EXPECT_TRUE(QueryActCtxW(0, h, nullptr, RunlevelInformationInActivationContext, &level, sizeof(level), &cb));
    EXPECT_EQ(level.RunLevel, runLevel) << Narrow(path);
    EXPECT_EQ(level.UiAccess, 0u) << Narrow(path);

    // The layout of Windows 10's headers (and Wine's), whose elements end in
    // MaxVersionTested; MinGW-w64's have the shorter one of Windows 7.
    struct {
        DWORD ElementCount;
        struct {
            GUID Id;
            ACTCTX_COMPATIBILITY_ELEMENT_TYPE Type;
            ULONGLONG MaxVersionTested;
        } Elements[16];
    } compat = {};
    EXPECT_TRUE(QueryActCtxW(0, h, nullptr, CompatibilityInformationInActivationContext, &compat, sizeof(compat), &cb));
    std::set<std::wstring> systems;
    for (DWORD i = 0; i < compat.ElementCount && i < 16; ++i) {
        WCHAR id[64] = L"";
        StringFromGUID2(compat.Elements[i].Id, id, 64);
        if (compat.Elements[i].Type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS)
            systems.insert(id);
    }
    const std::set<std::wstring> kVistaTo11 = {
        L"{E2011457-1546-43C5-A5FE-008DEEE3D3F0}", L"{35138B9A-5D96-4FBD-8E2D-A2440225F93A}",
        L"{4A2F28E3-53B9-4441-BA9C-D69D4A4A6E38}", L"{1F676C76-80E1-4239-95BB-83D0F6D0DA78}",
        L"{8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}"};
    EXPECT_EQ(systems, kVistaTo11) << Narrow(path);

    typedef BOOL(WINAPI * QuerySettings)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T *);
    auto query = (QuerySettings)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "QueryActCtxSettingsW");
    ASSERT_NE(query, nullptr);
    WCHAR dpi[32] = L"";
    EXPECT_TRUE(query(0, h, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", dpi, 32, &cb))
        << Narrow(path);
    EXPECT_STREQ(dpi, L"true") << Narrow(path);
    ReleaseActCtx(h);
}

// A Linux path as Wine's Z: drive shows it.
std::wstring WinePath(const std::string &linuxPath)
{
    std::wstring path = L"Z:";
    for (char ch : linuxPath)
        path += ch == '/' ? L'\\' : (wchar_t)ch;
    return path;
}

// dir: the product build's binaries; sampleDir: its stand-ins of the sample's.
void CheckLoadsOnTarget(const std::wstring &dir, const std::wstring &sampleDir, bool x64)
{
    for (auto &s : kShipped) {
        PeImage pe;
        std::wstring path = (s.sample ? sampleDir : dir) + L"\\" + s.file;
        ASSERT_TRUE(pe.Load(path)) << Narrow(path);
        EXPECT_EQ(pe.pe32plus, x64) << Narrow(path);
        auto imports = pe.Imports();
        EXPECT_FALSE(imports.empty());
        for (auto &imp : imports) {
            std::string dll = imp.substr(0, imp.find('!'));
            std::string fn = imp.substr(imp.find('!') + 1);
            bool system = std::any_of(std::begin(kSystemDlls), std::end(kSystemDlls),
                                      [&](const char *d) { return dll == d; });
            EXPECT_TRUE(system) << Narrow(path) << " imports from " << dll;
            // 64-bit Windows begins with XP x64 / Server 2003: the unwinding
            // functions exist there.
            bool missing = std::any_of(std::begin(kMissingOnTarget), std::end(kMissingOnTarget),
                                       [&](const char *m) { return fn == m; });
            if (x64 && fn.rfind("Rtl", 0) == 0)
                missing = false;
            EXPECT_FALSE(missing) << Narrow(path) << " imports " << imp;
        }
        if (!s.exports.empty()) {
            EXPECT_EQ(pe.Exports(), s.exports) << Narrow(path);
        }
        CheckVersionResource(path);
        if (s.runLevel != ACTCTX_RUN_LEVEL_UNSPECIFIED)
            CheckManifest(path, s.runLevel);
    }
}

} // namespace

TEST(ShippedBinaries, ImportOnlyWhatWindows2000AndXpExportAndExportExactNames)
{
    CheckLoadsOnTarget(ExeDirectory(), WinePath(KZT_SAMPLE_BIN), sizeof(void *) == 8);
}

// The other architecture's build, when it lies beside this one, is checked
// too: the 32-bit binaries are the primary target even where this machine
// cannot run 32-bit code.
TEST(ShippedBinaries, OtherArchitectureBuildPassesTheSameChecks)
{
    std::string linuxDir = KZT_OTHER_ARCH_BIN;
    if (linuxDir.empty())
        GTEST_SKIP() << "no other architecture configured";
    std::wstring dir = WinePath(linuxDir);
    if (GetFileAttributesW((dir + L"\\jobtap.dll").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "other architecture not built: " << linuxDir;
    // Its stand-ins lie in .../product/sample beside .../product/bin.
    std::string sampleDir = linuxDir.substr(0, linuxDir.rfind('/')) + "/sample";
    CheckLoadsOnTarget(dir, WinePath(sampleDir), sizeof(void *) != 8);
}
