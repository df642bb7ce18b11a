// The printed history, drawn into an enhanced metafile instead of a
// printer: its text records give the lines, their places and the pages.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "archive/module.h"
#include "history/history_printing.h"
#include "history_test_support.h"

namespace {

using kstest::SheetHost;
using kstest::VersionedFile;
using kstest::Window;

// One piece of text as the job drew it.
struct Drawn {
    int x;
    int y;
    std::string text;
};

struct Recording {
    std::vector<Drawn> texts;
    std::vector<COLORREF> colours;
};

int CALLBACK CollectRecord(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM param) {
    auto* recording = reinterpret_cast<Recording*>(param);
    const BYTE* base = reinterpret_cast<const BYTE*>(record);
    switch (record->iType) {
    case EMR_EXTTEXTOUTW: {
        auto* text = reinterpret_cast<const EMREXTTEXTOUTW*>(record);
        const WCHAR* chars = reinterpret_cast<const WCHAR*>(base + text->emrtext.offString);
        std::string narrow;
        for (DWORD i = 0; i < text->emrtext.nChars; ++i) narrow += static_cast<char>(chars[i]);
        recording->texts.push_back({text->emrtext.ptlReference.x, text->emrtext.ptlReference.y, narrow});
        break;
    }
    case EMR_EXTTEXTOUTA: {
        auto* text = reinterpret_cast<const EMREXTTEXTOUTA*>(record);
        const char* chars = reinterpret_cast<const char*>(base + text->emrtext.offString);
        recording->texts.push_back({text->emrtext.ptlReference.x, text->emrtext.ptlReference.y,
                                    std::string(chars, text->emrtext.nChars)});
        break;
    }
    case EMR_SETTEXTCOLOR:
        recording->colours.push_back(reinterpret_cast<const EMRSETTEXTCOLOR*>(record)->crColor);
        break;
    default:
        break;
    }
    return 1;
}

// The recorder every test target draws into.
struct Recorder {
    int fontHeight = 0;
    int opened = 0;
    int closed = 0;
    bool cancel = false;
    bool noDevice = false;
    VersionListView* nested = nullptr;  // printed again from inside the job
    HFONT font = nullptr;
    HENHMETAFILE recorded = nullptr;
    ~Recorder() {
        if (recorded) DeleteEnhMetaFile(recorded);
        if (font) DeleteObject(font);
    }
};
Recorder* g_recorder = nullptr;

HFONT MakeFont(int height) {
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Tahoma");
}

bool OpenRecording(HWND, HDC* dc) {
    Recorder& recorder = *g_recorder;
    ++recorder.opened;
    if (recorder.nested) {
        EXPECT_TRUE(HistoryPrintRunning());
        recorder.nested->PrintHistory();  // refused: one job at a time
    }
    if (recorder.cancel) return false;
    if (recorder.noDevice) {
        *dc = nullptr;
        return true;
    }
    *dc = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    if (recorder.fontHeight) {
        recorder.font = MakeFont(recorder.fontHeight);
        SelectObject(*dc, recorder.font);
    }
    return true;
}

void CloseRecording(HDC dc) {
    ++g_recorder->closed;
    g_recorder->recorded = CloseEnhMetaFile(dc);
}

const PrintTarget kRecordingTarget = {&OpenRecording, &CloseRecording};

// A font height that makes a page hold lines 0 to 10 (P = 10).
int FontHeightForTenLines() {
    for (int height = 20; height < 200; ++height) {
        HDC dc = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
        HFONT font = MakeFont(height);
        SelectObject(dc, font);
        PrintLayout layout = ComputePrintLayout(dc, nullptr, 0);
        DeleteEnhMetaFile(CloseEnhMetaFile(dc));
        DeleteObject(font);
        if (layout.linesPerPage == 10) return height;
    }
    return 0;
}

class HistoryPrintingTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_recorder = &recorder_;
        SetPrintTarget(&kRecordingTarget);
    }
    void TearDown() override {
        SetPrintTarget(nullptr);
        g_recorder = nullptr;
    }

    Recording Read() const {
        Recording recording;
        EXPECT_NE(recorder_.recorded, nullptr);
        if (recorder_.recorded) EnumEnhMetaFile(nullptr, recorder_.recorded, &CollectRecord, &recording, nullptr);
        return recording;
    }

    VersionedFile file_;
    Recorder recorder_;
};

