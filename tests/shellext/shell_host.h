// Plays the Windows shell for keepshel's tests: registers the extension
// from install/keepsake.reg, activates it through COM, hands it a real
// selection made by the shell's own folder objects, and reads back the
// context menu it builds.
#ifndef KSTEST_SHELL_HOST_H
#define KSTEST_SHELL_HOST_H

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace kstest {

extern const CLSID kKeepsakeClassId;

// The folder of the running test program, where keepshel.dll lies.
std::string ProgramFolder();

// Writes the keys of keepsake.reg (copied next to the test program) with
// the program's folder as the install folder, and removes what it wrote
// when destroyed: keys it created, values it set (earlier values put back).
class ShellRegistration {
public:
    ShellRegistration();
    ~ShellRegistration();
    ShellRegistration(const ShellRegistration&) = delete;
    ShellRegistration& operator=(const ShellRegistration&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    // One value of the file: root key, subkey, value name ("" for the
    // default value) and data, as written.
    struct Entry {
        HKEY root;
        std::string key;
        std::string name;
        std::string data;
    };
    const std::vector<Entry>& entries() const { return entries_; }

private:
    struct SavedValue {
        HKEY root;
        std::string key;
        std::string name;
        bool existed;
        std::string data;
    };
    bool Parse(const std::string& text);
    bool Apply();

    std::vector<Entry> entries_;
    std::vector<std::pair<HKEY, std::string>> createdKeys_;
    std::vector<SavedValue> savedValues_;
    bool ok_ = false;
    std::string error_;
};

// A data object for items of one folder, made by the shell's folder object
// (IShellFolder::GetUIObjectOf), as the file manager hands it to handlers.
// Null when the shell cannot parse a name. The caller releases it.
IDataObject* MakeShellDataObject(const std::string& folder, const std::vector<std::string>& names);

// One item of a menu as the user would see it.
struct MenuItem {
    std::string text;
    UINT id = 0;
    bool grayed = false;
    std::vector<MenuItem> submenu;  // the items of a popup
    bool popup = false;

    const MenuItem* Find(const std::string& itemText) const;
};

// Finds an item by its text among `items`; null when absent.
const MenuItem* FindItem(const std::vector<MenuItem>& items, const std::string& text);

// Reads every item of `menu`, popups included.
std::vector<MenuItem> ReadMenu(HMENU menu);

class ShellHost {
public:
    static constexpr UINT kFirstId = 100;
    static constexpr UINT kLastId = 0x7FFF;

    ShellHost();   // joins a single-threaded apartment
    ~ShellHost();  // releases the extension, leaves the apartment
    ShellHost(const ShellHost&) = delete;
    ShellHost& operator=(const ShellHost&) = delete;

    // Activates the extension through COM from the registry.
    HRESULT Create();
    // The shell's selection of `names` inside `folder`, handed to Initialize.
    HRESULT Select(const std::string& folder, const std::vector<std::string>& names);

    // Builds a popup holding one item of the shell's own, lets the
    // extension add its items at position 0 and reads the menu back.
    std::vector<MenuItem> QueryMenu(UINT flags = CMF_NORMAL, HRESULT* result = nullptr);
    // The "&Keepsake" submenu, or null when the extension added none.
    const MenuItem* Keepsake() const { return FindItem(lastMenu_, "&Keepsake"); }

    HRESULT Invoke(UINT offset, HWND owner = nullptr, const char* directory = nullptr);
    HRESULT InvokeVerb(const char* verb);
    // The help text of one item; `initial` stays when nothing is written.
    std::string CommandString(UINT_PTR offset, UINT kind, const std::string& initial = "");

    IShellExtInit* init() const { return init_; }
    IContextMenu* menu() const { return menu_; }
    void Release();

private:
    bool comReady_ = false;
    IShellExtInit* init_ = nullptr;
    IContextMenu* menu_ = nullptr;
    std::vector<MenuItem> lastMenu_;
};

}  // namespace kstest

#endif
