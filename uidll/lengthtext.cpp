// Paper lengths as the Settings page shows and reads them: tenths of a
// millimetre inside, millimetres with one decimal or inches with two outside.
#include "devmode.h"
#include <stdio.h>

/* FormatLengthText: nLength tenths of a mm as text in unit nUnit (0:
 * millimetres, one decimal; else inches, two), into pszText of cchText
 * characters, always terminated. */
void FormatLengthText(int nLength, int nUnit, WCHAR *pszText, int cchText)
{
    if (nUnit == 0) {
        _snwprintf(pszText, cchText, L"%d.%01d", nLength / 10, nLength % 10);
    } else {
        int nHundredths = (nLength * 100 + 127) / 254;
        _snwprintf(pszText, cchText, L"%d.%02d", nHundredths / 100, nHundredths % 100);
    }
    pszText[cchText - 1] = 0;
}

/* ParseLengthText: a length typed in unit nUnit (0: mm, else inches), read
 * from the first 9 characters of pszText at most, in tenths of a mm, rounded
 * and clamped to nMin..nMax. A '-' makes it negative; the first other
 * character ends it. Never fails: empty or stray text gives nMin. */
int ParseLengthText(LPCWSTR pszText, int nUnit, int nMin, int nMax)
{
    const int kMaxChars = 9;
    int64_t nSign = 1, nValue = 0;
    int i = 0;
    for (; i < kMaxChars && pszText[i]; i++) {
        if (pszText[i] == L'-')
            nSign = -1;
        else if (pszText[i] >= L'0' && pszText[i] <= L'9')
            nValue = nValue * 10 + (pszText[i] - L'0');
        else
            break;
    }
    nValue *= nUnit == 0 ? 10 : 100;
    auto digitAt = [&](int k) { return k < kMaxChars && pszText[k] >= L'0' && pszText[k] <= L'9'; };
    if (i < kMaxChars && pszText[i] == L'.') {
        i++;
        if (nUnit != 0 && digitAt(i))
            nValue += (pszText[i++] - L'0') * 10;
        if (digitAt(i))
            nValue += pszText[i++] - L'0';
        if (digitAt(i) && pszText[i] >= L'5')
            nValue += 1;
    }
    if (nUnit != 0)
        nValue = nValue * 254 / 100;
    nValue *= nSign;
    if (nValue < nMin)
        nValue = nMin;
    if (nValue > nMax)
        nValue = nMax;
    return (int)nValue;
}
