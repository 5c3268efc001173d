// Double-byte characters of the Japanese code page: a trail byte that equals
// a backslash or an opening bracket is never taken for one. This program runs
// under a Japanese locale (code page 932).
#include "contextfixture.h"
#include "splstr.h"

class DbcsContextTest : public ContextTest {};

TEST_F(DbcsContextTest, RunsUnderTheJapaneseCodePage)
{
    ASSERT_EQ(932u, GetACP());
    ASSERT_EQ(0x0411, GetSystemDefaultLangID());
}

TEST_F(DbcsContextTest, TrailBackslashIsNoPathSeparator)
{
    // "C:\d\<ソ>.INF": the katakana's trail byte is 0x5C.
    ctx.SetInfFileName("C:\\d\\\x83\x5c.INF");
    ASSERT_TRUE(ctx.SetInfDirBase());
    EXPECT_STREQ("C:\\d", ctx.m_pInfDirName);
    EXPECT_STREQ("\x83\x5c.INF", ctx.m_pInfBaseName);

    ctx.SetInfFileName("\x95\x5c.INF");  // no separator at all
    EXPECT_FALSE(ctx.SetInfDirBase());
    EXPECT_EQ("SetInfDirBase() INF pLast\r\n", ctx.m_strError);
    EXPECT_EQ(nullptr, FindCharA("\x83\x5c", '\\'));
    EXPECT_FALSE(IsAbsolutePathA("\x83\x5c" "x"));
}

TEST_F(DbcsContextTest, TrailBracketDoesNotEndASection)
{
    // 0x81 0x5B (a long-vowel mark) in a key: its trail byte is '['.
    UseInf("[S]\n\x81\x5b=1\nB=2\n[T]\n");
    char out[INF_LINE_MAX];
    ASSERT_EQ(2, ctx.GetLineCountW95("S"));
    ASSERT_TRUE(ctx.GetFirstLineTextW95("S", "\x81\x5b", out, sizeof(out)));
    EXPECT_STREQ("1", out);
}

TEST_F(DbcsContextTest, JapaneseSampleStringsAndHardwareId)
{
    UseInf("[Manufacturer]\n%Mfg%=Models\n[Models]\n\"\x83\x5c\x83\x74\x83\x67\"=Inst,LPTENUM\\\x83\x5cTZ-1ABCD\n"
           "[Inst]\nAddReg=Reg\n[Reg]\nHKLM,\"Key\\\x95\x5c\",\"%Mfg% Head\",0,\"1B\"\n"
           "[Strings]\nMfg=Plain\n[Strings.0011]\nMfg=\"\x83\x49\x83\x58\"\n");
    ctx.m_wLangID = GetSystemDefaultLangID();
    std::string models;
    ASSERT_TRUE(ctx.FindInfPrinters(models));
    EXPECT_EQ("\x83\x5c\x83\x74\x83\x67,", models);
    ctx.SetPrinterName("\x83\x5c\x83\x74\x83\x67");
    ASSERT_TRUE(ctx.ParseInf()) << ctx.GetErrorText();
    EXPECT_STREQ("\x83\x5cTZ-1", ctx.m_pHardwareID);
    ASSERT_TRUE(ctx.m_pRegLink);
    EXPECT_STREQ("Key\\\x95\x5c", ctx.m_pRegLink->pSubKey);
    EXPECT_STREQ("\x83\x49\x83\x58 Head", ctx.m_pRegLink->pValueName);
}
