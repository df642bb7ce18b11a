#include "shell_host.h"

#include <fstream>
#include <sstream>

namespace kstest {

const CLSID kKeepsakeClassId = {0x5B2E7C41, 0x9A3D, 0x4F18, {0xB6, 0xC2, 0x7E, 0x1D, 0x0A, 0x94, 0xC3, 0xF5}};

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length < sizeof path ? length : 0);
    size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? folder : folder.substr(0, slash);
}

namespace {

std::wstring Wide(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

// A .reg string: quoted, with \\ and \" escapes. Answers false when the
// text does not start with a quote or has no closing one.
bool ReadQuoted(const std::string& text, size_t& at, std::string& value) {
    if (at >= text.size() || text[at] != '"') return false;
    value.clear();
    for (++at; at < text.size(); ++at) {
        char c = text[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c == '\\' && at + 1 < text.size()) c = text[++at];
        value += c;
    }
    return false;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

}  // namespace

ShellRegistration::ShellRegistration() {
    std::ifstream file(ProgramFolder() + "\\keepsake.reg", std::ios::binary);
    if (!file) {
        error_ = "keepsake.reg is not beside the test program";
        return;
    }
    std::stringstream text;
    text << file.rdbuf();
    ok_ = Parse(text.str()) && Apply();
}

ShellRegistration::~ShellRegistration() {
    for (auto value = savedValues_.rbegin(); value != savedValues_.rend(); ++value) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(value->root, value->key.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) continue;
        if (value->existed)
            RegSetValueExA(key, value->name.empty() ? nullptr : value->name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value->data.c_str()),
                           static_cast<DWORD>(value->data.size() + 1));
        else
            RegDeleteValueA(key, value->name.empty() ? nullptr : value->name.c_str());
        RegCloseKey(key);
    }
    // Children were created after their parents.
    for (auto key = createdKeys_.rbegin(); key != createdKeys_.rend(); ++key)
        RegDeleteKeyA(key->first, key->second.c_str());
}

bool ShellRegistration::Parse(const std::string& text) {
    // The program folder as a .reg string: its backslashes doubled.
    std::string installDir = Replace(ProgramFolder(), "\\", "\\\\");
    std::istringstream lines(Replace(text, "%INSTALLDIR%", installDir));
    std::string line;
    HKEY root = nullptr;
    std::string key;
    bool header = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (header) {
            header = false;
            if (line != "Windows Registry Editor Version 5.00") {
                error_ = "unexpected first line: " + line;
                return false;
            }
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            std::string path = line.substr(1, line.find(']') - 1);
            size_t slash = path.find('\\');
            std::string rootName = path.substr(0, slash);
            key = slash == std::string::npos ? "" : path.substr(slash + 1);
            root = rootName == "HKEY_CLASSES_ROOT"    ? HKEY_CLASSES_ROOT
                   : rootName == "HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE
                   : rootName == "HKEY_CURRENT_USER"  ? HKEY_CURRENT_USER
                                                      : nullptr;
            if (!root) {
                error_ = "unknown root " + rootName;
                return false;
            }
            continue;
        }
        Entry entry{root, key, "", ""};
        size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else if (!ReadQuoted(line, at, entry.name)) {
            error_ = "bad value name: " + line;
            return false;
        }
        if (!root || at >= line.size() || line[at] != '=' || !ReadQuoted(line, ++at, entry.data)) {
            error_ = "bad value: " + line;
            return false;
        }
        entries_.push_back(entry);
    }
    return true;
}

bool ShellRegistration::Apply() {
    for (const Entry& entry : entries_) {
        // Each missing component is created, and remembered for removal.
        size_t end = 0;
        do {
            end = entry.key.find('\\', end + 1);
            std::string prefix = entry.key.substr(0, end);
            if (KeyExists(entry.root, prefix)) continue;
            HKEY created = nullptr;
            if (RegCreateKeyExA(entry.root, prefix.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                                nullptr) != ERROR_SUCCESS) {
                error_ = "cannot create " + prefix;
                return false;
            }
            RegCloseKey(created);
            createdKeys_.emplace_back(entry.root, prefix);
        } while (end != std::string::npos);

        HKEY key = nullptr;
        if (RegOpenKeyExA(entry.root, entry.key.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
            error_ = "cannot open " + entry.key;
            return false;
        }
        const char* name = entry.name.empty() ? nullptr : entry.name.c_str();
        SavedValue saved{entry.root, entry.key, entry.name, false, ""};
        char previous[1024];
        DWORD size = sizeof previous;
        if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(previous), &size) ==
            ERROR_SUCCESS) {
            saved.existed = true;
            saved.data.assign(previous, size > 0 && previous[size - 1] == '\0' ? size - 1 : size);
        }
        savedValues_.push_back(saved);
        LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.data.c_str()),
                                     static_cast<DWORD>(entry.data.size() + 1));
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) {
            error_ = "cannot set a value of " + entry.key;
            return false;
        }
    }
    return true;
}

