// The diagnostic log: switched by the file's presence, one line per event
// with time stamp, tag and level, cut (never overflowed) when too long.
#include <gtest/gtest.h>
#include "../jobtap/jobtapfixture.h"
#include "loga.h"
#include "logfilestandin.h"
#include <map>
#include <thread>

namespace {

bool LogExists() { return GetFileAttributesW(LogPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> MessagesStartingWith(const std::string &start)
{
    std::vector<std::string> out;
    for (auto &m : LogMessages())
        if (m.rfind(start, 0) == 0)
            out.push_back(m);
    return out;
}

// The log's lines, each whole line without its "\r\n".
std::vector<std::string> RawLines()
{
    std::vector<std::string> out;
    std::string text = LogText();
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

// "yyyy/mm/dd hh:mm:ss.mmm TG " followed by the message, or "" when the line
// does not have that shape.
std::string MessageOf(const std::string &line, const char *tag)
{
    const char *shape = "dddd/dd/dd dd:dd:dd.ddd ";
    if (line.size() < 27 || line.compare(24, 2, tag) != 0 || line[26] != ' ')
        return "";
    for (int i = 0; shape[i]; ++i)
        if (shape[i] == 'd' ? !isdigit((unsigned char)line[i]) : line[i] != shape[i])
            return "";
    return line.substr(27);
}

// One monitor thread: each rejected Get writes two lines, the first naming
// the thread and the round.
void MonitorLogger(MONITOR *lm, int thread, int cLines)
{
    for (int i = 0; i < cLines; ++i) {
        std::wstring name = L"t" + std::to_wstring(thread) + L"-" + std::to_wstring(i);
        lm->pfnGetPrinterDataFromPort(nullptr, 0, (LPWSTR)name.c_str(), nullptr, 0, nullptr, 0, nullptr);
    }
}

// One installer-side writer: whole lines through the ANSI writer.
void InstallerLogger(const std::string &path, int thread, int cLines)
{
    for (int i = 0; i < cLines; ++i) {
        char line[256];
        std::string message = "a" + std::to_string(thread) + "-" + std::to_string(i) + "\r\n";
        LogFormatLineA(line, sizeof(line), FALSE, message.c_str());
        LogFileWriteA(path.c_str(), line);
    }
}

// Runs the loggers at once, then checks that every line of the log is whole
// and each expected line is there exactly once.
void ExpectWholeLines(MONITOR *lm, int cMonitorThreads, int cInstallerThreads, int cLines)
{
    LogOn();
    std::string path = Narrow(LogPath());
    std::vector<std::thread> threads;
    for (int t = 0; t < cMonitorThreads; ++t)
        threads.emplace_back(MonitorLogger, lm, t, cLines);
    for (int t = 0; t < cInstallerThreads; ++t)
        threads.emplace_back(InstallerLogger, path, t, cLines);
    for (auto &thread : threads)
        thread.join();

    std::map<std::string, int> seen;
    int cRejected = 0, cBroken = 0;
    std::string firstBroken;
    for (auto &line : RawLines()) {
        std::string lm = MessageOf(line, "LM"), di = MessageOf(line, "DI");
        if (lm == "ERR Get pIniPort x0 magic x0 pfnGet x0")
            ++cRejected;
        else if (!lm.empty() || !di.empty())
            ++seen[lm.empty() ? di : lm];
        else if (cBroken++ == 0)
            firstBroken = line;
    }
    EXPECT_EQ(cBroken, 0) << "first broken line: [" << firstBroken << "]";
    EXPECT_EQ(cRejected, cMonitorThreads * cLines);
    for (int t = 0; t < cMonitorThreads; ++t)
        for (int i = 0; i < cLines; ++i) {
            std::string get = "DBG Get(h=x0 id=0 [t" + std::to_string(t) + "-" + std::to_string(i) +
                              "] x0 cbIn=0 x0 cbOut=0 x0)";
            ASSERT_EQ(seen[get], 1) << get;
        }
    for (int t = 0; t < cInstallerThreads; ++t)
        for (int i = 0; i < cLines; ++i) {
            std::string line = "DBG a" + std::to_string(t) + "-" + std::to_string(i);
            ASSERT_EQ(seen[line], 1) << line;
        }
}

} // namespace

using LogTest = JobtapTest;

// The spooler's threads and the port workers log at once: every line is
// written whole, in one append.
TEST_F(LogTest, LinesOfManyThreadsNeverInterleave)
{
    ExpectWholeLines(host.lm, 4, 0, 100);
}

// The installer's writer appends whole lines too, also while the monitor
// writes the same file.
TEST_F(LogTest, InstallerLinesWrittenAtOnceWithOthersStayWholeAndAllThere)
{
    ExpectWholeLines(host.lm, 0, 6, 150);
    LogOff();
    ExpectWholeLines(host.lm, 2, 2, 100);
}

TEST_F(LogTest, AbsentFileMeansNothingWrittenAndNothingCreated)
{
    LogOff();
    ASSERT_TRUE(host.Init());
    HANDLE h = OpenPort();
    ASSERT_TRUE(Close(h));
    EXPECT_FALSE(LogExists());
}

TEST_F(LogTest, CreatingTheFileTurnsLoggingOnWithoutRestart)
{
    ASSERT_TRUE(host.Init());
    EXPECT_FALSE(LogExists());
    LogOn();
    ASSERT_TRUE(host.Init());
    auto lines = LogMessages();
    ASSERT_EQ(lines.size(), 2u) << LogText();
    EXPECT_EQ(lines[0].rfind("DBG Init([System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap]) Process=", 0), 0u)
        << lines[0];
    EXPECT_NE(lines[0].find(" Thread="), std::string::npos);
    EXPECT_NE(lines[0].find(" &psz=x"), std::string::npos);
    EXPECT_EQ(lines[1], "DBG Init LM [jobtap]");
    LogOff();
    ASSERT_TRUE(host.Init());
    EXPECT_FALSE(LogExists());
}

TEST_F(LogTest, EveryLineHasStampTagLevelAndEndsInCrLf)
{
    LogOn();
    ASSERT_FALSE(host.pfnInit(nullptr));
    std::string text = LogText();
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    auto lines = LogMessages();
    ASSERT_EQ(lines.size(), 2u) << text;
    EXPECT_EQ(lines[0], "DBG Init([KztNull]) Process=" + std::to_string(GetCurrentProcessId()) + " Thread=" +
                            std::to_string(GetCurrentThreadId()) + lines[0].substr(lines[0].find(" &psz=")));
    EXPECT_EQ(lines[1], "ERR Init pszRegistryRoot x0 *pszRegistryRoot x0");
}

TEST_F(LogTest, MessageLongerThanTheLineBufferIsCutTo255Characters)
{
    LogOn();
    std::wstring port(600, L'P');
    HANDLE h = OpenPort(port.c_str());
    ASSERT_TRUE(Close(h));
    auto open = MessagesStartingWith("DBG Open([PPP");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].size(), 4u + 255u);
}

// A character the C runtime's locale cannot write (a port named in Japanese
// under the default locale) goes out as \uHHHH; the rest of its line stays.
TEST_F(LogTest, CharacterTheLocaleCannotWriteIsEscapedAndItsLineKept)
{
    LogOn();
    const wchar_t port[] = L"\x30D7\x30EA\x30F3\x30BF:";
    HANDLE h = OpenPort(port);
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(MessagesStartingWith("DBG Open([\\u30D7\\u30EA\\u30F3\\u30BF:] len=5 [").size(), 1u) << LogText();
}

// Names come from users: a control character in one (C0, DEL or C1) is
// written as \xHH, a line or paragraph separator as \uHHHH, so it can
// neither end a line early nor forge one.
TEST_F(LogTest, ControlCharactersInLoggedNamesAreEscaped)
{
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h, 7, L"doc\r\n2003/07/01 07:48:58.123 LM ERR forged\x85\x2028\x2029"));
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    auto start = MessagesStartingWith("DBG Start(h=x");
    ASSERT_EQ(start.size(), 1u) << LogText();
    EXPECT_NE(start[0].find("[doc\\x0D\\x0A2003/07/01 07:48:58.123 LM ERR forged\\x85\\u2028\\u2029]"),
              std::string::npos)
        << start[0];
    EXPECT_TRUE(MessagesStartingWith("ERR forged").empty());
}

