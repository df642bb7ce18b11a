// The selection an extension object works on: what Initialize takes from
// the shell's data object, and how folders expand into their files.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>

#include <algorithm>
#include <string>
#include <vector>

#include "shell_host.h"
#include "test_helpers.h"
#include "trace_capture.h"
#include "shellext/selected_file_list.h"
#include "shellext/shell_ext.h"

namespace {

using kstest::TempFolder;
using kstest::WriteFileText;

std::vector<std::string> Paths(const SelectedFileList& list) {
    std::vector<std::string> paths;
    const SelectedFile* previous = nullptr;
    for (const SelectedFile* entry = list.First(); entry; entry = entry->next) {
        EXPECT_EQ(entry->previous, previous) << "broken back link at " << entry->path;
        previous = entry;
        paths.push_back(entry->path);
    }
    EXPECT_EQ(static_cast<int>(paths.size()), list.Count());
    return paths;
}

// A data object holding a drop list built here, for names the shell's own
// folder objects cannot make; `offerDrop` false gives a data object without
// the CF_HDROP format.
class DropData : public IDataObject {
public:
    DropData(std::vector<std::string> names, bool offerDrop) : names_(std::move(names)), offerDrop_(offerDrop) {}

    // How the block is laid out: names in UTF-16; the block ending inside
    // its last name (no terminator after it); a list offset past the end.
    bool wide = false;
    bool cutInLastName = false;
    bool offsetPastEnd = false;

    STDMETHODIMP QueryInterface(REFIID id, void** out) override {
        *out = IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDataObject) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!offerDrop_ || format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
        std::string list;
        for (const std::string& name : names_) list += name + '\0';
        list += '\0';
        if (wide) {
            std::wstring wideList(list.begin(), list.end());
            list.assign(reinterpret_cast<const char*>(wideList.data()), wideList.size() * sizeof(wchar_t));
        }
        // Without the terminators of the last name and of the list.
        if (cutInLastName) list.resize(list.size() - 2 * (wide ? sizeof(wchar_t) : 1));
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(DROPFILES) + list.size());
        auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
        *drop = DROPFILES{};
        drop->pFiles = offsetPastEnd ? static_cast<DWORD>(sizeof(DROPFILES) + list.size()) : sizeof(DROPFILES);
        drop->fWide = wide;
        memcpy(drop + 1, list.data(), list.size());
        GlobalUnlock(memory);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::vector<std::string> names_;
    bool offerDrop_;
};

class Selection : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        kstest::UseOwnResources();
        object = new CShellExt;
        object->AddRef();
    }
    void TearDown() override {
        object->Release();
        CoUninitialize();
    }
    HRESULT Initialize(const std::vector<std::string>& names) {
        IDataObject* data = kstest::MakeShellDataObject(folder.path(), names);
        EXPECT_NE(data, nullptr);
        HRESULT result = object->Initialize(nullptr, data, nullptr);
        if (data) data->Release();
        return result;
    }
    std::string Path(const std::string& name) const { return folder / name; }

    TempFolder folder;
    CShellExt* object = nullptr;
};

TEST_F(Selection, HoldsTheShellsSelectionInReverseOrder) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) ASSERT_TRUE(WriteFileText(Path(name), name));
    kstest::TraceCapture trace;
    ASSERT_EQ(Initialize({"a.txt", "b.txt", "c.txt"}), S_OK);
    EXPECT_TRUE(trace.Contains("CShellExt::Initialize()\r\n"));
    EXPECT_EQ(Paths(object->files()), (std::vector<std::string>{Path("c.txt"), Path("b.txt"), Path("a.txt")}));

    // A second selection goes in front of the first.
    ASSERT_EQ(Initialize({"d.txt"}), S_OK);
    EXPECT_EQ(Paths(object->files()),
              (std::vector<std::string>{Path("d.txt"), Path("c.txt"), Path("b.txt"), Path("a.txt")}));
}

