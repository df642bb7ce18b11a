// How long the shell waits for Keepsake: the context menu of large
// selections and the history of an archive with many versions, each driven
// through the real COM object of keepshel.dll as the file manager drives it
// (Initialize, QueryContextMenu, AddPages, InvokeCommand), under Wine.
// Prints the median of several runs in this one process, its ratio to the
// small case (one file, ten versions) and to the goal. Run it with
// bench/shell/run.sh, which pins it to one processor.
//   shell_bench [--quick] [--menu | --history]
//     --quick: 1,000 files and versions at most; --menu, --history: only those
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_context.h"
#include "many_versions.h"
#include "resource.h"
#include "shell_host.h"
#include "test_helpers.h"

namespace {

using kstest::ShellHost;
using kstest::TempFolder;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(1);
    } while (GetTickCount() - start < ms);
}

struct Row {
    std::string name;
    double ms;
    double small;  // the small case's figure of the same kind
    double goal;   // 0: none
};
std::vector<Row> g_rows;

void Report(const std::string& name, double ms, double small, double goal) {
    g_rows.push_back({name, ms, small, goal});
    std::printf("  %-52s %9.2f ms\n", name.c_str(), ms);
    std::fflush(stdout);
}

// ---- the context menu -------------------------------------------------

struct Selection {
    TempFolder folder;
    std::vector<std::string> names;
    std::vector<std::string> archiveNames;  // where a context puts each file's archive, by name
    IDataObject* data = nullptr;            // the shell's data object for all names, made once
    std::vector<bool> placed;               // which archives are there now (beside or central)
    ~Selection() {
        if (data) data->Release();
    }
};

void MakeSelection(Selection* selection, int count) {
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Quarterly figures %05d.sheet", i);
        std::string path = selection->folder / name;
        kstest::WriteFileText(path, "content");
        ArchiveContext context;
        context.Locate(path.c_str());
        selection->names.push_back(name);
        selection->archiveNames.push_back(context.archiveName);
    }
}

// Puts an archive for every `every`-th file (0: none) into `place`, and
// removes the others' from it.
void PlaceArchives(Selection* selection, const std::string& place, int every) {
    selection->placed.resize(selection->names.size(), false);
    for (size_t i = 0; i < selection->names.size(); ++i) {
        bool wanted = every > 0 && i % every == 0;
        if (wanted == selection->placed[i]) continue;
        std::string path = place + "\\" + selection->archiveNames[i];
        if (wanted)
            kstest::WriteFileText(path, "archive");
        else
            DeleteFileA(path.c_str());
        selection->placed[i] = wanted;
    }
}

// Initialize and QueryContextMenu of a fresh object, `runs` times.
void TimeMenu(Selection* selection, int runs, double* initializeMs, double* menuMs) {
    if (!selection->data) selection->data = kstest::MakeShellDataObject(selection->folder.path(), selection->names);
    IDataObject* data = selection->data;
    std::vector<double> inits, menus;
    for (int run = 0; run < runs; ++run) {
        IShellExtInit* init = nullptr;
        IContextMenu* menu = nullptr;
        CoCreateInstance(kstest::kKeepsakeClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                         reinterpret_cast<void**>(&init));
        init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
        HMENU popup = CreatePopupMenu();
        double start = Now();
        HRESULT initialized = init->Initialize(nullptr, data, nullptr);
        double middle = Now();
        HRESULT queried = menu->QueryContextMenu(popup, 0, ShellHost::kFirstId, ShellHost::kLastId, CMF_NORMAL);
        double end = Now();
        if (FAILED(initialized) || FAILED(queried)) std::printf("  (the object refused: %lx %lx)\n", initialized, queried);
        inits.push_back(middle - start);
        menus.push_back(end - start);
        DestroyMenu(popup);
        menu->Release();
        init->Release();
    }
    *initializeMs = Median(inits);
    *menuMs = Median(menus);
}

