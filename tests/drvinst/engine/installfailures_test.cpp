// An install that meets a fault in the package or on the system stops at the
// step that failed and says why in its error text. A file that cannot be
// copied stops it before any component is added; a failure after that takes
// back the queue, driver, print processor and monitor this run made, so that a retry once the fault is
// mended makes the one queue. It never writes the entry in the list of
// installed software.
#include "executefixture.h"
#include "regkeys.h"
#include "testenv.h"

namespace {

// Keys of the cases' registry lines: one that everyone may read but not
// write, one that never exists.
const std::string kScratchKey = "SOFTWARE\\KztInstallFailure";
const std::string kDeniedKey = kScratchKey + "\\Denied";
const std::string kMissingKey = kScratchKey + "\\Missing";

// Writes a file's bytes whole.
void WriteBytes(const std::string &path, const std::string &bytes)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << path;
    DWORD cb = 0;
    BOOL ok = ::WriteFile(h, bytes.data(), (DWORD)bytes.size(), &cb, NULL);
    CloseHandle(h);
    ASSERT_TRUE(ok && cb == bytes.size()) << path;
}

// Replaces the first occurrence of what in a text file.
void EditInf(const std::string &inf, const std::string &what, const std::string &with)
{
    std::string text = ReadBytes(inf);
    size_t at = text.find(what);
    ASSERT_NE(std::string::npos, at) << what;
    text.replace(at, what.size(), with);
    WriteBytes(inf, text);
}

}  // namespace

class InstallFailureTest : public ExecuteTest {
protected:
    void TearDown() override
    {
        DeleteKeyTree(kScratchKey);
        ExecuteTest::TearDown();
    }
};

// Each fault, where the install stops, the text that says so, and whether the
// monitor and the print processor were added (then taken back, as the queue
// and the driver are). The retry after each fault makes the model's one queue.
TEST_F(InstallFailureTest, EachFaultStopsItsStepWithAClearMessageAndNoUninstallEntry)
{
    const std::string reg = "HKLM,%MonitorKey%,\"Ostrel TZ-1000\",0,\"vigil.exe\"";
    struct Case {
        const char *name;
        std::string what, with;                // an edit of TZ.INF, if any
        const char *removeFile;                // a package file taken away, if any
        std::vector<std::string> errorStarts;  // texts the error text holds, in this order
        bool componentsAdded;
    };
    const Case cases[] = {
        {"missing source file", "", "", "KZTTZDRV.DLL",
         {"CheckPackageFiles() Missing [" + m_package + "\\KZTTZDRV.DLL] ::GetFileAttributes R -1 E 2 "}, false},
        {"unknown directory id", "TZ.Driver=66000", "TZ.Driver=12345", nullptr,
         {"GetDestDir() DirectoryID\r\n", "Excecute() [Ostrel TZ-1000] of [TZ.INF]: the INF has errors"}, false},
        {"missing AddReg key", reg, "HKLM," + kMissingKey + ",\"Ostrel TZ-1000\",0,\"vigil.exe\"", nullptr,
         {"::RegOpenKeyEx([" + kMissingKey + "]) E 2 "}, true},
        {"key the installer may not write", reg, "HKLM," + kDeniedKey + ",\"Ostrel TZ-1000\",0,\"vigil.exe\"",
         nullptr, {"::RegOpenKeyEx([" + kDeniedKey + "]) E 5 "}, true},
    };
    const std::string inf = m_package + "\\TZ.INF";
    const std::string pristine = ReadBytes(inf);
    ASSERT_TRUE(CreateReadOnlyKey(kDeniedKey));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LogOn();  // this row's log only
        RemoveWhatTheSequenceLeaves();
        ResetSpooler();
        ASSERT_NO_FATAL_FAILURE(WriteBytes(inf, pristine));
        if (!c.what.empty()) {
            ASSERT_NO_FATAL_FAILURE(EditInf(inf, c.what, c.with));
        }
        std::string removed;
        if (c.removeFile) {
            removed = ReadBytes(m_package + "\\" + c.removeFile);
            ASSERT_TRUE(DeleteFileA((m_package + "\\" + c.removeFile).c_str()));
        }

        CInstallContext c1;
        ASSERT_NO_FATAL_FAILURE(PrepareOperation(c1, "LPT1:", &c1.m_bInstall));
        EXPECT_FALSE(c1.Excecute());
        size_t at = 0;
        for (const std::string &start : c.errorStarts) {
            size_t found = c1.m_strError.find(start, at);
            EXPECT_NE(std::string::npos, found) << start << "\nin:\n" << c1.m_strError;
            if (found != std::string::npos)
                at = found;
        }
        // Added, then taken back (Wine's DeletePrintProcessor answers
        // success and deletes nothing: the log tells).
        SpoolerState s = ReadSpooler();
        EXPECT_FALSE(Has(s.monitors, "jobtap"));
        EXPECT_EQ(c.componentsAdded, LogHasStart("DBG ::DeleteMonitor([jobtap]) R 1 "));
        EXPECT_EQ(c.componentsAdded, LogHasStart("DBG ::DeletePrintProcessor([KZT TZ Print Processor]) R 1 "));
        EXPECT_FALSE(Has(s.drivers, kModel));
        EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
        EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + kModel));
        EXPECT_TRUE(RunOnceNames().empty());
        if (c.removeFile) {
            ASSERT_NO_FATAL_FAILURE(WriteBytes(m_package + "\\" + c.removeFile, removed));
        }
        ASSERT_NO_FATAL_FAILURE(WriteBytes(inf, pristine));
        ASSERT_NO_FATAL_FAILURE(Install());
        EXPECT_EQ((std::vector<std::string>{kModel}), QueuesStartingWith("Ostrel"));
    }
    ASSERT_NO_FATAL_FAILURE(WriteBytes(inf, pristine));
}
