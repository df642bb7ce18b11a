// CRunningAppsDlg: lists the detected applications and, on OK, ends them.
#pragma once

#include <string>
#include <vector>

#include "framework/modal_dialog.h"

namespace kickoff {

// One detected application: the name shown and the process file name used
// to find it.
struct AppEntry {
    std::string displayName;
    std::string processFileName;
};

class CRunningAppsDlg : public CModalDialog {
public:
    CRunningAppsDlg();

    void Add(const AppEntry& app) { apps_.push_back(app); }
    const std::vector<AppEntry>& Apps() const { return apps_; }
    bool Empty() const { return apps_.empty(); }

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    // Kept in detection order; the list box sorts only what it shows.
    std::vector<AppEntry> apps_;
};

}  // namespace kickoff
