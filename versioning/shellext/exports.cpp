// The plain exports through which other programs reach keepshel.
#include <windows.h>

#include "../archive/settings.h"

extern "C" int WINAPI KSControlPanel() {
    try {
        return StartSettingsApplet();
    } catch (...) {
        return 0;
    }
}
