#include "guardeddevmode.h"
#include <algorithm>
#include <string.h>

WORD SpecForSize(WORD size, WORD source)
{
    return size == 188 ? 0x0320 : size == 212 ? 0x0400 : size == 220 ? 0x0401 : source;
}

// What a call that reports success must have written into a fresh buffer
// of 244 bytes for the template (the caller's input device mode, or none):
// the template's shape where it is smaller than ours, the dmSpecVersion of
// that size (ours for an unlisted one), our private part as far as it fits,
// its signature when there is room for it, nothing beyond; public fields as
// the library's rules make them: colour, scale 1 to 1000, copies 1 to 99,
// one resolution of the table throughout, paper and pixels from the private
// part, a terminated name.
::testing::AssertionResult IsDriverOutput(GuardedDevmode &g, const DEVMODEW *pTemplate)
{
    const DEVMODEW *o = g.Devmode();
    bool smaller = pTemplate && pTemplate->dmSize < 220, shorter = pTemplate && pTemplate->dmDriverExtra < 24;
    WORD size = smaller ? pTemplate->dmSize : 220, extra = shorter ? pTemplate->dmDriverExtra : 24;
    WORD version = shorter ? pTemplate->dmDriverVersion : 0x0100;
    WORD spec = SpecForSize(size, 0x0401);
    if (o->dmSize != size || o->dmDriverExtra != extra || o->dmDriverVersion != version ||
        o->dmSpecVersion != spec)
        return ::testing::AssertionFailure()
               << "shape " << o->dmSize << "+" << o->dmDriverExtra << " version " << o->dmDriverVersion << " dmSpecVersion "
               << o->dmSpecVersion << ", want " << size << "+" << extra << " " << version << " " << spec;
    if (size < offsetof(DEVMODEW, dmFields) + sizeof(DWORD))
        return ::testing::AssertionFailure() << "public part of " << size << " bytes";
    if (!g.UntouchedFrom(size + extra))
        return ::testing::AssertionFailure() << "written beyond " << size << "+" << extra;
    PrivateSettings priv = {};
    memcpy(&priv, g.Bytes() + size, extra);
    if (extra >= offsetof(PrivateSettings, dwPrivData) + 4 && priv.dwPrivData != PRIV_SIGNATURE)
        return ::testing::AssertionFailure() << "no signature: " << std::hex << priv.dwPrivData;
    bool named = false;
    for (int i = 0; i < CCHDEVICENAME; i++)
        named = named || !o->dmDeviceName[i];
    if (!named)
        return ::testing::AssertionFailure() << "device name without end";
#define HAS(field) (offsetof(DEVMODEW, field) + sizeof(o->field) <= size)
#define PRIV_HAS(field) (offsetof(PrivateSettings, field) + sizeof(priv.field) <= extra)
    if (!(o->dmFields & DM_COLOR) || (HAS(dmColor) && o->dmColor != DMCOLOR_COLOR))
        return ::testing::AssertionFailure() << "colour " << o->dmColor << " fields " << std::hex << o->dmFields;
    if (HAS(dmScale) && (o->dmScale < 1 || o->dmScale > 1000))
        return ::testing::AssertionFailure() << "scale " << o->dmScale;
    if (HAS(dmCopies) && (o->dmCopies < 1 || o->dmCopies > 99))
        return ::testing::AssertionFailure() << "copies " << o->dmCopies;
    if (HAS(dmPrintQuality)) {
        int dpi = o->dmPrintQuality;
        bool listed = std::find(ResolutionTable, ResolutionTable + RESOLUTION_COUNT, dpi) !=
                      ResolutionTable + RESOLUTION_COUNT;
        if (!listed || (PRIV_HAS(FrameDpiIdx) && dpi != ResolutionForIndex(priv.FrameDpiIdx)) ||
            (HAS(dmYResolution) && o->dmYResolution != dpi) || (HAS(dmLogPixels) && o->dmLogPixels != dpi))
            return ::testing::AssertionFailure() << "resolution " << dpi << " " << o->dmYResolution << " "
                                                 << o->dmLogPixels << " index " << priv.FrameDpiIdx;
        if (PRIV_HAS(UserDefinedY) && HAS(dmPelsHeight) &&
            (o->dmPelsWidth != (DWORD)PelsForLength(priv.UserDefinedX, (int16_t)dpi) ||
             o->dmPelsHeight != (DWORD)PelsForLength(priv.UserDefinedY, (int16_t)dpi)))
            return ::testing::AssertionFailure() << "pixels " << o->dmPelsWidth << " x " << o->dmPelsHeight;
    }
    if (PRIV_HAS(UserDefinedY) && HAS(dmPaperWidth) &&
        (o->dmPaperWidth != priv.UserDefinedX || o->dmPaperLength != priv.UserDefinedY))
        return ::testing::AssertionFailure() << "paper " << o->dmPaperWidth << " x " << o->dmPaperLength;
#undef HAS
#undef PRIV_HAS
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsConvertedDevmode(GuardedDevmode &g, const DEVMODEW *pSource, WORD size, WORD extra)
{
    const DEVMODEW *o = g.Devmode();
    if (o->dmSize != size || o->dmDriverExtra != extra || (size_t)size + extra > g.Size() ||
        o->dmSpecVersion != SpecForSize(size, pSource->dmSpecVersion))
        return ::testing::AssertionFailure()
               << "shape " << o->dmSize << "+" << o->dmDriverExtra << " dmSpecVersion " << o->dmSpecVersion << " in "
               << g.Size() << " bytes, want " << size << "+" << extra;
    // The four header words (dmSpecVersion to dmDriverExtra) are the target's.
    const BYTE *pIn = (const BYTE *)pSource, *pOut = g.Bytes();
    size_t cbPublic = std::min(size, pSource->dmSize), header = offsetof(DEVMODEW, dmSpecVersion);
    size_t fields = offsetof(DEVMODEW, dmFields);
    if (memcmp(pOut, pIn, header) || memcmp(pOut + fields, pIn + fields, cbPublic - fields))
        return ::testing::AssertionFailure() << "public part differs from the source's " << cbPublic << " bytes";
    size_t cbExtra = std::min(extra, pSource->dmDriverExtra);
    if (memcmp(pOut + size, pIn + pSource->dmSize, cbExtra))
        return ::testing::AssertionFailure() << "private part differs from the source's " << cbExtra << " bytes";
    const size_t kSignatureEnd = offsetof(PrivateSettings, dwPrivData) + 4;
    uint32_t dwIn = 0, dwOut = 0;
    if (cbExtra >= kSignatureEnd) {
        memcpy(&dwIn, pIn + pSource->dmSize + offsetof(PrivateSettings, dwPrivData), 4);
        memcpy(&dwOut, pOut + size + offsetof(PrivateSettings, dwPrivData), 4);
        if (dwIn == PRIV_SIGNATURE && dwOut != PRIV_SIGNATURE)
            return ::testing::AssertionFailure() << "signature lost: " << std::hex << dwOut;
    }
    return ::testing::AssertionSuccess();
}

namespace {

// Fills a guarded buffer with random bytes and the given shape; a quarter of
// the dmSpecVersion values none, a quarter any, half ours; with validPrivate and
// room for it, a private part of the driver's with random width and
// resolution index.
void FillRandom(std::mt19937 &rng, GuardedDevmode &g, WORD dmSize, WORD dmExtra, bool validPrivate)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (size_t i = 0; i < g.Size(); i++)
        g.Bytes()[i] = (BYTE)pick(0, 255);
    DEVMODEW *pdm = g.Devmode();
    pdm->dmSize = dmSize;
    pdm->dmDriverExtra = dmExtra;
    int spec = pick(0, 3);
    pdm->dmSpecVersion = spec == 0 ? 0 : spec == 1 ? (WORD)pick(0, 0xFFFF) : 0x0401;
    pdm->dmFields = (DWORD)pick(0, 0x7FFFFFFF);
    if (validPrivate && dmExtra >= 24 && (size_t)dmSize + 24 <= g.Size()) {
        PrivateSettings s = DefaultSettings();
        s.UserDefinedX = (int16_t)pick(-30000, 30000);
        s.FrameDpiIdx = (int16_t)pick(-3, 8);
        memcpy((BYTE *)pdm + dmSize, &s, sizeof(s));
    }
}

bool Fail(std::string *what, const std::string &text)
{
    *what = text;
    return false;
}

}  // namespace

