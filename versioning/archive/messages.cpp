#include "messages.h"

#include <cstdarg>
#include <cstdio>

#include "module.h"
#include "../resources/resource.h"

namespace {

// Every buffer is the call's own: the shell calls extensions from several
// threads at once.
int ShowFormatted(HWND owner, UINT captionId, UINT textId, UINT style, va_list values) {
    char caption[256];
    char format[500];
    char text[2000];
    LoadText(captionId, caption, sizeof caption);
    LoadText(textId, format, sizeof format);
    int length = vsnprintf(text, sizeof text, format, values);
    if (length < 0) text[0] = '\0';
    return MessageBoxA(owner, text, caption, style);
}

}  // namespace

int ShowMessage(HWND owner, UINT textId, UINT style, ...) {
    va_list values;
    va_start(values, style);
    int button = ShowFormatted(owner, IDS_PRODUCT_NAME, textId, style, values);
    va_end(values);
    return button;
}

int ShowMessageCaption(HWND owner, UINT captionId, UINT textId, UINT style, ...) {
    va_list values;
    va_start(values, style);
    int button = ShowFormatted(owner, captionId, textId, style, values);
    va_end(values);
    return button;
}

int ShowMessageText(HWND owner, const char* text, UINT style) {
    char caption[256];
    LoadText(IDS_PRODUCT_NAME, caption, sizeof caption);
    return MessageBoxA(owner, text, caption, style);
}
