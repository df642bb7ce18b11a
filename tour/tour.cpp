// A short tour of Keepsake through the real shell path: the extension is
// activated from the registry as the file manager activates it, handed a
// real selection, and its menu, dialogs and history window are driven like
// a person would. Screenshots of what a person sees are written on the way.
//
//   tour.exe <sample folder> <screenshot folder>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "file_helpers.h"
#include "screenshot.h"
#include "shell_host.h"
#include "ui_driver.h"

namespace {

const char kDocument[] = "report.txt";

// The window the tour's menus and dialogs belong to, as the file manager's
// window would be.
HWND CreateOwnerWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "KeepsakeTour";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("KeepsakeTour", "Keepsake Tour", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1024, 768,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    UpdateWindow(window);
    return window;
}

void Pump(DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(20);
    }
}

// Grows `area` (a RECT*) by every open popup menu: the menu and its submenu.
BOOL CALLBACK AddMenuArea(HWND window, LPARAM area) {
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    RECT frame;
    if (strcmp(name, "#32768") == 0 && IsWindowVisible(window) && GetWindowRect(window, &frame))
        UnionRect(reinterpret_cast<RECT*>(area), reinterpret_cast<RECT*>(area), &frame);
    return TRUE;
}

// Shows the context menu the extension builds, opens its "&Keepsake"
// submenu, and photographs both.
bool PhotographMenu(HWND owner, const std::string& folder, const std::string& shot) {
    kstest::ShellHost host;
    if (FAILED(host.Create()) || FAILED(host.Select(folder, {kDocument}))) return false;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "&Open");
    AppendMenuA(menu, MF_STRING, 2, "Open &with...");
    if (FAILED(host.menu()->QueryContextMenu(menu, 0, 100, 0x7FFF, CMF_NORMAL))) {
        DestroyMenu(menu);
        return false;
    }

    bool photographed = false;
    kstest::UiDriver ui;
    ui.OnWindow("#32768", nullptr, [&](kstest::Window& popup) {
        // The menu loop reads the owner thread's keys: select "&Keepsake",
        // open it, and photograph the two popups together.
        PostMessageA(owner, WM_KEYDOWN, VK_DOWN, 0);
        Sleep(200);
        PostMessageA(owner, WM_KEYDOWN, VK_RIGHT, 0);
        Sleep(600);
        RECT area;
        GetWindowRect(popup.handle(), &area);
        EnumWindows(AddMenuArea, reinterpret_cast<LPARAM>(&area));
        InflateRect(&area, 4, 4);
        photographed = SaveScreenArea(area, shot);
        PostMessageA(owner, WM_CANCELMODE, 0, 0);
    });
    SetForegroundWindow(owner);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RETURNCMD, 120, 120, 0, owner, nullptr);
    ui.Finish();
    DestroyMenu(menu);
    return photographed;
}

// Runs one command of the "&Keepsake" menu on the document, with `steps`
// queued for the windows it opens.
bool RunCommand(HWND owner, const std::string& folder, UINT offset, const std::function<void(kstest::UiDriver&)>& steps) {
    kstest::ShellHost host;
    if (FAILED(host.Create()) || FAILED(host.Select(folder, {kDocument}))) return false;
    host.QueryMenu();
    kstest::UiDriver ui;
    steps(ui);
    HRESULT result = host.Invoke(offset, owner, folder.c_str());
    bool ok = ui.Finish();
    for (const std::string& failure : ui.Failures()) fprintf(stderr, "tour: %s\n", failure.c_str());
    return SUCCEEDED(result) && ok;
}

HWND FindPageControl(HWND sheet, int id) {
    // The page is a child dialog of the sheet.
    for (HWND child = GetWindow(sheet, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        HWND control = GetDlgItem(child, id);
        if (control) return control;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: tour <sample folder> <screenshot folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string shots = argv[2];
    const std::string document = folder + "\\" + kDocument;
    SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
    SHCreateDirectoryExA(nullptr, shots.c_str(), nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    HWND owner = CreateOwnerWindow();
    Pump(300);
    int failures = 0;
    auto step = [&](const char* what, bool ok) {
        printf("%-58s %s\n", what, ok ? "done" : "FAILED");
        fflush(stdout);
        if (!ok) ++failures;
    };

    step("Sample document written", kstest::WriteFileText(document, "Quarterly report\r\nDraft 1\r\n"));
    step("Context menu with the Keepsake submenu photographed",
         PhotographMenu(owner, folder, shots + "\\1-keepsake-menu.bmp"));

    step("Version 1 saved through the New Version dialog", RunCommand(owner, folder, 0, [&](kstest::UiDriver& ui) {
             ui.OnDialog("New Version - report.txt", [&](kstest::Window& dialog) {
                 Sleep(300);
                 SaveWindow(dialog.handle(), shots + "\\2-new-version-dialog.bmp");
                 dialog.SetChecked(1033, true);  // keep the first draft for good
                 dialog.Press(IDOK);
             });
         }));

    const char* comments[] = {"Figures for March added", "Summary rewritten for the board"};
    for (int i = 0; i < 2; ++i) {
        kstest::WriteFileText(document, "Quarterly report\r\nDraft " + std::to_string(i + 2) + "\r\n");
        std::string what = "Version " + std::to_string(i + 2) + " saved with the comment \"" + comments[i] + "\"";
        step(what.c_str(), RunCommand(owner, folder, 0, [&](kstest::UiDriver& ui) {
                 ui.OnDialog("Version Properties - report.txt", [&](kstest::Window& dialog) {
                     dialog.SetText(1004, comments[i]);
                     dialog.Press(IDOK);
                 });
             }));
    }

    std::string proposal;
    step("History window opened, version 2 retrieved beside the document",
         RunCommand(owner, folder, 1, [&](kstest::UiDriver& ui) {
             ui.OnDialog("Version History - report.txt", [&](kstest::Window& sheet) {
                 Sleep(1000);  // the page fills its list when it becomes active
                 SaveWindow(sheet.handle(), shots + "\\3-history-page.bmp");
                 HWND list = FindPageControl(sheet.handle(), 1026);
                 kstest::SelectListViewRows(list, 1, {"2"});
                 Sleep(200);
                 PostMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(1061, BN_CLICKED), 0);  // Save As
                 // Stays open: the next step answers the Retrieve As dialog.
             });
             ui.OnDialog("Save As", [&](kstest::Window& dialog) {
                 proposal = dialog.Text(1004);
                 dialog.Press(IDOK);
             });
             ui.OnDialog("Version History - report.txt", [&](kstest::Window& sheet) { sheet.Press(IDOK); });
         }));

    std::string retrieved = folder + "\\report(v2).txt";
    step("Retrieved copy holds exactly version 2", kstest::ReadFileText(retrieved) == "Quarterly report\r\nDraft 2\r\n");
    printf("\nRetrieve As proposed: %s\n", proposal.c_str());
    DestroyWindow(owner);
    printf("%s\n", failures ? "The tour did not complete." : "The tour completed.");
    return failures ? 1 : 0;
}
