// A context with its log in a file of its own, and a scratch folder for INFs
// and copies; both go away with the test.
#pragma once
#include "installcontext.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes bytes to a file of the scratch folder and returns its path.
    std::string WriteFile(const std::string &name, const std::string &bytes);
    // Writes an INF (lines joined with CR LF) and makes it the context's INF.
    std::string UseInf(const std::string &text, const std::string &name = "TEST.INF");
    // Log messages since the last call, each as "DBG message" or "ERR message"
    // with the line end removed.
    std::vector<std::string> TakeLog();
    bool LogHas(const std::string &message);  // scans everything taken so far

    std::string m_dir;      // scratch folder, no trailing backslash
    std::string m_logPath;
    size_t m_logTaken = 0;
    std::vector<std::string> m_logSeen;
    CInstallContext ctx;
};

// Waits for the clock to tick: the reader looks at its file once per tick.
void WaitNextTick();
// Entries of a section buffer ("a\0b\0\0") joined with '|'.
std::string JoinEntries(const char *pBuffer);
std::string ReadBytes(const std::string &path);  // a file's bytes, empty when missing
bool FileExists(const std::string &path);
void RemoveTree(const std::string &dir);
// The prefix's directories as the system reports them.
std::string TempPathA();
std::string WindowsDirA();
std::string ProgramsDirA();  // HKLM's "ProgramFilesDir"
std::string PrinterDriverDirA();

// One INF through a fresh context as the installer reads it: the models
// listed, then ParseInf for the first listed model (or "TZ A"), then the
// dependent files of a parsed model. Each step that fails must leave a
// message for the user; false (with the step in *what) when one does not.
struct InfRound {
    bool listed = false;
    bool parsed = false;
};
bool ReadInfAsInstaller(const std::string &path, InfRound *round, std::string *what);
