// The printed version history: a title, a tabbed heading and one line per
// version, newest last in the archive's list printed first, over as many
// pages as needed.
#include "history_printing.h"

#include <commdlg.h>

#include <cstring>
#include <memory>

#include "dialogs/dialogs.h"
#include "archive/messages.h"
#include "archive/module.h"
#include "resources/resource.h"
#include "version_list_view.h"

namespace {

constexpr int kMargin = 10;              // left and top edge, device units
constexpr int kHeadingTabOrigin = 10;
constexpr int kMinimumUserWidth = 15;    // characters
constexpr int kCountAttempts = 5;        // reads of the title's version count
constexpr DWORD kCountRetryPauseMs = 20;

bool OpenPrinter(HWND owner, HDC* dc) {
    PRINTDLGA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.Flags = PD_RETURNDC | PD_NOSELECTION;
    BOOL chosen = PrintDlgA(&dialog);
    if (dialog.hDevMode) GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames) GlobalFree(dialog.hDevNames);
    if (!chosen) return false;
    *dc = dialog.hDC;
    return true;
}

void ClosePrinter(HDC dc) { DeleteDC(dc); }

const PrintTarget kPrinter = {&OpenPrinter, &ClosePrinter};
const PrintTarget* g_target = &kPrinter;

// One job per process: the abort procedure has no other way to find it.
bool g_jobRunning = false;
bool g_abortJob = false;

BOOL CALLBACK PrintAbortProc(HDC, int) {
    MSG message;
    while (!g_abortJob && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return !g_abortJob;
}

// Marks the job as running for its lifetime, on every path out.
class JobScope {
public:
    JobScope() { g_jobRunning = true; }
    ~JobScope() { g_jobRunning = false; }
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;
};

void DrawLine(HDC dc, const PrintLayout& layout, int line, const char* text, int tabOrigin) {
    TabbedTextOutA(dc, layout.left, layout.top + line * layout.lineHeight, text, static_cast<int>(strlen(text)), 4,
                   const_cast<int*>(layout.tabStops), tabOrigin);
}

}  // namespace

void SetPrintTarget(const PrintTarget* target) { g_target = target ? target : &kPrinter; }

bool HistoryPrintRunning() { return g_jobRunning; }

PrintLayout ComputePrintLayout(HDC dc, const VersionEntry* entries, int count) {
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    PrintLayout layout{};
    layout.left = kMargin;
    layout.top = kMargin;
    // A device that reports no font height would divide by zero.
    layout.lineHeight = metrics.tmHeight > 0 ? metrics.tmHeight : 1;
    layout.charWidth = metrics.tmAveCharWidth;
    layout.linesPerPage = (GetDeviceCaps(dc, VERTRES) - kMargin) / layout.lineHeight - 2;

    int userWidth = kMinimumUserWidth;
    for (int i = 0; i < count; ++i) {
        int length = static_cast<int>(strnlen(entries[i].updatedBy, sizeof entries[i].updatedBy));
        if (length > userWidth) userWidth = length;
    }
    layout.userWidth = userWidth;
    int dateLength = count > 0 ? static_cast<int>(strnlen(entries[0].dateTime, sizeof entries[0].dateTime)) : 0;
    int w = layout.charWidth;
    layout.tabStops[0] = 12 * w;
    layout.tabStops[1] = 19 * w;
    layout.tabStops[2] = layout.tabStops[1] + (dateLength + 5) * w;
    layout.tabStops[3] = layout.tabStops[2] + (userWidth + 2) * w;
    return layout;
}

void FormatPrintDocumentName(const char* workingPath, char* name, size_t size) {
    char format[128];
    LoadText(IDS_PRINT_DOCUMENT, format, sizeof format);
    FormatText(name, size, format, workingPath);
}

int TitleVersionCount(const ArchiveContext& context, int printedCount) {
    // The archive may be busy for a moment; it must not hold the print
    // forever, and "-1" would mean nothing to the reader.
    for (int attempt = 0; attempt < kCountAttempts; ++attempt) {
        if (attempt > 0) Sleep(kCountRetryPauseMs);
        int count = context.VersionCount();
        if (count >= 0) return count;
    }
    return printedCount;
}

void VersionListView::PrintHistory() const {
    // The progress window dispatches messages, so the Print button can be
    // pressed again while a job runs: one job at a time.
    if (g_jobRunning) {
        MessageBeep(MB_ICONASTERISK);
        return;
    }
    JobScope job;

    VersionEntry* entries = nullptr;
    int count = context_->ListVersions(&entries);
    std::unique_ptr<VersionEntry[]> owned(entries);
    if (count <= 0) return;

    HDC dc = nullptr;
    if (!g_target->open(list_, &dc)) return;  // cancelled
    if (!dc) {
        ShowMessage(owner_, IDS_CANT_PRINT, MB_OK | MB_ICONSTOP);
        return;
    }

    char text[512];
    ProgressDialog progress;
    LoadText(IDS_PRINTING, text, sizeof text);
    progress.Open(list_, count, text);
    LoadText(IDS_PRINTING_HISTORY, text, sizeof text);
    progress.SetText(text);

    g_abortJob = false;
    SetAbortProc(dc, &PrintAbortProc);

    char documentName[MAX_PATH + 64];
    FormatPrintDocumentName(context_->workingPath, documentName, sizeof documentName);
    DOCINFOA document{};
    document.cbSize = sizeof document;
    document.lpszDocName = documentName;

    SetTextColor(dc, RGB(0, 0, 255));
    SetMapMode(dc, MM_TEXT);
    StartDocA(dc, &document);
    StartPage(dc);
    PrintLayout layout = ComputePrintLayout(dc, entries, count);

    char yes[21], no[21], heading[256], format[256];
    LoadText(IDS_PRINT_YES, yes, sizeof yes);
    LoadText(IDS_PRINT_NO, no, sizeof no);
    LoadText(IDS_PRINT_HEADING, heading, sizeof heading);
    LoadText(IDS_PRINT_TITLE, format, sizeof format);

    int line = 0;
    FormatText(text, sizeof text, format, context_->workingName, TitleVersionCount(*context_, count));
    DrawLine(dc, layout, line, text, 0);
    line += 2;
    DrawLine(dc, layout, line, heading, kHeadingTabOrigin);
    line += 2;

    for (int i = count - 1; i >= 0; --i) {
        if (progress.IsCancelled()) {
            g_abortJob = true;
            AbortDoc(dc);
            break;
        }
        if (line > layout.linesPerPage) {
            EndPage(dc);
            StartPage(dc);
            line = 0;
            DrawLine(dc, layout, line, heading, kHeadingTabOrigin);
            line += 2;
        }
        const VersionEntry& entry = entries[i];
        FormatText(text, sizeof text, "     %s\t%d\t%s\t%s\t%s", entry.permanent ? yes : no, entry.number,
                   entry.dateTime, entry.updatedBy, entry.comment);
        DrawLine(dc, layout, line, text, 0);
        ++line;
        progress.Step();
    }

    EndPage(dc);
    EndDoc(dc);
    g_target->close(dc);
    progress.Close();
}
