// Printing a file's version history: where the job goes and how its page
// is laid out. The job itself is VersionListView::PrintHistory.
#ifndef KEEPSHEL_HISTORY_PRINTING_H
#define KEEPSHEL_HISTORY_PRINTING_H

#include <windows.h>

#include <cstddef>

#include "archive/archive_context.h"

// The device a history print is drawn on. By default the printer the user
// picks in the system's print dialog; a test installs its own target (an
// enhanced-metafile device context whose records it reads afterwards).
struct PrintTarget {
    // False when the user cancelled. True with *dc null when no device
    // context came back (the job cannot be printed).
    bool (*open)(HWND owner, HDC* dc);
    // Ends the device context once the job is over.
    void (*close)(HDC dc);
};
void SetPrintTarget(const PrintTarget* target);  // null: the printer again

// Everything the printed page's positions derive from, in device units.
struct PrintLayout {
    int left;
    int top;
    int lineHeight;
    int charWidth;
    int linesPerPage;  // the last line index of a page
    int userWidth;     // characters kept for the "Updated By" column
    int tabStops[4];
};
PrintLayout ComputePrintLayout(HDC dc, const VersionEntry* entries, int count);

// "<working path> Keepsake Archive History".
void FormatPrintDocumentName(const char* workingPath, char* name, size_t size);

// The version count shown in the title: read again while the archive
// reports a failure, a few times at most; then the number of versions
// being printed.
int TitleVersionCount(const ArchiveContext& context, int printedCount);

// True while a history print runs in this process; a second one is refused.
bool HistoryPrintRunning();

#endif
