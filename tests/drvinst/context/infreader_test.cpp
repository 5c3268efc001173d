// The INF text reader: line rules, capacity, quotes, %key% expansion, the
// entry queries with their log lines, and the string table's language rule.
#include "contextfixture.h"
#include "splstr.h"

namespace {

struct LineCase {
    const char *what;
    const char *inf;       // lines joined by \n
    const char *section;
    const char *entries;   // expected, joined by '|'
};

const LineCase kLineCases[] = {
    {"trims key and value, drops the comment", "[S]\nKey = Value ; note\n", "S", "Key=Value"},
    {"key with comment and no equals sign is dropped", "[S]\nKey ; note\nOther\n", "S", "Other"},
    {"line without equals sign is its own entry", "[S]\n  Key  \n", "S", "Key"},
    {"empty key keeps the equals sign", "[S]\n= x\n", "S", "=x"},
    {"comment and blank lines vanish", "[S]\n; c\n\n   \n\tA=1\n", "S", "A=1"},
    {"bracket in the value does not end the section", "[S]\nKey=a[1]\nB=2\n", "S", "Key=a[1]|B=2"},
    {"bracket in the key ends the section", "[S]\nA=1\na[1]=x\nB=2\n", "S", "A=1"},
    {"indented header ends the section", "[S]\nA=1\n  [Next]\nB=2\n", "S", "A=1"},
    {"header matched case-insensitively", "[strings]\nA=1\n", "STRINGS", "A=1"},
    {"commented header is no header", ";[S]\nX=0\n[S]\nA=1\n", "S", "A=1"},
    {"quotes and brackets are plain in values", "[S]\nA=\"[v]\"\n", "S", "A=\"[v]\""},
    {"section at end without newline", "[S]\nA=1", "S", "A=1"},
    {"lone CR stays in the line", "[S]\nA=1\rB=2\n", "S", "A=1\rB=2"},
    {"Ctrl-Z ends the file", "[S]\nA=1\n\x1a" "B=2\n", "S", "A=1"},
    {"value ends at the first semicolon only", "[S]\nA = b = c ; d ; e\n", "S", "A=b = c"},
    {"missing section", "[S]\nA=1\n", "T", ""},
    {"empty section", "[S]\n[T]\nA=1\n", "S", ""},
};

}  // namespace

TEST_F(ContextTest, SectionReaderFollowsTheLineRules)
{
    static char buffer[INF_SECTION_MAX];
    for (const LineCase &c : kLineCases) {
        std::string path = UseInf(c.inf);
        SetLastError(1234);
        DWORD cb = ctx.GetPrivateProfileSectionReadOnly(c.section, buffer, INF_SECTION_MAX, path.c_str());
        EXPECT_EQ(0u, GetLastError()) << c.what;
        EXPECT_EQ(c.entries, JoinEntries(buffer)) << c.what;
        size_t expected = 0;
        for (const char *p = buffer; *p; p += strlen(p) + 1)
            expected += strlen(p) + 1;
        EXPECT_EQ(expected, cb) << c.what;
    }
}

TEST_F(ContextTest, SectionReaderTakesFullLinesAndFillsToCapacity)
{
    static char buffer[INF_SECTION_MAX];
    // A line feed that is the 256th character only ends the line.
    std::string path = UseInf("[S]\n" + std::string(255, 'y') + "\nB=1\n");
    ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, path.c_str());
    EXPECT_EQ(std::string(255, 'y') + "|B=1", JoinEntries(buffer));

    // 200 entries of 200 bytes: cut at size - 2, list still closed.
    std::string inf = "[S]\n";
    for (int i = 0; i < 200; i++)
        inf += std::string(199, 'a' + i % 26) + "\n";
    path = UseInf(inf);
    memset(buffer, 0x55, sizeof(buffer));
    DWORD cb = ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, path.c_str());
    EXPECT_EQ((DWORD)INF_SECTION_MAX - 1, cb);
    EXPECT_EQ(0, buffer[INF_SECTION_MAX - 2]);
    EXPECT_EQ(0, buffer[INF_SECTION_MAX - 1]);
    EXPECT_EQ(164, ctx.GetLineCountW95("S"));  // 163 whole entries and the cut one
    char small[16];
    memset(small, 0x55, sizeof(small));
    cb = ctx.GetPrivateProfileSectionReadOnly("S", small, 10, path.c_str());
    EXPECT_EQ(9u, cb);
    EXPECT_EQ(std::string(8, 'a'), small);
    EXPECT_EQ(0x55, (unsigned char)small[10]);
}

