// The Control Panel's entry into keepcpl.cpl. The control-panel runner
// loads the file, asks through CPlApplet how many applets it holds and how
// each looks, opens one on CPL_DBLCLK and says goodbye with CPL_STOP and
// CPL_EXIT. This file holds one applet: the settings dialog.
#include <windows.h>
#include <cpl.h>

#include "applet_resource.h"
#include "archive/module.h"
#include "settings_dialog.h"

namespace {

LONG FillInquiry(CPLINFO* info) {
    info->idIcon = IDI_APPLET;
    info->idName = IDS_APPLET_NAME;
    info->idInfo = IDS_APPLET_INFO;
    info->lData = 0;
    return 0;
}

LONG FillNewInquiry(NEWCPLINFOA* info) {
    info->dwSize = sizeof *info;
    info->dwFlags = 0;
    info->dwHelpContext = 0;
    info->lData = 0;
    info->hIcon = LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(IDI_APPLET));
    LoadText(IDS_APPLET_NAME, info->szName, sizeof info->szName);
    LoadText(IDS_APPLET_INFO, info->szInfo, sizeof info->szInfo);
    info->szHelpFile[0] = '\0';
    return 0;
}

LONG HandleMessage(HWND controlPanel, UINT message, LPARAM detail) {
    switch (message) {
    case CPL_INIT:
        return TRUE;  // nothing to prepare; the dialog loads the settings itself
    case CPL_GETCOUNT:
        return 1;
    case CPL_INQUIRE:
        return detail ? FillInquiry(reinterpret_cast<CPLINFO*>(detail)) : 1;
    case CPL_NEWINQUIRE:
        return detail ? FillNewInquiry(reinterpret_cast<NEWCPLINFOA*>(detail)) : 1;
    case CPL_DBLCLK:
        ShowSettingsDialog(controlPanel);
        return 0;
    case CPL_STOP:
    case CPL_EXIT:
        return 0;
    default:
        // Also CPL_STARTWPARMS: not handled, so the runner goes on to CPL_DBLCLK.
        return 0;
    }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        // Texts and dialogs come from this file, not from the program that loaded it.
        SetModuleInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" LONG APIENTRY CPlApplet(HWND controlPanel, UINT message, LPARAM, LPARAM detail) noexcept {
    try {
        return HandleMessage(controlPanel, message, detail);
    } catch (...) {
        return 1;  // failure for every message that has one
    }
}
