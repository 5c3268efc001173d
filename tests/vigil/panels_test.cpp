// The panels' texts: the Host Info line for each job state, the lines of the
// language monitor's notifications, and the Spool Info job section, which
// Wine's EnumJobs (it returns no jobs) never lets the window show.
#include <gtest/gtest.h>
#include "panels.h"

static bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(HostInfoLineTest, FlagsChooseTheLine)
{
    struct { DWORD flags; int idle; const char *line; BOOL idleTick; } cases[] = {
        {1, 0, "Printing\r\n", FALSE},
        {3, 0, "WriteError But Continuing\r\n", FALSE},
        {2, 0, "WriteError And Aborted\r\n", FALSE},
        {0, 0, "Shutdown 5\r\n", TRUE},
        {0, 5, "Shutdown 0\r\n", TRUE},
        {0xFFFFFFFC, 2, "Shutdown 3\r\n", TRUE},   // other bits are not looked at
    };
    for (auto &c : cases) {
        BOOL idle = 7;
        EXPECT_EQ(HostInfoLine(c.flags, c.idle, &idle), c.line) << c.flags;
        EXPECT_EQ(idle, c.idleTick) << c.flags;
    }
}

TEST(NotificationLineTest, EachEventHasItsLine)
{
    EXPECT_EQ(NotificationLine(1, 0, 5), "OpenPortEx\r\n");
    EXPECT_EQ(NotificationLine(2, 0, 5), "StartDoc JobId=5\r\n");
    EXPECT_EQ(NotificationLine(3, 0, 6), "EndDoc JobId=6\r\n");
    EXPECT_EQ(NotificationLine(4, 0, 6), "ClosePort\r\n");
    EXPECT_EQ(NotificationLine(9, 77, 6), "(9,77)\r\n");
}

TEST(SpoolInfoTest, JobSectionShowsThePrintingJobWithNullsAsKztNull)
{
    DEVMODEA dm = {};
    memset(dm.dmDeviceName, 'D', sizeof(dm.dmDeviceName));   // 32 bytes, no terminator
    JOB_INFO_2A jobs[3] = {};
    jobs[0].JobId = 1;
    jobs[0].Status = JOB_STATUS_PRINTING;
    jobs[1].JobId = 2;
    jobs[1].Status = JOB_STATUS_SPOOLING;
    jobs[2].JobId = 3;
    jobs[2].Status = JOB_STATUS_PRINTING | JOB_STATUS_PAUSED;
    jobs[2].pPrinterName = (LPSTR) "TZ";
    jobs[2].pDocument = (LPSTR) "page";
    jobs[2].pDevMode = &dm;
    jobs[2].TotalPages = 4;
    const JOB_INFO_2A *found = FindPrintingJob(jobs, 3);
    ASSERT_EQ(found, &jobs[2]);                             // the last printing one
    EXPECT_EQ(FindPrintingJob(jobs + 1, 1), nullptr);
    std::string text = FormatJobInfo2(found);
    EXPECT_EQ(text.rfind("GetJob JOB_INFO_2\r\n JobId 3\r\n pPrinterName [TZ]\r\n pMachineName [KztNull]\r\n", 0), 0u)
        << text;
    EXPECT_NE(text.find(" pDocument [page]\r\n"), std::string::npos);
    EXPECT_NE(text.find(" TotalPages 4\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Submitted"), std::string::npos);
    EXPECT_TRUE(EndsWith(text, " PagesPrinted 0\r\n pDevMode->dmDeviceName [" + std::string(32, 'D') + "]\r\n"))
        << text;
}

TEST(SpoolInfoTest, PrinterSectionsKeepTheirSpelling)
{
    PRINTER_INFO_2A info = {};
    info.pPrinterName = (LPSTR) "TZ";
    info.cJobs = 2;
    std::string text = FormatPrinterInfo2(&info);
    EXPECT_EQ(text.rfind("GetPrinter PRNTER_INFO_2\r\n pServerName [KztNull]\r\n pPrinterName [TZ]\r\n", 0), 0u);
    EXPECT_NE(text.find(" pDevMode x0\r\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(text, " cJobs 2\r\n AveragePPM 0\r\n")) << text;
    PRINTER_INFO_5A five = {};
    EXPECT_EQ(FormatPrinterInfo5(&five), "GetPrinter PRNTER_INFO_5\r\n pPrinterName [KztNull]\r\n pPortName [KztNull]\r\n"
                                         " Attributes 0\r\n DeviceNotSelectedTimeout 0\r\n TransmissionRetryTimeout 0\r\n");
}
