#include "ui/wx/icons.h"

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <cstddef>

namespace {

#include "res/lodestar_icons.inc"

struct PngData {
  const unsigned char* bytes;
  size_t size;
};

wxIcon IconFromPng(const PngData& png) {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) {
    wxImage::AddHandler(new wxPNGHandler);
  }
  wxMemoryInputStream stream(png.bytes, png.size);
  wxImage image(stream, wxBITMAP_TYPE_PNG);
  wxIcon icon;
  if (image.IsOk()) {
    icon.CopyFromBitmap(wxBitmap(image));
  }
  return icon;
}

const PngData kWindowIconSizes[] = {
    {kWindowIcon16, sizeof kWindowIcon16},
    {kWindowIcon32, sizeof kWindowIcon32},
    {kWindowIcon48, sizeof kWindowIcon48},
};

const PngData kTrayFrames[kTrayFrameCount] = {
    {kTrayFrame0, sizeof kTrayFrame0},
    {kTrayFrame1, sizeof kTrayFrame1},
    {kTrayFrame2, sizeof kTrayFrame2},
};

}  // namespace

wxIconBundle WindowIcons() {
  wxIconBundle bundle;
  for (const PngData& png : kWindowIconSizes) {
    bundle.AddIcon(IconFromPng(png));
  }
  return bundle;
}

wxIcon TrayIcon(int iconId) {
  const int frame = iconId - kTrayFrameFirstId;
  if (frame < 0 || frame >= kTrayFrameCount) {
    return IconFromPng(kWindowIconSizes[1]);
  }
  return IconFromPng(kTrayFrames[frame]);
}
