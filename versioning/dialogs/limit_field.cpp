// The field of the limit of temporary versions and its spin control, as
// the New Version dialog and the history page both show them.
#include "dialogs.h"

#include <commctrl.h>

#include "archive/messages.h"
#include "../resources/resource.h"

void SetUpTemporaryLimitSpin(HWND dialog, int spinId) {
    // Held arrows speed up: steps of 1, then 5, 100 and 1000 as they stay down.
    UDACCEL steps[] = {{1, 1}, {3, 5}, {5, 100}, {7, 1000}};
    HWND spin = GetDlgItem(dialog, spinId);
    SendMessageA(spin, UDM_SETRANGE32, kFewestTemporaryVersions, kMostTemporaryVersions);
    SendMessageA(spin, UDM_SETACCEL, sizeof steps / sizeof steps[0], reinterpret_cast<LPARAM>(steps));
}

bool ReadTemporaryLimit(HWND dialog, int fieldId, int* limit) {
    BOOL isNumber = FALSE;
    UINT value = GetDlgItemInt(dialog, fieldId, &isNumber, FALSE);
    // Compared as signed, as the stored limit is: a huge number wraps below 1.
    int32_t signedValue = static_cast<int32_t>(value);
    if (isNumber && signedValue >= kFewestTemporaryVersions && signedValue <= kMostTemporaryVersions) {
        *limit = signedValue;
        return true;
    }
    ShowMessage(dialog, IDS_MAX_TEMP_RANGE, MB_OK | MB_ICONSTOP);
    bool tooLarge = !isNumber || signedValue > kMostTemporaryVersions;
    SetDlgItemInt(dialog, fieldId, tooLarge ? kMostTemporaryVersions : kFewestTemporaryVersions, FALSE);
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, fieldId)), TRUE);
    return false;
}