// Another holder of a lock over the whole file (a viewer, or a user who
// means harm) holds up no job: its lock makes each write fail at once, and
// such lines are counted. A second name for the file (a hard link someone
// made) stops the writing altogether.
TEST_F(LogTest, LockedOrLinkedLogFileHoldsUpNoJob)
{
    LogOn();
    HANDLE other = CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(LockFile(other, 0, 0, MAXDWORD, MAXDWORD));
    // A job of many lines: a writer that waited a few milliseconds for each
    // of the job's 1,500 lines and more would take seconds on top of the
    // job's own 2 s; the bound leaves room for a machine under load (the
    // suites run side by side).
    AsyncCall job([&] {
        HANDLE h = OpenPort();
        BOOL ok = StartDoc(h);
        for (int i = 0; i < 1500 && ok; ++i)
            ok = Write(h, Bytes("data"));
        EndDoc(h);
        return Close(h) && ok;
    });
    bool done = job.Returned(8000);
    UnlockFile(other, 0, 0, MAXDWORD, MAXDWORD);
    CloseHandle(other);
    EXPECT_TRUE(done) << "a job waited for the log's lock";
    ASSERT_TRUE(job.Returned(kHangGuardMs));
    EXPECT_TRUE(job.Result());

    // A holder that shares the file with nobody: every line of the job is
    // lost, and the next line that goes out counts them (as many as the
    // same job writes to a free file).
    LogOn();
    PrintOnce(Bytes("data"));
    size_t cJobLines = LogMessages().size();
    LogOn();
    other = CreateFileW(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    PrintOnce(Bytes("data"));
    CloseHandle(other);
    host.lm->pfnGetPrinterDataFromPort(nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr);
    auto messages = LogMessages();
    ASSERT_GE(messages.size(), 1u) << LogText();
    EXPECT_EQ(messages[0].rfind("ERR Log ", 0), 0u) << LogText();
    EXPECT_EQ(atoi(messages[0].c_str() + 8), (int)cJobLines) << messages[0];
    EXPECT_NE(messages[0].find(" lines dropped"), std::string::npos) << messages[0];

    LogOn();
    std::wstring link = ExePath(L"kztdebug-link.txt");
    DeleteFileW(link.c_str());
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), LogPath().c_str(), nullptr)) << GetLastError();
    PrintOnce(Bytes("data"));
    EXPECT_EQ(LogText(), "");
    DeleteFileW(link.c_str());
}

