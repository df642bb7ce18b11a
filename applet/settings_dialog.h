// The applet's one dialog: every value of the settings key, stored on OK
// or Apply.
#ifndef KEEPCPL_SETTINGS_DIALOG_H
#define KEEPCPL_SETTINGS_DIALOG_H

#include <windows.h>

// Shows the dialog modally; IDOK when it closed through OK, IDCANCEL
// otherwise (also when it could not be shown).
int ShowSettingsDialog(HWND owner);

#endif