TEST_F(ContextTest, SectionReaderStopsALineAtANul)
{
    static char buffer[INF_SECTION_MAX];
    std::string path = WriteFile("ZERO.INF", std::string("[S]\r\nA=1\0tail\r\nB=2\r\n", 21));
    ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, path.c_str());
    EXPECT_EQ("A=1|B=2", JoinEntries(buffer));
}

TEST_F(ContextTest, SectionReaderReportsAMissingFile)
{
    static char buffer[INF_SECTION_MAX];
    std::string path = m_dir + "\\NONE.INF";
    EXPECT_EQ(0u, ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, path.c_str()));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(0u, ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, m_dir.c_str()));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(ContextTest, SectionReaderSeesTheFileAsItIsNow)
{
    static char buffer[INF_SECTION_MAX];
    std::string path = UseInf("[S]\nA=1\n");
    ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, path.c_str());
    EXPECT_EQ("A=1", JoinEntries(buffer));
    UseInf("[S]\nA=22\n");  // another size
    ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, path.c_str());
    EXPECT_EQ("A=22", JoinEntries(buffer));
    WaitNextTick();
    DeleteFileA(path.c_str());
    EXPECT_EQ(0u, ctx.GetPrivateProfileSectionReadOnly("S", buffer, INF_SECTION_MAX, path.c_str()));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(ContextTest, QuotesAndKeysExpand)
{
    char out[INF_LINE_MAX];
    ctx.AddStringLinkW95("Mfg", "Ostrel");
    ctx.AddStringLinkW95("mfg", "second");
    ctx.AddStringLinkW95("Empty", "");
    struct {
        const char *in;
        const char *out;  // NULL: failure
    } cases[] = {
        {"\"A, B\"", "A, B"},
        {"\"odd", NULL},
        {"\"\"", NULL},                    // nothing left: failure for the callers
        {"%MFG% TZ", "Ostrel TZ"},         // case-insensitive, first node wins
        {"%Nope%", "%Nope%"},
        {"100%%", "100%%"},
        {"%Mfg", NULL},                    // unclosed key
        {"%Empty%", NULL},                 // expands to nothing
        {"x%Empty%", "x"},
        {"\"%Mfg%\"=%Mfg%", "Ostrel=Ostrel"},
    };
    for (const auto &c : cases) {
        int cch = ctx.ExpandLine(c.in, out);
        if (!c.out) {
            EXPECT_EQ(0, cch) << c.in;
        } else {
            EXPECT_EQ((int)strlen(c.out), cch) << c.in;
            EXPECT_STREQ(c.out, out) << c.in;
        }
    }
    EXPECT_EQ(0, ctx.RemoveQuotes("\"a\"\"", out));
    EXPECT_EQ(0, ctx.RemoveQuotes("\"\"", out));
    EXPECT_STREQ("", out);
}

TEST_F(ContextTest, ExpansionNeverOverflowsItsBuffer)
{
    char out[INF_LINE_MAX + 64];
    std::string big(200, 'v');
    ctx.AddStringLinkW95("Big", big.c_str());
    memset(out, 0x55, sizeof(out));
    EXPECT_EQ(0, ctx.ExpandStringKeys("%Big%%Big%", out));  // 400 characters: refused
    EXPECT_EQ(0x55, (unsigned char)out[INF_LINE_MAX]);
    std::string longKey = "%" + std::string(300, 'k') + "%";
    EXPECT_EQ(0, ctx.ExpandStringKeys(longKey.c_str(), out));
    std::string exact = "%Big%" + std::string(55, 'x');
    EXPECT_EQ(255, ctx.ExpandStringKeys(exact.c_str(), out));
}

