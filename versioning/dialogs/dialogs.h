// keepshel's small windows of the save and retrieve flows: the new-version
// dialog (two forms), "Retrieve As", the About box, the modeless progress
// window, and the context help every keepshel dialog shares.
#ifndef KEEPSHEL_DIALOGS_H
#define KEEPSHEL_DIALOGS_H

#include <windows.h>

#include <cstdint>

// The properties of a new version, as the new-version dialog edits them.
struct SaveOptions {
    int32_t permanent;
    char comment[129];       // at most 128 characters
    int32_t useCompression;  // compress a new archive
    int32_t singleLocation;  // a new archive goes to the central folder
    int32_t maxTemporary;    // temporary versions a new archive keeps
    int32_t firstVersion;    // 1: the "New Version" form, 0: "Save Properties"
    const char* title;       // file name (or "Multiple Files") for the window title
    HWND window;             // the dialog while it is open, else null
};

// permanent 0, comment "", title null, window null, firstVersion 0; the
// archive choices from the settings: "UseCompression" (else 0),
// "SingleLocation" (else 1), "MaxTempVersions" (else 10).
void InitSaveOptions(SaveOptions* options);

// Modal over `owner`: the "New Version" form when options->firstVersion,
// else "Save Properties". IDOK (1) with the choices stored in `options`, or
// IDCANCEL (2), also when the dialog cannot be shown.
int ShowNewVersionDialog(HWND owner, SaveOptions* options);

// The target of a retrieval: `path` comes in as the proposed name and goes
// out as the chosen one.
struct RetrieveAsRequest {
    char path[MAX_PATH];
    char initialFolder[MAX_PATH];  // where Browse starts
    HWND window;                   // the dialog while it is open, else null
};

// IDOK (1) with request->path chosen (an existing file only after the user
// agreed to replace it), or IDCANCEL (2).
int ShowRetrieveAsDialog(HWND owner, RetrieveAsRequest* request);

// The About box, centred on `owner`. IDOK (1) or IDCANCEL (2).
int ShowAboutBox(HWND owner);

// The modeless progress window of multi-file actions. The action calls Step
// or IsCancelled between files; those pump the window's own messages, which
// is how a press on Cancel is noticed. Cancel only sets the flag: the window
// stays until Close.
class ProgressDialog {
public:
    ProgressDialog() = default;
    ~ProgressDialog();  // closes
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    // Shows the window over `owner` with a bar of `steps` steps (only the
    // low 16 bits reach the bar). False when it cannot be created.
    bool Open(HWND owner, int steps, const char* title);
    void SetText(const char* text);
    void Step();
    bool IsCancelled();
    void Close();
    HWND window() const { return window_; }

private:
    static INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void Pump();

    HWND window_ = nullptr;
    int steps_ = 0;
    bool cancelled_ = false;
};

// The limit of temporary versions, as a field with a spin control.
constexpr int kFewestTemporaryVersions = 1;
constexpr int kMostTemporaryVersions = 32767;

// Gives spin control `spinId` the limit's range and its acceleration.
void SetUpTemporaryLimitSpin(HWND dialog, int spinId);

// Reads field `fieldId` as a limit. Not a number or out of range: message
// 2200 owned by `dialog`, the field set to the nearer bound (a number too
// large for a signed value counts as below 1) and focused; false.
bool ReadTemporaryLimit(HWND dialog, int fieldId, int* limit);

// Context help shared by every keepshel dialog.

// The help file: "HelpPath", a backslash when that is not empty, and
// "keepshel.hlp". `path` holds MAX_PATH; a folder too long to hold the name
// behind it gives the name alone.
void GetHelpFilePath(char* path);

// The (control id, topic) pairs of dialog `dialogId`'s help table, ending
// with a control id of 0, as WinHelp's pop-up request takes them; the
// table's header is skipped. Null when the dialog has no (sound) table.
const DWORD* LoadHelpTable(int dialogId);

// Remembers `screenPoint` and shows the "What's This?" menu there.
void ShowWhatsThisMenu(HWND window, POINT screenPoint);

// Sends `window` a help request (WM_HELP) for its child control under the
// remembered point.
void SendWhatsThisHelp(HWND window);

// Every help request goes through RequestHelp; a hook sees the requests
// instead of WinHelpA (tests observe them without a help viewer).
using HelpRequestHook = BOOL (*)(HWND window, const char* helpFile, UINT command, ULONG_PTR data);
void SetHelpRequestHook(HelpRequestHook hook);  // null restores WinHelpA
BOOL RequestHelp(HWND window, const char* helpFile, UINT command, ULONG_PTR data);

// A dialog procedure's help handling in one place: WM_HELP, WM_CONTEXTMENU,
// the "What's This?" command and the Help button. True when it handled the
// message (the procedure then answers TRUE).
bool HandleContextHelp(HWND dialog, int dialogId, UINT message, WPARAM wParam, LPARAM lParam);

#endif