bool GeneratedDevmodeRound(UiLibrary &ui, HANDLE hPrinter, std::mt19937 &rng, bool throughDocProps,
                           DevmodeRoundCounts *counts, std::string *what)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Every device mode has at least its header (76 bytes); beyond that the
    // buffer is exactly what dmSize and dmDriverExtra claim.
    auto claimSize = [](WORD dmSize, WORD dmExtra) { return std::max<size_t>(76, (size_t)dmSize + dmExtra); };
    static const WORD kSizes[] = {0, 1, 60, 76, 100, 156, 188, 212, 220, 221, 300, 4000};
    static const WORD kExtras[] = {0, 8, 23, 24, 25, 200};
    static const DWORD kModes[] = {CDM_CONVERT, CDM_CONVERT351, CDM_DRIVER_DEFAULT, 8};
    WORD inSize = kSizes[pick(0, 11)], inExtra = kExtras[pick(0, 5)];
    WORD outSize = kSizes[pick(0, 11)], outExtra = kExtras[pick(0, 5)];
    GuardedDevmode in(claimSize(inSize, inExtra)), out(claimSize(outSize, outExtra));
    FillRandom(rng, in, inSize, inExtra, pick(0, 1));
    FillRandom(rng, out, outSize, outExtra, false);
    DriverDevmode dd;
    BuildWorkingDevmode(&dd, NULL, kUiPrinter);
    MergeDevmode(&dd, in.Devmode());
    // The library's own conversion into the output's shape: the bytes of
    // both parts that both hold.
    LONG cbCopied = ConvertDevmode(in.Devmode(), out.Devmode());
    if (cbCopied > 0) {
        counts->converted++;
        ::testing::AssertionResult valid = IsConvertedDevmode(out, in.Devmode(), outSize, outExtra);
        LONG cbBoth = std::min(outSize, inSize) + std::min(outExtra, inExtra);
        if (!valid || cbCopied != cbBoth)
            return Fail(what, "ConvertDevmode copied " + std::to_string(cbCopied) + " bytes of " +
                                  std::to_string(cbBoth) + ": " + valid.message());
    }
    // The caller's output for its own device mode is of the size the
    // library announces (244), whatever the template's shape; a copy that
    // fails writes nothing.
    GuardedDevmode full(sizeof(DriverDevmode));
    if (CopyDevmodeOut(&dd, in.Devmode(), full.Devmode())) {
        ::testing::AssertionResult valid = IsDriverOutput(full, in.Devmode());
        if (!valid)
            return Fail(what, std::string("copy-out: ") + valid.message());
    } else if (!full.UntouchedFrom(0)) {
        return Fail(what, "a failed copy-out wrote");
    }
    // The same through the export: IDOK only with that output written, else
    // a negative answer with the reason and nothing written.
    GuardedDevmode answer(sizeof(DriverDevmode));
    if (throughDocProps) {
        SetLastError(0xdeadbeef);
        LONG lAnswer = ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, answer.Devmode(), in.Devmode(), DM_COPY);
        if (lAnswer == IDOK) {
            counts->answered++;
            ::testing::AssertionResult valid = IsDriverOutput(answer, in.Devmode());
            if (!valid)
                return Fail(what, std::string("DrvDocumentProperties: ") + valid.message());
        } else {
            counts->refused++;
            DWORD dwError = GetLastError();
            if (lAnswer >= 0 || dwError != ERROR_INVALID_PARAMETER || !answer.UntouchedFrom(0))
                return Fail(what, "DrvDocumentProperties refused with " + std::to_string(lAnswer) + ", error " +
                                      std::to_string(dwError) + (answer.UntouchedFrom(0) ? "" : ", and wrote"));
        }
    }
    FillRandom(rng, out, outSize, outExtra, false);
    LONG cb = (LONG)out.Size() - pick(0, 1) * pick(0, 80);
    DWORD mode = kModes[pick(0, 3)];
    if (ui.pfnConvert((LPWSTR)L"No Such Printer", in.Devmode(), out.Devmode(), &cb, mode)) {
        // Only the conversions can succeed without a printer: the output's
        // own shape, or the 3.51 one.
        WORD size = mode == CDM_CONVERT351 ? 188 : outSize, extra = mode == CDM_CONVERT351 ? 8 : outExtra;
        ::testing::AssertionResult valid = IsConvertedDevmode(out, in.Devmode(), size, extra);
        if ((mode != CDM_CONVERT && mode != CDM_CONVERT351) || !valid || cb != size + extra)
            return Fail(what, "DrvConvertDevMode mode " + std::to_string(mode) + " answered " + std::to_string(cb) +
                                  " bytes: " + valid.message());
    }
    ui.pfnCaps(NULL, NULL, (WORD)pick(0, 20), NULL, in.Devmode());
    if (!in.GuardIntact() || !out.GuardIntact() || !full.GuardIntact() || !answer.GuardIntact())
        return Fail(what, "a guard before a buffer was written");
    if (dd.dm.dmPrintQuality < 90)
        return Fail(what, "working device mode at " + std::to_string(dd.dm.dmPrintQuality) + " dpi");
    return true;
}
