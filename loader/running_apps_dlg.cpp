#include "running_apps_dlg.h"

#include "framework/resource_text.h"
#include "process_control.h"
#include "resources/resource_ids.h"

namespace kickoff {

CRunningAppsDlg::CRunningAppsDlg() : CModalDialog(IDD_RUNNING_APPS) {}

bool CRunningAppsDlg::OnInitDialog() {
    ::SetDlgItemTextA(Handle(), IDC_RUNNING_APPS_TEXT, LoadResString(IDS_RUNNING_APPS_NOTICE).c_str());
    HWND list = ::GetDlgItem(Handle(), IDC_RUNNING_APPS_LIST);
    for (const AppEntry& app : apps_) {
        ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(app.displayName.c_str()));
    }
    return true;
}

void CRunningAppsDlg::OnOK() {
    // Detection order, whatever the list box shows or has selected.
    for (const AppEntry& app : apps_) TerminateByName(app.processFileName);
    EndDialog(IDOK);
}

}  // namespace kickoff
