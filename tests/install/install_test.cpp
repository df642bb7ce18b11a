// Keepsake as a user gets it: the MSI package installed with msiexec, the
// extension used through the shell's own road, the applet started the way
// keepshel starts it, and everything taken away again by the uninstall but
// the archives the user made.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "applet_resource.h"
#include "shell_host.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

using kstest::PathPresent;
using kstest::UiDriver;
using kstest::Window;

constexpr DWORD kMsiexecTimeoutMs = 120000;
constexpr DWORD kWindowTimeoutMs = 30000;
const char kSettingsDialog[] = "Keepsake Settings";
const char kCplsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls";

std::string Package() {
    return kstest::ProgramFolder() + (sizeof(void*) == 8 ? "\\keepsake-x64.msi" : "\\keepsake-x86.msi");
}

// Runs msiexec with `arguments` and answers its exit code; -1 when it could
// not be started or had to be ended after the time-out.
int RunMsiexec(const std::string& arguments) {
    std::string command = "msiexec.exe " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, kMsiexecTimeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// The product installed for the test's lifetime: a test that stops midway
// still uninstalls it, so the prefix is left as it was.
class InstalledProduct {
public:
    int Install() {
        installed_ = true;
        return RunMsiexec("/i \"" + Package() + "\" /qn");
    }
    int Uninstall() {
        installed_ = false;
        return RunMsiexec("/x \"" + Package() + "\" /qn");
    }
    ~InstalledProduct() {
        if (installed_) Uninstall();
    }

private:
    bool installed_ = false;
};

std::string FolderOf(int csidl) {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::string InstallFolder() { return FolderOf(CSIDL_PROGRAM_FILES) + "\\Keepsake"; }
std::string SystemFolder() { return FolderOf(CSIDL_SYSTEM); }

bool KeyPresent(HKEY root, const std::string& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

// A value's data as text (numbers in decimal); `present` tells absence apart.
std::string ValueOf(HKEY root, const std::string& key, const std::string& name, bool* present = nullptr) {
    if (present) *present = false;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
    char data[1024] = "";
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LONG read = RegQueryValueExA(opened, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(opened);
    if (read != ERROR_SUCCESS) return {};
    if (present) *present = true;
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
    data[size < sizeof data ? size : sizeof data - 1] = '\0';
    return data;
}

// One value of keepsake.reg with the install folder filled in, and whether
// its key and each of the key's parents were there before the install.
struct RegValue {
    HKEY root;
    std::string key;
    std::string name;
    std::string data;
};

std::string Unescaped(const std::string& quoted) {
    std::string text;
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size()) ++i;
        text += quoted[i];
    }
    return text;
}

std::vector<RegValue> ReadRegFile(const std::string& path, const std::string& installFolder) {
    std::vector<RegValue> values;
    std::ifstream file(path);
    std::string line;
    HKEY root = nullptr;
    std::string key;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            std::string full = line.substr(1, line.find(']') - 1);
            size_t slash = full.find('\\');
            std::string rootName = full.substr(0, slash);
            root = rootName == "HKEY_CLASSES_ROOT" ? HKEY_CLASSES_ROOT
                   : rootName == "HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE
                                                      : nullptr;
            key = full.substr(slash + 1);
            continue;
        }
        size_t equals = line.find("=\"");
        if (!root || equals == std::string::npos) continue;
        std::string name = line[0] == '@' ? "" : Unescaped(line.substr(1, equals - 2));
        std::string data = Unescaped(line.substr(equals + 2, line.size() - equals - 3));
        size_t placeholder = data.find("%INSTALLDIR%");
        if (placeholder != std::string::npos) data.replace(placeholder, 12, installFolder);
        values.push_back({root, key, name, data});
    }
    return values;
}