IDataObject* MakeShellDataObject(const std::string& folder, const std::vector<std::string>& names) {
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop))) return nullptr;
    IShellFolder* parent = nullptr;
    PIDLIST_RELATIVE folderId = nullptr;
    std::wstring folderName = Wide(folder);
    if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, &folderName[0], nullptr, &folderId, nullptr)))
        desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&parent));
    CoTaskMemFree(folderId);
    desktop->Release();
    if (!parent) return nullptr;

    std::vector<PITEMID_CHILD> children;
    bool parsed = true;
    for (const std::string& name : names) {
        std::wstring childName = Wide(name);
        PIDLIST_RELATIVE child = nullptr;
        if (FAILED(parent->ParseDisplayName(nullptr, nullptr, &childName[0], nullptr, &child, nullptr))) {
            parsed = false;
            break;
        }
        children.push_back(reinterpret_cast<PITEMID_CHILD>(child));
    }
    IDataObject* data = nullptr;
    if (parsed)
        parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()),
                              const_cast<PCUITEMID_CHILD_ARRAY>(children.data()), IID_IDataObject, nullptr,
                              reinterpret_cast<void**>(&data));
    for (PITEMID_CHILD child : children) CoTaskMemFree(child);
    parent->Release();
    return data;
}

const MenuItem* FindItem(const std::vector<MenuItem>& items, const std::string& text) {
    for (const MenuItem& item : items)
        if (item.text == text) return &item;
    return nullptr;
}

const MenuItem* MenuItem::Find(const std::string& itemText) const { return FindItem(submenu, itemText); }

std::vector<MenuItem> ReadMenu(HMENU menu) {
    std::vector<MenuItem> items;
    int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        char text[256] = "";
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = sizeof text;
        if (!GetMenuItemInfoA(menu, position, TRUE, &info)) continue;
        MenuItem item;
        item.text = text;
        item.id = info.wID;
        item.grayed = (info.fState & MFS_GRAYED) != 0;
        item.popup = info.hSubMenu != nullptr;
        if (info.hSubMenu) item.submenu = ReadMenu(info.hSubMenu);
        items.push_back(item);
    }
    return items;
}

ShellHost::ShellHost() { comReady_ = SUCCEEDED(CoInitialize(nullptr)); }

ShellHost::~ShellHost() {
    Release();
    if (comReady_) CoUninitialize();
}

void ShellHost::Release() {
    if (menu_) menu_->Release();
    if (init_) init_->Release();
    menu_ = nullptr;
    init_ = nullptr;
}

HRESULT ShellHost::Create() {
    Release();
    HRESULT result = CoCreateInstance(kKeepsakeClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                      reinterpret_cast<void**>(&init_));
    if (FAILED(result)) return result;
    return init_->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu_));
}

HRESULT ShellHost::Select(const std::string& folder, const std::vector<std::string>& names) {
    if (!init_) return E_UNEXPECTED;
    IDataObject* data = MakeShellDataObject(folder, names);
    if (!data) return E_FAIL;
    HRESULT result = init_->Initialize(nullptr, data, nullptr);
    data->Release();
    return result;
}

std::vector<MenuItem> ShellHost::QueryMenu(UINT flags, HRESULT* result) {
    lastMenu_.clear();
    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, 1, "&Open");
    HRESULT answer = menu_ ? menu_->QueryContextMenu(popup, 0, kFirstId, kLastId, flags) : E_UNEXPECTED;
    if (result) *result = answer;
    lastMenu_ = ReadMenu(popup);
    DestroyMenu(popup);  // destroys the inserted submenus too
    return lastMenu_;
}

HRESULT ShellHost::Invoke(UINT offset, HWND owner, const char* directory) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.lpDirectory = directory;
    info.nShow = SW_SHOWNORMAL;
    return menu_ ? menu_->InvokeCommand(&info) : E_UNEXPECTED;
}

HRESULT ShellHost::InvokeVerb(const char* verb) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return menu_ ? menu_->InvokeCommand(&info) : E_UNEXPECTED;
}

std::string ShellHost::CommandString(UINT_PTR offset, UINT kind, const std::string& initial) {
    char buffer[256];
    lstrcpynA(buffer, initial.c_str(), sizeof buffer);
    if (menu_) menu_->GetCommandString(offset, kind, nullptr, buffer, sizeof buffer);
    return buffer;
}

}  // namespace kstest