void BenchMenus(bool quick) {
    kstest::SettingsScope settings;
    settings.SetNumber("EnableVersionControl", 1);
    std::printf("making the selections...\n");
    std::vector<int> sizes = quick ? std::vector<int>{1, 1000} : std::vector<int>{1, 1000, 10000};
    std::vector<std::unique_ptr<Selection>> selections;
    for (int size : sizes) {
        selections.emplace_back(new Selection);
        MakeSelection(selections.back().get(), size);
    }
    TempFolder central;
    std::printf("context menu (Initialize + QueryContextMenu):\n");
    double smallMenu = 0, smallInit = 0;
    struct Case {
        const char* what;
        int every;
    };
    for (bool inCentral : {false, true}) {
        if (inCentral) {
            for (auto& selection : selections) PlaceArchives(selection.get(), selection->folder.path(), 0);
            settings.SetString("VersionsPath", central.path());
        }
        for (Case c : {Case{"none archived", 0}, Case{"every tenth archived", 10}, Case{"all archived", 1}}) {
            for (size_t s = 0; s < sizes.size(); ++s) {
                Selection* selection = selections[s].get();
                int size = sizes[s];
                if (size == 1 && c.every == 10) continue;
                std::string place = inCentral ? central.path() : selection->folder.path();
                PlaceArchives(selection, place, c.every);
                double init = 0, menu = 0;
                TimeMenu(selection, size >= 10000 ? 5 : (size >= 1000 ? 11 : 51), &init, &menu);
                if (size == 1 && !inCentral && c.every == 0) {
                    smallMenu = menu;
                    smallInit = init;
                }
                char name[128];
                std::snprintf(name, sizeof name, "menu, %d file%s, %s, %s", size, size == 1 ? "" : "s", c.what,
                              inCentral ? "central folder" : "beside the files");
                Report(name, menu, smallMenu, size >= 10000 ? 1000 : (size >= 1000 ? 100 : 0));
                if (c.every == 0 && !inCentral) {
                    std::snprintf(name, sizeof name, "  of it Initialize, %d file%s", size, size == 1 ? "" : "s");
                    Report(name, init, smallInit, 0);
                }
            }
        }
    }
}

// ---- the history ------------------------------------------------------

struct HistoryFile {
    TempFolder folder;
    std::string path;
    ArchiveContext context{};
};

bool MakeHistory(HistoryFile* file, int versions) {
    file->path = file->folder / "ledger.txt";
    kstest::WriteFileText(file->path, "start");
    if (!file->context.Resolve(file->path.c_str(), false, nullptr)) return false;
    return kstest::MakeManyVersions(file->context.archivePath, versions);
}

// A further version, saved the way another program would.
void SaveElsewhere(const HistoryFile& file) {
    ArchiveContext other{};
    other.Resolve(file.path.c_str(), false, nullptr);
    kstest::WriteFileText(file.path, "another version " + std::to_string(GetTickCount()));
    other.SaveNextVersion("saved elsewhere", 0);
}

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages) {
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
    return TRUE;
}

// The Properties sheet the shell would show: the object's page in a
// modeless sheet. Answers the sheet; `shownMs` from AddPages until the
// sheet is drawn with its list filled.
HWND ShowPropertiesPage(const HistoryFile& file, IShellPropSheetExt** extension, double* shownMs) {
    ShellHost host;
    host.Create();
    std::string folder = file.folder.path(), name = "ledger.txt";
    host.Select(folder, {name});
    host.init()->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(extension));
    std::vector<HPROPSHEETPAGE> pages;
    double start = Now();
    (*extension)->AddPages(CollectPage, reinterpret_cast<LPARAM>(&pages));
    if (pages.empty()) return nullptr;
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS;
    header.pszCaption = "ledger.txt Properties";
    header.nPages = 1;
    header.phpage = pages.data();
    HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    UpdateWindow(sheet);
    *shownMs = Now() - start;
    return sheet;
}