// The log is written only to a plain file with one name: a directory or a
// link at its name is never written (nor counted, there is nothing to tell);
// an open that would wait for another process's lock to be broken costs the
// line, counted, not the job. Wine shows directories; a reparse point and a
// lock being broken come from the stand-in.
TEST_F(LogTest, LogThatIsNotAPlainFileOrIsHeldIsNeverWaitedForNorWritten)
{
    LogOn();
    PrintOnce(Bytes("data"));
    size_t cJobLines = LogMessages().size();
    ASSERT_TRUE(LogFileStandIn::Install(host.hModule));
    struct Row {
        const char *name;
        LogFileStandIn::Fact fact;
        bool directory;
        size_t cCounted;
    } rows[] = {
        {"a directory", LogFileStandIn::kNone, true, 0},
        {"a link", LogFileStandIn::kReparsePoint, false, 0},
        {"a lock being broken", LogFileStandIn::kOplockBreaking, false, cJobLines},
    };
    for (const Row &row : rows) {
        LogOff();
        if (row.directory)
            ASSERT_TRUE(CreateDirectoryW(LogPath().c_str(), nullptr)) << row.name;
        else
            LogOn();
        LogFileStandIn::Set(row.fact);
        PrintOnce(Bytes("data"));
        LogFileStandIn::Set(LogFileStandIn::kNone);
        if (row.directory)
            EXPECT_TRUE(RemoveDirectoryW(LogPath().c_str())) << row.name << ": something went into it";
        else
            EXPECT_EQ(LogText(), "") << row.name;
        LogOn();
        host.lm->pfnGetPrinterDataFromPort(nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr);
        auto messages = LogMessages();
        ASSERT_FALSE(messages.empty()) << row.name;
        std::string note = row.cCounted ? "ERR Log " + std::to_string(row.cCounted) + " lines dropped" : "";
        EXPECT_EQ(messages[0].rfind("ERR Log ", 0) == 0 ? messages[0] : "", note) << row.name;
    }
}