// The keys of `values` and every parent of them, each with whether it is
// there now.
std::vector<std::pair<RegValue, bool>> KeysAndParents(const std::vector<RegValue>& values) {
    std::vector<std::pair<RegValue, bool>> keys;
    for (const RegValue& value : values) {
        std::string key = value.key;
        for (;;) {
            keys.push_back({{value.root, key, "", ""}, KeyPresent(value.root, key)});
            size_t slash = key.find_last_of('\\');
            if (slash == std::string::npos) break;
            key = key.substr(0, slash);
        }
    }
    return keys;
}

std::string ModulePath(const char* name) {
    HMODULE module = GetModuleHandleA(name);
    if (!module) return {};
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

bool SamePath(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// Waits for every control-panel runner to end (the applet lives in one).
bool RunnersEnded(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        bool running = false;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            if (_stricmp(entry.szExeFile, "rundll32.exe") == 0) running = true;
        CloseHandle(snapshot);
        if (!running) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(50);
    }
}

std::vector<std::string> ArchivesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "\\*.ks").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(search, &data));
    FindClose(search);
    return names;
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PathPresent(Package())) << Package();
        ASSERT_FALSE(PathPresent(InstallFolder())) << "installed already: " << InstallFolder();
        values_ = ReadRegFile(kstest::ProgramFolder() + "\\keepsake.reg", InstallFolder());
        ASSERT_EQ(values_.size(), 8u) << "keepsake.reg read";
        keysBefore_ = KeysAndParents(values_);
    }

    void ExpectInstalledFilesAndKeys() {
        std::string folder = InstallFolder();
        for (const char* file : {"keepshel.dll", "kseng32.dll", "keepcpl.cpl"})
            EXPECT_TRUE(PathPresent(folder + "\\" + file)) << file;
        EXPECT_TRUE(PathPresent(SystemFolder() + "\\keepcpl.cpl")) << "where keepshel starts the applet";

        for (const RegValue& value : values_) {
            bool present = false;
            std::string data = ValueOf(value.root, value.key, value.name, &present);
            EXPECT_TRUE(present) << value.key << " " << value.name;
            EXPECT_TRUE(SamePath(data, value.data)) << value.key << " " << value.name << ": " << data;
        }
        EXPECT_TRUE(SamePath(ValueOf(HKEY_LOCAL_MACHINE, kCplsKey, "keepcpl"), folder + "\\keepcpl.cpl"));

        const char* settingsKey = kstest::kSettingsKey;
        EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, settingsKey, "EnableVersionControl"), "1");
        EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, settingsKey, "HistoryField_1"), "60");
        EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, settingsKey, "HistoryField_2"), "30");
        EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, settingsKey, "HistoryField_3"), "110");
        EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, settingsKey, "HistoryField_4"), "90");
    }

    // A first version of a new file through the installed extension, the
    // way the file manager asks for it.
    void SaveThroughTheShell(const std::string& folder, const std::string& name) {
        ASSERT_TRUE(kstest::WriteFileText(folder + "\\" + name, "the first words of a report"));
        kstest::ShellHost host;
        ASSERT_EQ(host.Create(), S_OK);
        EXPECT_TRUE(SamePath(ModulePath("keepshel.dll"), InstallFolder() + "\\keepshel.dll"));
        EXPECT_TRUE(SamePath(ModulePath("kseng32.dll"), InstallFolder() + "\\kseng32.dll"));
        ASSERT_EQ(host.Select(folder, {name}), S_OK);
        host.QueryMenu();
        ASSERT_TRUE(host.Keepsake()) << "the installed settings switch versioning on";

        UiDriver ui;
        ui.OnDialog(("New Version - " + name).c_str(), [](Window& dialog) { dialog.Press(IDOK); });
        HRESULT result = E_FAIL;
        ASSERT_TRUE(kstest::CallWithin(kWindowTimeoutMs, [&] { result = host.Invoke(0); }));
        EXPECT_EQ(result, S_OK);
        EXPECT_TRUE(ui.Finish());
    }

    // keepshel's own export starts the applet from the system folder; the
    // user stores a list of extensions with it.
    void ChangeSettingsWithTheAppletFromTheExtension() {
        HMODULE library = LoadLibraryExA((InstallFolder() + "\\keepshel.dll").c_str(), nullptr,
                                         LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_TRUE(library);
        EXPECT_NE(GetProcAddress(library, "DllGetClassObject"), nullptr);
        EXPECT_NE(GetProcAddress(library, "DllCanUnloadNow"), nullptr);
        using ControlPanelFn = int (WINAPI*)();
        auto controlPanel =
            reinterpret_cast<ControlPanelFn>(reinterpret_cast<void*>(GetProcAddress(library, "KSControlPanel")));
        ASSERT_NE(controlPanel, nullptr);
        EXPECT_GT(controlPanel(), 31);
        Window dialog = kstest::WaitForWindow("#32770", kSettingsDialog, kWindowTimeoutMs);
        EXPECT_TRUE(dialog) << "the applet did not open";
        if (dialog) {
            EXPECT_TRUE(dialog.IsChecked(IDC_ENABLE_VERSIONING));
            dialog.SetText(IDC_EXCLUDED, ".tmp, .bak");
            dialog.Press(IDOK);
            EXPECT_TRUE(kstest::WaitUntilGone(dialog.handle()));
        }
        EXPECT_TRUE(RunnersEnded(kWindowTimeoutMs));
        FreeLibrary(library);
        EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, kstest::kSettingsKey, "VersionExclude"), "tmp,bak");
    }

    void ExpectNothingLeft() {
        std::string folder = InstallFolder();
        EXPECT_FALSE(PathPresent(folder)) << folder;
        EXPECT_FALSE(PathPresent(SystemFolder() + "\\keepcpl.cpl"));
        for (const RegValue& value : values_) {
            bool present = true;
            ValueOf(value.root, value.key, value.name, &present);
            EXPECT_FALSE(present) << value.key << " " << value.name;
        }
        for (const auto& key : keysBefore_) {
            if (!key.second) {
                EXPECT_FALSE(KeyPresent(key.first.root, key.first.key)) << key.first.key;
            }
        }
        bool present = true;
        ValueOf(HKEY_LOCAL_MACHINE, kCplsKey, "keepcpl", &present);
        EXPECT_FALSE(present);
        EXPECT_FALSE(kstest::SettingsScope::KeyExists()) << "with the values the applet wrote";
        EXPECT_FALSE(KeyPresent(HKEY_LOCAL_MACHINE, "Software\\Zemla\\Keepsake"));
    }

    kstest::SettingsScope settings_;  // outlives the product, so it checks the uninstall first
    InstalledProduct product_;
    std::vector<RegValue> values_;
    std::vector<std::pair<RegValue, bool>> keysBefore_;
};

TEST_F(Installer, InstallsUsesAndRemovesKeepsakeButNotTheArchives) {
    kstest::TempFolder documents;
    ASSERT_EQ(product_.Install(), 0);
    {
        SCOPED_TRACE("installed");
        ExpectInstalledFilesAndKeys();
    }
    {
        SCOPED_TRACE("a save through the installed extension");
        SaveThroughTheShell(documents.path(), "report.txt");
        EXPECT_EQ(ArchivesIn(documents.path()).size(), 1u);
        EXPECT_EQ(ModulePath("keepshel.dll"), "") << "released, so the uninstall can remove it";
    }
    {
        SCOPED_TRACE("the applet started by keepshel");
        ChangeSettingsWithTheAppletFromTheExtension();
    }
    ASSERT_EQ(product_.Uninstall(), 0);
    {
        SCOPED_TRACE("uninstalled");
        ExpectNothingLeft();
        EXPECT_EQ(ArchivesIn(documents.path()).size(), 1u) << "the user's archive stays";
        EXPECT_TRUE(PathPresent(documents / "report.txt"));
    }
}

}  // namespace
