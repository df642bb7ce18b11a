// Pictures of what the screen shows, as 24-bit BMP files.
#ifndef KEEPSAKE_TOUR_SCREENSHOT_H
#define KEEPSAKE_TOUR_SCREENSHOT_H

#include <windows.h>

#include <string>

bool SaveScreenArea(RECT area, const std::string& path);
bool SaveWindow(HWND window, const std::string& path);

#endif
