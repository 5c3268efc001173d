// The diagnostic log: switched by the file's presence, one line per event
// with time stamp, tag and level, cut (never overflowed) when too long.
#include <gtest/gtest.h>
#include "../jobtap/jobtapfixture.h"
#include "loga.h"

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

} // namespace

using LogTest = JobtapTest;

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

TEST_F(LogTest, PieceThatCannotBeConvertedIsDroppedButPrefixAndLineEndStay)
{
    LogOn();
    const wchar_t port[] = L"\x30D7\x30EA\x30F3\x30BF:";   // a port named in Japanese
    HANDLE h = OpenPort(port);
    ASSERT_TRUE(Close(h));
    auto lines = LogMessages();
    // The Open line lost its message; the next line is intact.
    auto it = std::find(lines.begin(), lines.end(), "DBG ");
    ASSERT_NE(it, lines.end()) << LogText();
    ASSERT_NE(it + 1, lines.end());
    EXPECT_EQ((it + 1)->rfind("DBG Open pfnOpen lm=x", 0), 0u) << *(it + 1);
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