// The history window of the "&History..." command, through InvokeCommand:
// modal, so it is measured and closed from a message posted before it
// opens, which its own loop delivers once it is up.
struct WindowProbe {
    double start = 0;
    double shownMs = 0;
    int rows = 0;
};
WindowProbe* g_probe = nullptr;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP && g_probe) {
        HWND sheet = FindWindowA("#32770", "Version History - ledger.txt");
        if (sheet) {
            UpdateWindow(sheet);
            g_probe->shownMs = Now() - g_probe->start;
            HWND page = PropSheet_GetCurrentPageHwnd(sheet);
            g_probe->rows = ListView_GetItemCount(GetDlgItem(page, IDC_HISTORY_LIST));
            PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

double TimeHistoryWindow(const HistoryFile& file, HWND probeWindow, int* rows) {
    ShellHost host;
    host.Create();
    host.Select(file.folder.path(), {"ledger.txt"});
    WindowProbe probe;
    g_probe = &probe;
    PostMessageA(probeWindow, WM_APP, 0, 0);
    probe.start = Now();
    host.Invoke(1);
    g_probe = nullptr;
    *rows = probe.rows;
    return probe.shownMs;
}

void BenchHistory(bool quick) {
    kstest::SettingsScope settings;
    settings.SetNumber("EnableVersionControl", 1);
    WNDCLASSA probeClass{};
    probeClass.lpfnWndProc = ProbeProc;
    probeClass.hInstance = GetModuleHandleA(nullptr);
    probeClass.lpszClassName = "KeepsakeBenchProbe";
    RegisterClassA(&probeClass);
    HWND probeWindow = CreateWindowA("KeepsakeBenchProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);

    double smallPage = 0, smallWindow = 0, smallReload = 0;
    double worst = 0;
    for (int versions : quick ? std::vector<int>{10, 1000} : std::vector<int>{10, 10000}) {
        std::printf("making an archive of %d versions...\n", versions);
        HistoryFile file;
        if (!MakeHistory(&file, versions)) {
            std::printf("  the engine refused the archive\n");
            return;
        }
        int runs = versions >= 10000 ? 5 : 11;

        std::vector<double> pageTimes, windowTimes, reloadTimes;
        int rows = 0;
        for (int run = 0; run < runs; ++run) {
            IShellPropSheetExt* extension = nullptr;
            double shown = 0;
            HWND sheet = ShowPropertiesPage(file, &extension, &shown);
            if (!sheet) {
                std::printf("  no page was added\n");
                return;
            }
            pageTimes.push_back(shown);
            HWND page = PropSheet_GetCurrentPageHwnd(sheet);
            HWND list = GetDlgItem(page, IDC_HISTORY_LIST);
            PumpFor(20);

            // Scrolled half-way down, a row there selected; then a version
            // saved elsewhere, and the page's next tick reloads it.
            RECT bounds{};
            ListView_GetItemRect(list, 0, &bounds, LVIR_BOUNDS);
            int half = ListView_GetItemCount(list) / 2;
            ListView_Scroll(list, 0, half * (bounds.bottom - bounds.top));
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
            ListView_SetItemState(list, half, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            ListView_SetSelectionMark(list, half);
            int before = ListView_GetItemCount(list);
            SaveElsewhere(file);
            double start = Now();
            SendMessageA(page, WM_TIMER, 0, 0);
            UpdateWindow(sheet);
            reloadTimes.push_back(Now() - start);
            if (ListView_GetItemCount(list) != before + 1) std::printf("  the reload did not show the new version\n");
            rows = ListView_GetItemCount(list);

            DestroyWindow(sheet);
            PumpFor(5);
            extension->Release();
        }
        int windowRows = 0;
        for (int run = 0; run < runs; ++run) windowTimes.push_back(TimeHistoryWindow(file, probeWindow, &windowRows));

        double page = Median(pageTimes), window = Median(windowTimes), reload = Median(reloadTimes);
        if (versions == 10) {
            smallPage = page;
            smallWindow = window;
            smallReload = reload;
        }
        worst = std::max(worst, *std::max_element(reloadTimes.begin(), reloadTimes.end()));
        std::printf("history of %d versions (%d rows in the page, %d in the window):\n", versions, rows, windowRows);
        Report("history page shown, " + std::to_string(versions) + " versions", page, smallPage,
               versions >= 10000 ? 200 : 0);
        Report("history window shown, " + std::to_string(versions) + " versions", window, smallWindow,
               versions >= 10000 ? 200 : 0);
        Report("reload after a version saved elsewhere, " + std::to_string(versions) + " versions", reload, smallReload,
               versions >= 10000 ? 200 : 0);
    }
    Report("longest reload (one message, the page not answering)", worst, smallReload, 100);
    DestroyWindow(probeWindow);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false, menus = true, history = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        if (std::strcmp(argv[i], "--menu") == 0) history = false;
        if (std::strcmp(argv[i], "--history") == 0) menus = false;
    }
    kstest::UseOwnResources();
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    kstest::ShellRegistration registration;
    if (!registration.ok()) {
        std::printf("cannot register the extension: %s\n", registration.error().c_str());
        return 1;
    }
    if (menus) BenchMenus(quick);
    if (history) BenchHistory(quick);
    CoUninitialize();

    std::printf("\n%-56s %10s %9s %8s %8s\n", "figure (median)", "ms", "x small", "goal ms", "x goal");
    for (const Row& row : g_rows) {
        char goal[16] = "-", ofGoal[16] = "-";
        if (row.goal > 0) {
            std::snprintf(goal, sizeof goal, "%.0f", row.goal);
            std::snprintf(ofGoal, sizeof ofGoal, "%.2f", row.ms / row.goal);
        }
        std::printf("%-56s %10.2f %9.1f %8s %8s\n", row.name.c_str(), row.ms, row.small > 0 ? row.ms / row.small : 0.0,
                    goal, ofGoal);
    }
    return 0;
}
