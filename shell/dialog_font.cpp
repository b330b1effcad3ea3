// Point sizes to font heights for the dialogs' own fonts.
#include "shell/dialog_font.h"

#include <cmath>
#include <cwchar>

#include "ui/ui_strings.h"

namespace {
constexpr double kPointsPerInch = 72.0;
}

HFONT createPointFont(HWND window, int points, int weight, BYTE pitchAndFamily, const wchar_t* face) {
    HDC context = GetDC(window);
    const int pixelsPerInch = GetDeviceCaps(context, LOGPIXELSY);
    ReleaseDC(window, context);
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(points * pixelsPerInch / kPointsPerInch));
    font.lfWeight = weight;
    font.lfCharSet = ANSI_CHARSET;
    font.lfPitchAndFamily = pitchAndFamily;
    std::wcsncpy(font.lfFaceName, face ? face : uiString(kDialogFont), LF_FACESIZE - 1);
    return CreateFontIndirectW(&font);
}
