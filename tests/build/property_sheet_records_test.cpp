// The records the history window hands the common controls state the sizes
// the shell knows them by. Too small a size makes comctl32 ignore the fields
// past it; on 32-bit Windows the header is 52 bytes and the page 48 (checked
// in record_layouts_i686.cpp), here they are the same records in 64 bits.
// The test takes the records where they are handed over: PropertySheetA is
// replaced in this program's import table for the duration of one call.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstddef>
#include <cstring>

#include "archive/archive_context.h"
#include "history/history_page.h"
#include "shellext/history_window.h"
#include "test_helpers.h"

namespace {

// Points this program's import of `dll`!`function` at `replacement` until
// destroyed.
class ImportPatch {
public:
    ImportPatch(const char* dll, const char* function, void* replacement) {
        HMODULE target = GetModuleHandleA(dll);
        void* original = target ? reinterpret_cast<void*>(GetProcAddress(target, function)) : nullptr;
        if (!original) return;
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
        for (; descriptor->Name; ++descriptor) {
            if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) continue;
            for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
                 thunk->u1.Function; ++thunk) {
                if (reinterpret_cast<void*>(thunk->u1.Function) != original) continue;
                slot_ = reinterpret_cast<void**>(&thunk->u1.Function);
                original_ = original;
                Write(replacement);
                return;
            }
        }
    }
    ~ImportPatch() {
        if (slot_) Write(original_);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool applied() const { return slot_ != nullptr; }

private:
    void Write(void* value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }

    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// What the replacement of PropertySheetA was handed.
struct SheetSeen {
    int calls = 0;
    PROPSHEETHEADERA header{};
    PROPSHEETPAGEA page{};
};
SheetSeen g_seen;

INT_PTR WINAPI RecordSheet(LPCPROPSHEETHEADERA header) {
    ++g_seen.calls;
    g_seen.header = *header;
    if ((header->dwFlags & PSH_PROPSHEETPAGE) && header->nPages == 1)
        std::memcpy(&g_seen.page, header->ppsp, sizeof g_seen.page);
    return 7;  // a result no real sheet gives, to see it passed on
}

TEST(PropertySheetRecords, TheHistoryWindowStatesTheFullHeaderAndPageSizes) {
    kstest::UseOwnResources();
    ArchiveContext context{};
    std::strcpy(context.workingName, "records.txt");
    HistoryPage page(&context);

    g_seen = SheetSeen{};
    {
        ImportPatch patch("comctl32.dll", "PropertySheetA", reinterpret_cast<void*>(&RecordSheet));
        ASSERT_TRUE(patch.applied());
        EXPECT_EQ(ShowHistoryWindow(nullptr, &page), 7);
    }
    ASSERT_EQ(g_seen.calls, 1);

    // The header up to its header bitmap, not the first version's 40 bytes.
    EXPECT_EQ(g_seen.header.dwSize, offsetof(PROPSHEETHEADERA, hbmHeader) + sizeof(HBITMAP));
    EXPECT_EQ(g_seen.header.dwSize, kHistorySheetHeaderSize);
    EXPECT_EQ(g_seen.header.dwFlags, static_cast<DWORD>(PSH_PROPSHEETPAGE));
    EXPECT_EQ(g_seen.header.nPages, 1u);
    EXPECT_EQ(g_seen.header.nStartPage, 0u);

    // The page up to its header subtitle.
    EXPECT_EQ(g_seen.page.dwSize, static_cast<DWORD>(PROPSHEETPAGEA_V2_SIZE));
    EXPECT_EQ(g_seen.page.dwSize, offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR));
    EXPECT_EQ(g_seen.page.dwFlags, kHistoryWindowPageFlags);
    EXPECT_EQ(g_seen.page.lParam, reinterpret_cast<LPARAM>(&page));
}

}  // namespace
