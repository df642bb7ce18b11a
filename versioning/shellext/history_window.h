// The history of one file as a window of its own: a modal property sheet
// around the history page, one per file name.
#ifndef KEEPSHEL_HISTORY_WINDOW_H
#define KEEPSHEL_HISTORY_WINDOW_H

#include <windows.h>
#include <prsht.h>

#include <cstddef>

struct HistoryPage;

// The size the sheet header states: the record up to its header bitmap,
// 52 bytes on 32-bit Windows. (The headers' PROPSHEETHEADERA_V2_SIZE names
// a member that does not exist.)
constexpr DWORD kHistorySheetHeaderSize = offsetof(PROPSHEETHEADERA, hbmHeader) + sizeof(HBITMAP);

// The sheet's result when it closes, or 2 when a history window for the
// same file name is open already (that one gets the focus instead).
int ShowHistoryWindow(HWND owner, HistoryPage* page);

#endif
