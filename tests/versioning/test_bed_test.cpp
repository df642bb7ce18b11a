// The test bed itself: trace capture and the UI driver must see what a
// person would see, or every test built on them proves nothing.
#include <gtest/gtest.h>

#include "trace_capture.h"
#include "ui_driver.h"

namespace {

DWORD WINAPI TraceFromAnotherThread(void*) {
    OutputDebugStringA("from a worker\r\n");
    return 0;
}

TEST(TestBed, TraceCaptureSeesEveryLineOfEveryThread) {
    kstest::TraceCapture trace;
    OutputDebugStringA("In DLLCanUnloadNow\r\n");
    HANDLE thread = CreateThread(nullptr, 0, TraceFromAnotherThread, nullptr, 0, nullptr);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"In DLLCanUnloadNow\r\n", "from a worker\r\n"}));
    trace.Clear();
    EXPECT_TRUE(trace.Lines().empty());
}

TEST(TestBed, DriverReadsAMessageBoxAndPressesAButton) {
    kstest::UiDriver ui;
    ui.OnMessageBox("Driver Caption", [](kstest::Window& box) { box.Press(IDNO); });
    int pressed = MessageBoxA(nullptr, "Line one\nLine two", "Driver Caption", MB_YESNOCANCEL | MB_ICONWARNING);
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(pressed, IDNO);
    ASSERT_EQ(ui.Seen().size(), 1u);
    const kstest::MessageBoxInfo& box = ui.Seen()[0];
    EXPECT_EQ(box.caption, "Driver Caption");
    EXPECT_EQ(box.text, "Line one\nLine two");
    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
}

TEST(TestBed, DriverRunsStepsInOrder) {
    kstest::UiDriver ui;
    ui.OnMessageBox("First").OnMessageBox("Second", [](kstest::Window& box) { box.Press(IDCANCEL); });
    MessageBoxA(nullptr, "1", "First", MB_OK | MB_ICONSTOP);
    int second = MessageBoxA(nullptr, "2", "Second", MB_OKCANCEL | MB_ICONQUESTION);
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(second, IDCANCEL);
    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(ui.Seen()[1].icon, static_cast<UINT>(MB_ICONQUESTION));
}

TEST(TestBed, MissingWindowFailsInsteadOfHanging) {
    kstest::UiDriver ui;
    ui.OnDialog("Never Shown", nullptr, 300);
    EXPECT_FALSE(ui.Finish());
    ASSERT_EQ(ui.Failures().size(), 1u);
    EXPECT_NE(ui.Failures()[0].find("Never Shown"), std::string::npos);

    // A box nobody expected is dismissed, so the call returns.
    EXPECT_FALSE(kstest::CallWithin(500, [] { MessageBoxA(nullptr, "stuck", "Unexpected", MB_OK); }));
}

}  // namespace
