// One-time settings of the Wine test prefix, run by tools/wine-env.sh when it makes the
// template prefix. The non-client fonts (message boxes, captions, menus) default to a face
// without Hangul glyphs, so MessageBoxA text of the control would show as boxes; pointing
// them at NanumGothic with HANGUL_CHARSET fixes that, and Wine keeps the change in
// HKCU\Control Panel\Desktop\WindowMetrics.
#include <windows.h>
#include <cstdio>

int main()
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
    {
        std::printf("PrefixSetup: SPI_GETNONCLIENTMETRICS failed (%lu)\n", GetLastError());
        return 1;
    }
    WCHAR original[LF_FACESIZE];
    lstrcpynW(original, metrics.lfMessageFont.lfFaceName, LF_FACESIZE);
    LOGFONTW* fonts[] = {&metrics.lfMessageFont, &metrics.lfCaptionFont, &metrics.lfSmCaptionFont,
                         &metrics.lfMenuFont, &metrics.lfStatusFont};
    for (LOGFONTW* font : fonts)
    {
        lstrcpynW(font->lfFaceName, L"NanumGothic", LF_FACESIZE);
        font->lfCharSet = HANGUL_CHARSET;
    }
    if (!SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(metrics), &metrics,
                               SPIF_UPDATEINIFILE | SPIF_SENDCHANGE))
    {
        std::printf("PrefixSetup: SPI_SETNONCLIENTMETRICS failed (%lu)\n", GetLastError());
        return 1;
    }

    // Read back: a setting that did not stick would silently bring the boxes back. Wine
    // answers with the face's localised name (나눔고딕), so compare against the old face.
    NONCLIENTMETRICSW check = {};
    check.cbSize = sizeof(check);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(check), &check, 0) ||
        lstrcmpiW(check.lfMessageFont.lfFaceName, original) == 0 ||
        check.lfMessageFont.lfCharSet != HANGUL_CHARSET)
    {
        std::printf("PrefixSetup: the message font did not change\n");
        return 1;
    }
    std::printf("PrefixSetup: non-client fonts set to NanumGothic (HANGUL_CHARSET)\n");
    return 0;
}
