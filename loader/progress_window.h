// CSetupProgressWnd: the small modeless window that shows what the loader
// does: title with the percentage done, a two-line status text and a bar.
// It has no message loop; the loader lets it pump pending messages.
#pragma once

#include <windows.h>

#include <string>

#include "framework/win_handles.h"
#include "framework/window.h"

namespace kickoff {

constexpr int kStatusTextId = 11;
constexpr int kProgressBarId = 12;
constexpr int kStatusTextLimit = 512;  // status texts are cut to 511 characters

class CSetupProgressWnd : public CWindow {
public:
    // `profileFile` is where the window keeps its position (section
    // "Settings", keys "X" and "Y"); by default the program's own .INI file.
    explicit CSetupProgressWnd(std::string profileFile = std::string());
    ~CSetupProgressWnd() override;

    // Creates and shows the window; on failure says so in a message box and
    // leaves an object whose operations do nothing.
    bool Create(HWND owner, const char* title, bool smoothBar);

    void SetStatus(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void SetRange(int lower, int upper, int step);
    int SetStep(int step);
    int SetPos(int position);
    int StepIt();
    void Reset();
    // Processes what is waiting in the thread's queue; with Escape detection
    // an Escape key sets the cancelled flag, which stops pumping until Reset.
    void PumpMessages(bool detectEscape);
    // Stores the position and destroys the window.
    void Destroy();

    bool IsCancelled() const { return cancelled_; }
    int Position() const { return position_; }
    int Percent() const { return percent_; }
    const std::string& Title() const { return title_; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Layout(int lines, int textWidth);
    void PlaceAtSavedPosition();
    void SavePosition();
    void Cancel();
    void UpdatePercent();

    std::string profileFile_;
    std::string title_ = "Progress";
    HWND status_ = nullptr;
    HWND bar_ = nullptr;
    GdiObject<HFONT> font_;
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 1;
    int position_ = 0;
    int percent_ = 0;
    bool cancelled_ = false;
    bool rememberPosition_ = true;
};

}  // namespace kickoff