TEST_F(Selection, WithoutDataObjectUsesTheHeldOneOrFails) {
    EXPECT_EQ(object->Initialize(nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(object->files().Count(), 0);

    ASSERT_TRUE(WriteFileText(Path("a.txt"), "a"));
    ASSERT_EQ(Initialize({"a.txt"}), S_OK);
    // The object still holds the shell's data object and reads it again.
    EXPECT_EQ(object->Initialize(nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Paths(object->files()), (std::vector<std::string>{Path("a.txt"), Path("a.txt")}));
}

TEST_F(Selection, RefusesDataWithoutDropAndLeavesOutNamesTooLongForAnEntry) {
    DropData noDrop({"C:\\a.txt"}, false);
    EXPECT_EQ(object->Initialize(nullptr, &noDrop, nullptr), E_FAIL);
    EXPECT_EQ(object->files().Count(), 0);

    // Cut to 259 characters, the long name would name this other file.
    std::string fits = "C:\\" + std::string(252, 'n') + ".doc";
    ASSERT_EQ(fits.size(), 259u);
    DropData mixed({fits + "x", fits}, true);
    EXPECT_EQ(object->Initialize(nullptr, &mixed, nullptr), S_OK);
    EXPECT_EQ(Paths(object->files()), std::vector<std::string>{fits});
}

TEST_F(Selection, ReadsEveryNameOfALargeListOnceWideOrNotAndNothingBeyondTheBlock) {
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("C:\\work\\file " + std::to_string(i) + ".txt");
    std::vector<std::string> reversed(names.rbegin(), names.rend());
    for (bool wide : {false, true}) {
        CShellExt* fresh = new CShellExt;
        fresh->AddRef();
        DropData data(names, true);
        data.wide = wide;
        EXPECT_EQ(fresh->Initialize(nullptr, &data, nullptr), S_OK);
        EXPECT_EQ(Paths(fresh->files()), reversed) << (wide ? "wide" : "single-byte");
        fresh->Release();
    }

    // A block that ends inside its last name: the names before it are
    // taken, the cut one is not, and nothing past the block is read.
    for (bool wide : {false, true}) {
        CShellExt* fresh = new CShellExt;
        fresh->AddRef();
        DropData cut({"C:\\a.txt", "C:\\b.txt"}, true);
        cut.wide = wide;
        cut.cutInLastName = true;
        EXPECT_EQ(fresh->Initialize(nullptr, &cut, nullptr), S_OK);
        EXPECT_EQ(Paths(fresh->files()), std::vector<std::string>{"C:\\a.txt"}) << (wide ? "wide" : "single-byte");
        fresh->Release();
    }
    DropData past({"C:\\a.txt"}, true);
    past.offsetPastEnd = true;
    CShellExt* fresh = new CShellExt;
    fresh->AddRef();
    EXPECT_EQ(fresh->Initialize(nullptr, &past, nullptr), E_FAIL);
    EXPECT_EQ(fresh->files().Count(), 0);
    fresh->Release();  // before the data object it holds goes out of scope
}

TEST_F(Selection, FoldersExpandOneLevelIntoTheirPlainFiles) {
    std::string inner = Path("inner");
    ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(inner + "\\one.txt", "1"));
    ASSERT_TRUE(WriteFileText(inner + "\\two.txt", "2"));
    ASSERT_TRUE(WriteFileText(inner + "\\hidden.txt", "h"));
    SetFileAttributesA((inner + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(WriteFileText(inner + "\\system.txt", "s"));
    SetFileAttributesA((inner + "\\system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(CreateDirectoryA((inner + "\\sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(inner + "\\sub\\deep.txt", "d"));
    ASSERT_TRUE(WriteFileText(Path("first.txt"), "f"));
    ASSERT_TRUE(WriteFileText(Path("last.txt"), "l"));

    // The folder sits between two files, so unlinking it touches both neighbours.
    ASSERT_EQ(Initialize({"first.txt", "inner", "last.txt"}), S_OK);
    SelectedFileList& files = object->files();
    files.ExpandFolders();
    std::vector<std::string> paths = Paths(files);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{Path("first.txt"), inner + "\\one.txt", inner + "\\two.txt",
                                               Path("last.txt")}));
}

TEST(SelectedFiles, TrailingBackslashExpandsTheSame) {
    TempFolder folder;
    ASSERT_TRUE(WriteFileText(folder / "one.txt", "1"));
    SelectedFileList plain, slashed;
    plain.Add(folder.path().c_str());
    slashed.Add((folder.path() + "\\").c_str());
    plain.ExpandFolders();
    slashed.ExpandFolders();
    EXPECT_EQ(Paths(plain), std::vector<std::string>{folder / "one.txt"});
    EXPECT_EQ(Paths(slashed), std::vector<std::string>{folder / "one.txt"});
}

TEST(SelectedFiles, VanishedPathCountsAsAFolderAndExpandsToNothing) {
    TempFolder folder;
    SelectedFileList files;
    files.Add((folder / "gone.txt").c_str());
    EXPECT_TRUE(SelectedFileList::IsFolder(files.First()));
    files.ExpandFolders();
    EXPECT_EQ(files.Count(), 0);
    EXPECT_EQ(files.First(), nullptr);
}

TEST(SelectedFiles, ComposedPathsTooLongForAnEntryAreLeftOut) {
    TempFolder folder;
    // A folder whose path leaves room for short names only.
    std::string deep = folder.path();
    while (deep.size() < 230) {
        deep += "\\" + std::string(std::min<size_t>(40, 235 - deep.size()), 'd');
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
    }
    ASSERT_TRUE(WriteFileText(deep + "\\short.txt", "s"));
    // 259 characters exactly still fit; one more does not.
    std::string fits = std::string(259 - deep.size() - 1 - 4, 'f') + ".txt";
    std::string longer = std::string(259 - deep.size() - 4, 'g') + ".txt";
    std::wstring base = L"\\\\?\\" + std::wstring(deep.begin(), deep.end()) + L"\\";
    for (const std::string& name : {fits, longer}) {
        HANDLE file = CreateFileW((base + std::wstring(name.begin(), name.end())).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name.size();
        CloseHandle(file);
    }

    SelectedFileList files;
    files.AddFolderFiles(deep.c_str());
    std::vector<std::string> paths = Paths(files);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{deep + "\\" + fits, deep + "\\short.txt"}));
    EXPECT_EQ((deep + "\\" + fits).size(), 259u);

    for (const std::string& name : {fits, longer})
        DeleteFileW((base + std::wstring(name.begin(), name.end())).c_str());
}

TEST(SelectedFiles, RefusesAPathLongerThanAnEntry) {
    SelectedFileList files;
    EXPECT_TRUE(files.Add(std::string(259, 'p').c_str()));
    EXPECT_FALSE(files.Add(std::string(260, 'p').c_str()));
    EXPECT_EQ(files.Count(), 1);
    files.Remove(files.First());
    EXPECT_EQ(files.First(), nullptr);
    EXPECT_EQ(files.Count(), 0);
}

}  // namespace