// The drawn texts as lines (pieces at one height, in drawing order) and
// the lines as pages (a page starts where a line goes back up).
struct Line {
    int y;
    std::vector<Drawn> pieces;
};
std::vector<std::vector<Line>> Pages(const Recording& recording) {
    std::vector<std::vector<Line>> pages;
    int previousY = -1;
    for (const Drawn& piece : recording.texts) {
        if (piece.text.empty()) continue;
        if (pages.empty() || piece.y < previousY) pages.emplace_back();
        if (pages.back().empty() || pages.back().back().y != piece.y) pages.back().push_back({piece.y, {}});
        pages.back().back().pieces.push_back(piece);
        previousY = piece.y;
    }
    return pages;
}

TEST_F(HistoryPrintingTest, PagesHoldSevenThenNineVersionsNewestFirstInBlue) {
    recorder_.fontHeight = FontHeightForTenLines();
    ASSERT_NE(recorder_.fontHeight, 0);
    file_.Save(17, {3});
    SheetHost host(&file_.context);
    host.Command(IDC_TOOL_PRINT_HISTORY);
    ASSERT_EQ(recorder_.opened, 1);
    ASSERT_EQ(recorder_.closed, 1);

    Recording recording = Read();
    bool blue = false;
    for (COLORREF colour : recording.colours) blue = blue || colour == RGB(0, 0, 255);
    EXPECT_TRUE(blue);

    std::vector<std::vector<Line>> pages = Pages(recording);
    ASSERT_EQ(pages.size(), 3u);
    ASSERT_EQ(pages[0].size(), 2u + 7u) << "title, heading and 7 versions";
    ASSERT_EQ(pages[1].size(), 1u + 9u) << "heading and 9 versions";
    ASSERT_EQ(pages[2].size(), 1u + 1u);

    HDC probe = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    HFONT font = MakeFont(recorder_.fontHeight);
    SelectObject(probe, font);
    VersionEntry* entries = nullptr;
    int count = file_.context.ListVersions(&entries);
    PrintLayout layout = ComputePrintLayout(probe, entries, count);
    delete[] entries;
    DeleteEnhMetaFile(CloseEnhMetaFile(probe));
    DeleteObject(font);
    ASSERT_EQ(layout.linesPerPage, 10);
    int h = layout.lineHeight, w = layout.charWidth;

    // The title on line 0, the heading on line 2, versions from line 4.
    EXPECT_EQ(pages[0][0].y, 10);
    EXPECT_EQ(pages[0][0].pieces[0].text, "File: report.doc, Total Number of Versions: 17");
    EXPECT_EQ(pages[0][1].y, 10 + 2 * h);
    EXPECT_EQ(pages[0][2].y, 10 + 4 * h);
    EXPECT_EQ(pages[0].back().y, 10 + 10 * h);
    EXPECT_EQ(pages[1][0].y, 10) << "further pages start with the heading";
    EXPECT_EQ(pages[1][1].y, 10 + 2 * h);

    // The heading's columns start 10 units right of the versions' columns.
    const Line& heading = pages[0][1];
    ASSERT_EQ(heading.pieces.size(), 5u);
    EXPECT_EQ(heading.pieces[0].text, "Permanent");
    EXPECT_EQ(heading.pieces[1].text, "#");
    EXPECT_EQ(heading.pieces[1].x, 10 + 12 * w);
    EXPECT_EQ(heading.pieces[4].text, "Comment");
    EXPECT_EQ(heading.pieces[4].x, 10 + layout.tabStops[3]);

    // Versions newest first, "Y" only for the permanent one, columns at the
    // tab stops, the user column at least 17 characters wide.
    std::vector<int> numbers;
    for (size_t page = 0; page < pages.size(); ++page) {
        for (size_t i = page == 0 ? 2 : 1; i < pages[page].size(); ++i) {
            const Line& line = pages[page][i];
            ASSERT_GE(line.pieces.size(), 4u);
            int number = std::stoi(line.pieces[1].text);
            numbers.push_back(number);
            EXPECT_EQ(line.pieces[0].x, 10);
            EXPECT_EQ(line.pieces[0].text, number == 3 ? "     Y" : "     N") << number;
            EXPECT_EQ(line.pieces[1].x, 12 * w);
            EXPECT_EQ(line.pieces[2].x, 19 * w);
            EXPECT_EQ(line.pieces[3].x, layout.tabStops[2]);
            if (line.pieces.size() == 5) {
                EXPECT_EQ(line.pieces[4].x, layout.tabStops[3]);
                EXPECT_EQ(line.pieces[4].text, "comment " + std::to_string(number));
            }
        }
    }
    std::vector<int> expected;
    for (int n = 17; n >= 1; --n) expected.push_back(n);
    EXPECT_EQ(numbers, expected);
    EXPECT_GE(layout.tabStops[3] - layout.tabStops[2], 17 * w);
}

