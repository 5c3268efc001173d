// Raw jobs of the Information page ("Send Data" and a dropped file) on a
// queue whose name is not its driver's: they go to the queue whose sheet is
// open, need no more than the right to use it, and a job that fails on the
// way is cancelled and reported to the user instead of going on with a hole.
// The spooler's failures Wine cannot bring about come from the stand-in.
#include "spoolstandin.h"
#include "testenv.h"
#include "uidllfixture.h"
#include "windowdriver.h"
#include <functional>

namespace {

const int kInfoText = 500, kSendData = 501;
// A second queue of the library's driver, and one whose port refuses every
// job at its end (Wine's LPT1: has no device behind it).
const wchar_t kSecondPrinter[] = L"Ostrel TZ-1000 (Copy 2)";
const wchar_t kSecondPort[] = L"C:\\kzt-tz1000-copy2.prn";
const wchar_t kDeadPrinter[] = L"Ostrel TZ-1000 (LPT1)";
const std::string kSecondName = Narrow(kSecondPrinter);

void WriteBytes(const std::wstring &path, const std::string &data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb;
    WriteFile(h, data.data(), (DWORD)data.size(), &cb, NULL);
    CloseHandle(h);
}

std::string Letters(size_t cb)
{
    std::string data(cb, 'x');
    for (size_t i = 0; i < cb; i++)
        data[i] = (char)('A' + i % 26);
    return data;
}

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The message box of this process that reports a failed job: its text, once
// OK has closed it; empty when none came.
std::string AnswerFailureBox(DWORD timeoutMs = 20000)
{
    std::string text;
    HWND box = WaitForMessageBox(GetCurrentProcessId(), timeoutMs, &text);
    if (box)
        Press(box, IDOK);
    return text;
}

// Sends the page a message as a click or the shell would; a failure box that
// comes instead is answered and its text returned.
std::string SendToPage(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result;
    if (SendMessageTimeoutW(page, msg, wParam, lParam, SMTO_NORMAL, 20000, &result))
        return std::string();
    return "box: " + AnswerFailureBox();
}

}  // namespace

// The Information page of a queue's printer sheet, as PrinterProperties
// shows it for a handle to that queue (the second queue unless a test opens
// another).
class RawPrintTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        DeleteFileW(kUiPort);
        DeleteFileW(kSecondPort);
        OpenPage(kSecondPrinter, kSecondPort);
    }
    void TearDown() override
    {
        ClosePage();
        UiTest::TearDown();
    }
    void OpenPage(const wchar_t *printer, const wchar_t *port)
    {
        ClosePage();
        std::string why;
        ASSERT_TRUE(EnsureUiQueue(printer, port, &why)) << why;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        ASSERT_TRUE(OpenPrinterW((LPWSTR)printer, &m_queue, &defaults));
        m_call = new ModalCall([this] { return (LONG)ui.pfnPrinterProps(NULL, m_queue); });
        m_page = WaitForPage(GetCurrentProcessId(), kInfoText, 20000, &m_sheet);
        ASSERT_TRUE(m_page);
        ASSERT_EQ("Ostrel TZ-1000\r\n", ItemText(m_page, kInfoText));  // the driver's name
    }
    void ClosePage()
    {
        if (m_page) {
            Press(m_sheet, IDCANCEL);
            m_call->Wait();
            delete m_call;
            m_page = nullptr;
        }
        if (m_queue)
            ClosePrinter(m_queue);
        m_queue = nullptr;
    }
    std::string SecondPortBytes() { return ReadTextFile(kSecondPort); }
    void Drop(const std::wstring &path) { PostMessageW(m_page, WM_DROPFILES, (WPARAM)MakeDrop({path}), 0); }

    HANDLE m_queue = nullptr;
    ModalCall *m_call = nullptr;
    HWND m_page = nullptr, m_sheet = nullptr;
};

TEST_F(RawPrintTest, JobsGoToTheSheetsQueueWithTheRightToUseIt)
{
    std::wstring file = ExePath(L"kzt-drop-copy2.bin");
    std::string data = Letters(3000);
    WriteBytes(file, data);
    for (bool administrator : {true, false}) {
        SCOPED_TRACE(administrator ? "administrator" : "user without administer rights");
        SpoolerStandIn spooler(ui.hModule);
        ASSERT_TRUE(spooler.Installed());
        if (!administrator)
            spooler.UserWithoutAdministerRights();

        EXPECT_EQ("", SendToPage(m_page, WM_COMMAND, MAKEWPARAM(kSendData, BN_CLICKED),
                                 (LPARAM)GetDlgItem(m_page, kSendData)));
        EXPECT_EQ("Ostrel TZ-1000\r\n", SecondPortBytes());
        EXPECT_EQ("", SendToPage(m_page, WM_DROPFILES, (WPARAM)MakeDrop({file}), 0));
        EXPECT_EQ(data, SecondPortBytes());

        EXPECT_FALSE(Exists(kUiPort)) << "a job reached the queue named after the driver";
        EXPECT_EQ(0, spooler.RefusedOpens());
        DeleteFileW(kSecondPort);
    }
    DeleteFileW(file.c_str());
}

