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

#endif
