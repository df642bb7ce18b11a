// keepshel's message boxes: texts from the string table, formatted
// printf-style, under the product caption.
#ifndef KEEPSHEL_MESSAGES_H
#define KEEPSHEL_MESSAGES_H

#include <windows.h>

// Caption string 1200; text string `textId` formatted with the values.
// Answers the button pressed.
int ShowMessage(HWND owner, UINT textId, UINT style, ...);

// The same with the caption taken from string `captionId`.
int ShowMessageCaption(HWND owner, UINT captionId, UINT textId, UINT style, ...);

// A text composed by the caller (already formatted), under the caption.
int ShowMessageText(HWND owner, const char* text, UINT style);

#endif