TEST_F(HistoryPrintingTest, OneVersionPrintsOnOnePage) {
    file_.Save(1);
    SheetHost host(&file_.context);
    host.Command(IDC_TOOL_PRINT_HISTORY);
    std::vector<std::vector<Line>> pages = Pages(Read());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].size(), 3u);
}

TEST_F(HistoryPrintingTest, CancelledDialogNoDeviceAndASecondJob) {
    file_.Save(2);
    SheetHost host(&file_.context);

    recorder_.cancel = true;
    host.page.list.PrintHistory();
    EXPECT_EQ(recorder_.opened, 1);
    EXPECT_EQ(recorder_.closed, 0) << "a cancelled dialog prints nothing";

    recorder_.cancel = false;
    recorder_.noDevice = true;
    kstest::UiDriver ui;
    ui.OnMessageBox(kstest::kProductCaption);
    host.page.list.PrintHistory();
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Error!  Can't print!");
    EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_FALSE(HistoryPrintRunning());

    // A print asked for while one runs is refused.
    recorder_.noDevice = false;
    recorder_.opened = 0;
    recorder_.nested = &host.page.list;
    host.page.list.PrintHistory();
    EXPECT_EQ(recorder_.opened, 1);
    EXPECT_EQ(recorder_.closed, 1);
    EXPECT_FALSE(HistoryPrintRunning());
}

// Presses Cancel in the progress window as soon as the job opens it.
HHOOK g_cancelHook = nullptr;
HWND g_progressOwner = nullptr;
LRESULT CALLBACK CancelProgressWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        auto* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16] = "";
        GetClassNameA(window, name, sizeof name);
        if (std::string(name) == "#32770" && create->lpcs->hwndParent == g_progressOwner)
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    return CallNextHookEx(g_cancelHook, code, wParam, lParam);
}

TEST_F(HistoryPrintingTest, CancelInTheProgressWindowStopsBeforeTheNextLine) {
    file_.Save(3);
    SheetHost host(&file_.context);
    g_progressOwner = host.list();
    g_cancelHook = SetWindowsHookExA(WH_CBT, &CancelProgressWindow, nullptr, GetCurrentThreadId());
    host.page.list.PrintHistory();
    UnhookWindowsHookEx(g_cancelHook);
    EXPECT_EQ(recorder_.closed, 1) << "the device context is ended after a cancel too";
    std::vector<std::vector<Line>> pages = Pages(Read());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].size(), 2u) << "title and heading, no version line";
    EXPECT_FALSE(HistoryPrintRunning());
}

TEST(HistoryPrinting, LayoutDocumentNameAndTitleCount) {
    kstest::UseOwnResources();
    HDC dc = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    VersionEntry entries[2]{};
    CopyText(entries[0].dateTime, sizeof entries[0].dateTime, "12/24/26 10:30:00");
    CopyText(entries[0].updatedBy, sizeof entries[0].updatedBy, "ann");
    CopyText(entries[1].updatedBy, sizeof entries[1].updatedBy, std::string(20, 'u').c_str());
    PrintLayout layout = ComputePrintLayout(dc, entries, 1);
    int w = layout.charWidth;
    EXPECT_EQ(layout.userWidth, 15);
    EXPECT_EQ(layout.tabStops[2], 19 * w + (17 + 5) * w);
    EXPECT_EQ(layout.tabStops[3], layout.tabStops[2] + 17 * w);
    layout = ComputePrintLayout(dc, entries, 2);
    EXPECT_EQ(layout.userWidth, 20);
    EXPECT_EQ(layout.tabStops[3] - layout.tabStops[2], 22 * w);
    DeleteEnhMetaFile(CloseEnhMetaFile(dc));

    char name[MAX_PATH + 64];
    FormatPrintDocumentName("C:\\Docs\\plan.txt", name, sizeof name);
    EXPECT_STREQ(name, "C:\\Docs\\plan.txt Keepsake Archive History");
    std::string longPath = "C:\\" + std::string(255, 'p');
    FormatPrintDocumentName(longPath.c_str(), name, sizeof name);
    EXPECT_EQ(std::string(name), longPath + " Keepsake Archive History") << "a long path is not cut";

    // An archive that cannot be read: the count is asked a few times, then
    // the title shows the number of versions printed.
    kstest::TempFolder folder;
    ArchiveContext missing{};
    ASSERT_TRUE(missing.Resolve((folder / "gone.txt").c_str(), false, nullptr));
    DWORD start = GetTickCount();
    EXPECT_EQ(TitleVersionCount(missing, 4), 4);
    EXPECT_LT(GetTickCount() - start, 2000u);
}

}  // namespace