TEST_F(ContextTest, FirstLineQueryLogsWhatItFinds)
{
    UseInf("[S]\n; comment\nA=1\nB = \"%K%\"\nPlain\n[T]\nX=\"odd\n");
    ctx.AddStringLinkW95("K", "kay");
    char out[INF_LINE_MAX];
    ASSERT_TRUE(ctx.GetFirstLineTextW95("S", NULL, out, sizeof(out)));
    EXPECT_STREQ("1", out);
    ASSERT_TRUE(ctx.GetFirstLineTextW95("S", "b", out, sizeof(out)));
    EXPECT_STREQ("kay", out);
    ASSERT_TRUE(ctx.GetFirstLineTextW95("S", "Plain", out, sizeof(out)));
    EXPECT_STREQ("Plain", out);
    EXPECT_FALSE(ctx.GetFirstLineTextW95("S", "C", out, sizeof(out)));
    EXPECT_FALSE(ctx.GetFirstLineTextW95("T", "X", out, sizeof(out)));
    EXPECT_FALSE(ctx.GetFirstLineTextW95("None", "X", out, sizeof(out)));
    std::vector<std::string> log = TakeLog();
    std::vector<std::string> expected = {
        "DBG GetFirstLineTextW95([S],[KztNull]) [1]",
        "DBG GetFirstLineTextW95([S],[b]) [kay]",
        "DBG GetFirstLineTextW95([S],[Plain]) [Plain]",
        "DBG GetFirstLineTextW95([S],[C])",
        "ERR GetFirstLineTextW95() Length",
        "ERR GetPrivateProfileSectionReadOnly([None]) R 0 E 0 ",
    };
    EXPECT_EQ(expected, log);
    EXPECT_EQ("GetFirstLineTextW95() Length\r\nGetPrivateProfileSectionReadOnly([None]) R 0 E 0 \r\n",
              ctx.m_strError);
}

TEST_F(ContextTest, IndexQueryCountsEveryEntry)
{
    UseInf("[S]\nA=1\n;x=c\n  B  \nC=3\n[One]\nOnly=v\n[Bad]\nA=1\nB=\"2\nC=3\n");
    char out[INF_LINE_MAX];
    EXPECT_EQ(3, ctx.GetLineCountW95("S"));
    ASSERT_TRUE(ctx.GetIndexLineTextW95("S", 1, out, sizeof(out)));
    EXPECT_STREQ("B", out);
    ASSERT_TRUE(ctx.GetIndexLineTextW95("S", 2, out, sizeof(out)));
    EXPECT_STREQ("3", out);
    ASSERT_TRUE(ctx.GetIndexLineTextW95("One", 0, out, sizeof(out)));
    EXPECT_STREQ("v", out);
    TakeLog();
    EXPECT_FALSE(ctx.GetIndexLineTextW95("One", 1, out, sizeof(out)));
    EXPECT_EQ(std::vector<std::string>{"DBG GetIndexLineTextW95([One],1) R 0"}, TakeLog());
    // An entry that cannot be expanded fails every query that reaches it.
    ASSERT_TRUE(ctx.GetIndexLineTextW95("Bad", 0, out, sizeof(out)));
    EXPECT_FALSE(ctx.GetIndexLineTextW95("Bad", 2, out, sizeof(out)));
    EXPECT_FALSE(ctx.GetIndexLineTextW95("Bad", 7, out, sizeof(out)));
    EXPECT_EQ((std::vector<std::string>{"ERR GetIndexLineTextW95() Length", "ERR GetIndexLineTextW95() Length"}),
              TakeLog());
    EXPECT_EQ(0, ctx.GetLineCountW95("Missing"));
}

