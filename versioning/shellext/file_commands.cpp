// The "&File" commands: move, copy and delete files with their versions.
#include "shell_ext.h"

HRESULT CShellExt::RunFileCommand(HWND, int, const char*) {
    // Not built yet; like every command, it answers S_OK.
    return S_OK;
}
