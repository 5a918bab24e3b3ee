#pragma once

#include <wx/icon.h>
#include <wx/iconbndl.h>

// Resource ids of the icons drawn for the program.
constexpr int kWindowIconId = 128;
constexpr int kTrayFrameFirstId = 130;  // 130, 131, 132: the tray animation
constexpr int kTrayFrameCount = 3;

// The window icon (128) in every size it was drawn in. Window's thread.
wxIconBundle WindowIcons();

// The tray icon of the given id (130..132); any other id gives the window icon. Window's thread.
wxIcon TrayIcon(int iconId);