TEST_F(ContextTest, IndexQueryFollowsAChangedStringTable)
{
    UseInf("[S]\nA=%K%\n");
    char out[INF_LINE_MAX];
    ASSERT_TRUE(ctx.GetIndexLineTextW95("S", 0, out, sizeof(out)));
    EXPECT_STREQ("%K%", out);
    ctx.AddStringLinkW95("K", "now");
    ASSERT_TRUE(ctx.GetIndexLineTextW95("S", 0, out, sizeof(out)));
    EXPECT_STREQ("now", out);
    ctx.FreeStringLinks();
    ASSERT_TRUE(ctx.GetIndexLineTextW95("S", 0, out, sizeof(out)));
    EXPECT_STREQ("%K%", out);
}

TEST_F(ContextTest, StringTableTakesTheSystemLanguageSection)
{
    std::string inf =
        "[Strings.0011]\nName=\"Japanese\"\n"
        "[Strings]\nName=\"Plain\"\nList=\"A, B\"\nRef=\"%Name%\"\n"
        "[Strings.0009]\nName=English\n";
    UseInf(inf);
    struct {
        LANGID lang;
        const char *name;
        const char *sections;  // log of the reads
    } cases[] = {
        {0x0409, "English", "[Strings.0409][Strings.0009]"},
        {0x0809, "English", "[Strings.0809][Strings.0009]"},
        {0x0411, "Japanese", "[Strings.0411][Strings.0011]"},
        {0x0407, "Plain", "[Strings.0407][Strings.0007][Strings]"},
        {0x0009, "English", "[Strings.0009]"},  // no sublanguage: one read
    };
    for (const auto &c : cases) {
        ctx.m_wLangID = c.lang;
        TakeLog();
        ASSERT_TRUE(ctx.ListStringDirectiveW95()) << c.lang;
        ASSERT_TRUE(ctx.m_pStringLink);
        EXPECT_STREQ(c.name, ctx.m_pStringLink->pValue) << c.lang;
        std::string reads;
        for (const std::string &line : TakeLog()) {
            size_t open = line.find('['), close = line.find(']');
            if (line.find("GetPrivateProfileSectionReadOnly") != std::string::npos)
                reads += line.substr(open, close - open + 1);
        }
        EXPECT_EQ(c.sections, reads) << c.lang;
    }

    // The plain section alone: quotes removed, nothing expanded, order kept.
    UseInf("[Strings]\nName=\"Plain\"\n; c\nList=\"A, B\"\nRef=\"%Name%\"\n");
    ctx.m_wLangID = 0x0407;
    ASSERT_TRUE(ctx.ListStringDirectiveW95());
    std::string table;
    for (const StringLink *p = ctx.m_pStringLink; p; p = p->pNext)
        table += std::string(p->pKey) + "=" + p->pValue + ";";
    EXPECT_EQ("Name=Plain;List=A, B;Ref=%Name%;", table);

    // No strings at all: success, table unchanged.
    UseInf("[Other]\nA=1\n");
    ASSERT_TRUE(ctx.ListStringDirectiveW95());
    EXPECT_STREQ("Name", ctx.m_pStringLink->pKey);

    // A strings entry without '=' stops the loading, the earlier ones stay.
    UseInf("[Strings]\nA=1\nB\nC=3\n");
    EXPECT_FALSE(ctx.ListStringDirectiveW95());
    ASSERT_TRUE(ctx.m_pStringLink);
    EXPECT_STREQ("A", ctx.m_pStringLink->pKey);
    EXPECT_FALSE(ctx.m_pStringLink->pNext);
    EXPECT_TRUE(LogHas("ERR ListStringDirectiveW95() pEqual"));
}

TEST_F(ContextTest, BlankOrCommentTells)
{
    EXPECT_TRUE(CInstallContext::IsBlankOrComment(""));
    EXPECT_TRUE(CInstallContext::IsBlankOrComment(" \t\r\n"));
    EXPECT_TRUE(CInstallContext::IsBlankOrComment("  ; x"));
    EXPECT_FALSE(CInstallContext::IsBlankOrComment(" x;"));
}
