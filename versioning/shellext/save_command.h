// The "&Save..." command: saves a new version of every selected file, and
// of each plain file directly inside a selected folder.
#ifndef KEEPSHEL_SAVE_COMMAND_H
#define KEEPSHEL_SAVE_COMMAND_H

#include <windows.h>

#include "selected_file_list.h"

// Runs the whole flow with `owner` over every dialog and message. Leaves
// folder entries of `files` replaced by their files. Problems are told to
// the user; nothing is returned.
void SaveVersions(SelectedFileList& files, HWND owner);

// The same flow for one file given by path, as other programs start it:
// no folder expansion, no exclusion test, no wait cursor, and `owner` over
// Resolve's messages too. Answers 0 for a first version saved and 1 for a
// further one; IDOK after the messages of a file without an archive place,
// an empty or an unchanged file; the dialog's answer when it is not OK;
// and for any other save that did not happen, after telling the user why,
// its status (refusals.h): never 0 or 1.
int SaveOneFileVersion(HWND owner, const char* path);

#endif
