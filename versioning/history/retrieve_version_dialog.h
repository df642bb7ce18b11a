// The Retrieve Version dialog: a read-only list of one file's versions
// from which the user writes one out, to a path the calling program gave
// or to one the user picks.
#ifndef KEEPSHEL_RETRIEVE_VERSION_DIALOG_H
#define KEEPSHEL_RETRIEVE_VERSION_DIALOG_H

#include <windows.h>

struct ArchiveContext;

// Modal over `owner`. 1 after "&Retrieve" (also when the user then
// cancelled picking a path, or the engine failed to write), 2 after Cancel.
// `targetPath` null lets the user pick the path.
int ShowRetrieveVersionDialog(HWND owner, ArchiveContext* context, const char* targetPath);

#endif