// The monitor keeps the file open for a job's lines, and still follows what
// the name holds within a clock tick: one replaced by a new file gets the
// job's later lines, and one given a second name is written no more. A log
// deleted in the middle of a job is let go: on Windows within a tick (its
// name is gone, or refuses questions while the delete is pending); Wine keeps
// the name of a file deleted while open and tells no pending delete, so there
// the port's idle worker lets it go within a second.
TEST_F(LogTest, JobsLinesFollowWhatTheLogsNameHolds)
{
    const std::wstring moved = L"C:\\kztdebug-moved.txt", link = L"C:\\kztdebug-link.txt";
    for (const char *row : {"deleted", "replaced", "linked"}) {
        LogOn();
        HANDLE h = OpenPort();
        ASSERT_TRUE(StartDoc(h));
        ASSERT_TRUE(Write(h, Bytes("a")));
        std::string row_(row);
        if (row_ == "deleted") {
            LogOff();
        } else if (row_ == "replaced") {
            ASSERT_TRUE(MoveFileW(LogPath().c_str(), moved.c_str())) << GetLastError();
            LogOn();
        } else {
            ASSERT_TRUE(CreateHardLinkW(link.c_str(), LogPath().c_str(), nullptr)) << GetLastError();
        }
        NextTick();
        size_t cBefore = MessagesStartingWith("DBG Write(").size();
        ASSERT_TRUE(Write(h, Bytes("b")));
        for (int i = 0; row_ == "deleted" && LogExists() && i < 300; ++i)
            Sleep(10);
        if (row_ == "deleted")
            EXPECT_FALSE(LogExists()) << row;
        else if (row_ == "replaced")
            EXPECT_EQ(MessagesStartingWith("DBG Write(").size(), 1u) << row << ": " << LogText();
        else
            EXPECT_EQ(MessagesStartingWith("DBG Write(").size(), cBefore) << row;
        EndDoc(h);
        EXPECT_TRUE(Close(h));
        DeleteFileW(moved.c_str());
        DeleteFileW(link.c_str());
    }
}

// The installer's form of the log.
TEST(LogAnsiTest, PathIsTheRootOfTheWindowsDrive)
{
    char path[MAX_PATH], windir[MAX_PATH];
    ASSERT_TRUE(LogPathForNameA("kztdebug.txt", path, sizeof(path)));
    GetWindowsDirectoryA(windir, sizeof(windir));
    EXPECT_EQ(std::string(path), std::string(windir, 3) + "kztdebug.txt");
    EXPECT_FALSE(LogPathForNameA(nullptr, path, sizeof(path)));
    EXPECT_STREQ(path, "");
    EXPECT_FALSE(LogPathForNameA("kztdebug.txt", path, 5));
}

TEST(LogAnsiTest, WriterAppendsOnlyToAnExistingFileAndAddsNoLineEnd)
{
    std::string path = Narrow(LogPath());
    LogOff();
    LogFileWriteA(path.c_str(), "lost\r\n");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    LogOn();
    char line[256];
    LogFormatLineA(line, sizeof(line), TRUE, "ParseInf failed\r\n");
    LogFileWriteA(path.c_str(), line);
    LogFormatLineA(line, sizeof(line), FALSE, "next");
    LogFileWriteA(path.c_str(), line);
    auto lines = LogMessages("DI");
    ASSERT_EQ(lines.size(), 2u) << LogText();
    EXPECT_EQ(lines[0], "ERR ParseInf failed");
    EXPECT_EQ(lines[1], "DBG next");          // no line end of the writer's own
    EXPECT_EQ(LogText().back(), 't');
    LogOff();
}

TEST(LogAnsiTest, WriterCutsTextAt4096Bytes)
{
    std::string path = Narrow(LogPath());
    LogOn();
    std::string big(10000, 'x');
    LogFileWriteA(path.c_str(), big.c_str());
    EXPECT_EQ(LogText().size(), 4096u);
    char line[40];
    LogFormatLineA(line, sizeof(line), FALSE, "a message that does not fit into forty bytes");
    EXPECT_EQ(strlen(line), 39u);
    LogOff();
}