TEST_F(RawPrintTest, AFailedWriteCancelsTheJobAndIsReported)
{
    std::wstring file = ExePath(L"kzt-drop-fails.bin");
    std::string data = Letters(3000);
    WriteBytes(file, data);
    struct {
        const char *what;
        LONG failAt;  // the WritePrinter call that fails
        std::function<void()> start;
        std::string spooledBefore;  // what was written before the failed call
    } cases[] = {
        {"Send Data", 1, [&] { Click(m_page, kSendData); }, ""},
        {"dropped file, second block", 2, [&] { Drop(file); }, data.substr(0, 1024)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SpoolerStandIn spooler(ui.hModule);
        ASSERT_TRUE(spooler.Installed());
        spooler.FailWrite(c.failAt, ERROR_DISK_FULL);
        c.start();
        std::string box = AnswerFailureBox();
        EXPECT_NE(std::string::npos, box.find("\"" + kSecondName + "\"")) << box;
        EXPECT_NE(std::string::npos, box.find("112")) << box;
        EXPECT_EQ(c.failAt, spooler.Writes());
        EXPECT_EQ(0, spooler.WritesAfterFailure());
        EXPECT_EQ(1, spooler.Aborts());
        EXPECT_EQ(0, spooler.EndDocs()) << "a cut job was ended as if it were whole";
        // Wine's AbortPrinter does nothing, so what was spooled before the
        // failure still reaches the port; nothing after it does.
        EXPECT_EQ(c.spooledBefore, SecondPortBytes());
        DeleteFileW(kSecondPort);
    }
    DeleteFileW(file.c_str());
}

// A file whose reading fails half-way: a pipe whose writer goes away after
// the first block.
TEST_F(RawPrintTest, AReadErrorCancelsTheFileJobAndIsReported)
{
    const wchar_t name[] = L"\\\\.\\pipe\\kzt-drop-read";
    HANDLE pipe = CreateNamedPipeW(name, PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                   4096, 4096, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    SpoolerStandIn spooler(ui.hModule);
    ASSERT_TRUE(spooler.Installed());
    Drop(name);
    bool connected = ConnectNamedPipe(pipe, &ov) || GetLastError() == ERROR_PIPE_CONNECTED ||
                     (GetLastError() == ERROR_IO_PENDING && WaitForSingleObject(ov.hEvent, 20000) == WAIT_OBJECT_0);
    ASSERT_TRUE(connected) << "the page did not open the dropped pipe";
    std::string block = Letters(1024);
    ResetEvent(ov.hEvent);
    DWORD cb = 0;
    if (!WriteFile(pipe, block.data(), (DWORD)block.size(), NULL, &ov) && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(pipe, &ov, &cb, TRUE);
    ASSERT_TRUE(spooler.WaitForWrites(1, 20000));
    DisconnectNamedPipe(pipe);

    std::string box = AnswerFailureBox();
    EXPECT_NE(std::string::npos, box.find("\"" + kSecondName + "\"")) << box;
    EXPECT_EQ(1, spooler.Writes());
    EXPECT_EQ(1, spooler.Aborts());
    EXPECT_EQ(0, spooler.EndDocs()) << "a cut job was ended as if it were whole";
    CloseHandle(ov.hEvent);
    CloseHandle(pipe);
}

TEST_F(RawPrintTest, ADropThatCannotBeOpenedSendsNoJobAndIsReported)
{
    std::wstring missing = ExePath(L"kzt-drop-missing.bin");
    DeleteFileW(missing.c_str());
    struct {
        const char *what;
        std::wstring path;
    } cases[] = {
        {"folder", ExeDirectory()},
        {"missing file", missing},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Drop(c.path);
        std::string box = AnswerFailureBox();
        EXPECT_NE(std::string::npos, box.find("\"" + kSecondName + "\"")) << box;
        EXPECT_FALSE(Exists(kSecondPort) || Exists(kUiPort)) << "a job was sent";
        DeleteFileW(kSecondPort);
    }
    EXPECT_FALSE(Exists(missing)) << "the dropped path was created";
    DeleteFileW(missing.c_str());
}

TEST_F(RawPrintTest, AJobThePortRefusesIsReported)
{
    OpenPage(kDeadPrinter, L"LPT1:");
    Click(m_page, kSendData);
    std::string box = AnswerFailureBox();
    EXPECT_NE(std::string::npos, box.find("\"" + Narrow(kDeadPrinter) + "\"")) << box;
}
