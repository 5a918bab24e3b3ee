// Sets the desktop's caption, menu, status and message fonts to one face, by default one with
// Chinese characters: Wine's own have none, so the window tests' title bar and task bar would show
// boxes. Run once in a fresh Wine prefix, before the program under test.
//     lodestar-caption-font.exe [FACE]

#include <windows.h>

#include <cwchar>
#include <initializer_list>

int wmain(int argc, wchar_t** argv) {
  const wchar_t* face = argc > 1 ? argv[1] : L"WenQuanYi Zen Hei";
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return 1;
  }
  for (LOGFONTW* font : {&metrics.lfCaptionFont, &metrics.lfSmCaptionFont, &metrics.lfMenuFont,
                         &metrics.lfStatusFont, &metrics.lfMessageFont}) {
    std::wcsncpy(font->lfFaceName, face, LF_FACESIZE - 1);
    font->lfFaceName[LF_FACESIZE - 1] = L'\0';
    font->lfCharSet = DEFAULT_CHARSET;
  }
  const UINT store = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;
  return SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics, store) ? 0 : 1;
}
