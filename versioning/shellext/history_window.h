// The history of one file as a window of its own: a modal property sheet
// around the history page, one per file name.
#ifndef KEEPSHEL_HISTORY_WINDOW_H
#define KEEPSHEL_HISTORY_WINDOW_H

#include <windows.h>

struct HistoryPage;

// The sheet's result when it closes, or 2 when a history window for the
// same file name is open already (that one gets the focus instead).
int ShowHistoryWindow(HWND owner, HistoryPage* page);

#endif
