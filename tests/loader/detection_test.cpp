// Finding running programs and registry keys, and ending a found program,
// against a real helper process.
#include <gtest/gtest.h>

#include <string>

#include "loader_test_support.h"
#include "prev_app_rule.h"
#include "process_control.h"
#include "process_snapshot.h"
#include "process_tool.h"

using namespace kickoff;
using loadertest::ChildProcess;
using loadertest::ScratchKey;
using loadertest::TempFolder;

namespace {

const char kTargetName[] = "kickoff_detect_target.exe";

class Detection : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(DetectSnapshotSupport()); }
    void StartTarget() { ASSERT_TRUE(target_.Start("\"" + loadertest::BinPath(kTargetName) + "\"")); }
    ChildProcess target_;
};

// Starts a copy of the target program under another file name.
bool StartCopyNamed(ChildProcess& process, const TempFolder& folder, const std::wstring& fileName) {
    const std::wstring copy = loadertest::Wide(folder.Path()) + L"\\" + fileName;
    return ::CopyFileW(loadertest::Wide(loadertest::BinPath(kTargetName)).c_str(), copy.c_str(), FALSE) &&
           process.Start(L"\"" + copy + L"\"");
}

PrevAppRule Rule(const std::string& entry) {
    PrevAppRule rule;
    EXPECT_TRUE(ParsePrevAppRule(entry, rule)) << entry;
    return rule;
}

}  // namespace

TEST_F(Detection, SnapshotFindsTheFileNameIgnoringCaseButNeverAPath) {
    StartTarget();
    CProcessTool tool;
    EXPECT_EQ(tool.FindProcessId(kTargetName), target_.Id());
    EXPECT_EQ(tool.FindProcessId("KICKOFF_DETECT_TARGET.EXE"), target_.Id());
    EXPECT_EQ(tool.FindProcessId(loadertest::BinPath(kTargetName)), 0u);
    EXPECT_EQ(tool.FindProcessId("kickoff_detect_target"), 0u);
    EXPECT_TRUE(ProcessRunning(kTargetName));
    EXPECT_FALSE(ProcessRunning("kickoff_nothing_like_this.exe"));
}

// Names are compared as the file system compares them: ordinal, case
// ignored letter by letter, with the names the system holds (UTF-16) rather
// than a code page's approximation of them. Rules of a language would take a
// double s for a sharp s, AE for the ligature and pass over a soft hyphen.
TEST_F(Detection, SnapshotComparesFileNamesAsTheFileSystemDoes) {
    std::string strasse, aedit, softHyphen, upperSharpS, upperLigature;
    if (!loadertest::ToAnsi(L"kickoff_strasse.exe", strasse) || !loadertest::ToAnsi(L"KICKOFF_AEDIT.EXE", aedit) ||
        !loadertest::ToAnsi(L"kickoff_detect\x00AD_target.exe", softHyphen) ||
        !loadertest::ToAnsi(L"KICKOFF_STRA\x00DF" L"E.EXE", upperSharpS) ||
        !loadertest::ToAnsi(L"KICKOFF_\x00C6" L"DIT.EXE", upperLigature)) {
        GTEST_SKIP() << "the ANSI code page cannot spell the names of this test";
    }
    TempFolder folder;
    ChildProcess sharpS, ligature, circumflex;
    ASSERT_TRUE(StartCopyNamed(sharpS, folder, L"kickoff_stra\x00DF" L"e.exe"));
    ASSERT_TRUE(StartCopyNamed(ligature, folder, L"kickoff_\x00E6" L"dit.exe"));
    // No code page here has this letter; its nearest is a plain s.
    ASSERT_TRUE(StartCopyNamed(circumflex, folder, L"kickoff_\x015Dtarget.exe"));
    StartTarget();

    CProcessTool tool;
    EXPECT_EQ(tool.FindProcessId(strasse), 0u);
    EXPECT_EQ(tool.FindProcessId(aedit), 0u);
    EXPECT_EQ(tool.FindProcessId(softHyphen), 0u);
    EXPECT_EQ(tool.FindProcessId("kickoff_starget.exe"), 0u);
    EXPECT_FALSE(TerminateByName(strasse));
    EXPECT_FALSE(TerminateByName("kickoff_starget.exe"));
    EXPECT_TRUE(sharpS.Running());
    EXPECT_TRUE(circumflex.Running());

    EXPECT_EQ(tool.FindProcessId(upperSharpS), sharpS.Id());
    EXPECT_EQ(tool.FindProcessId(upperLigature), ligature.Id());
}

TEST_F(Detection, ModeZeroNeedsKeyAndProcessModeOneTheKeyAlone) {
    ScratchKey key("Detect");
    const std::string root = "HKEY_CURRENT_USER\\" + key.Path();
    const std::string missing = "HKEY_CURRENT_USER\\" + key.Path() + "\\Missing";

    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key.Path()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.Path() + "\\Missing"));

    EXPECT_FALSE(RuleDetectsApplication(Rule("0 " + root + "," + kTargetName + ",Target")));
    EXPECT_TRUE(RuleDetectsApplication(Rule("1 " + root + "," + kTargetName + ",Target")));
    StartTarget();
    EXPECT_TRUE(RuleDetectsApplication(Rule("0 " + root + "," + kTargetName + ",Target")));
    EXPECT_FALSE(RuleDetectsApplication(Rule("0 " + missing + "," + kTargetName + ",Target")));
    EXPECT_FALSE(RuleDetectsApplication(Rule("1 " + missing + "," + kTargetName + ",Target")));
}

TEST_F(Detection, TerminateByNameEndsTheFoundProcessWithItsIdAsExitCode) {
    EXPECT_FALSE(TerminateByName(kTargetName));
    StartTarget();
    EXPECT_TRUE(TerminateByName("Kickoff_Detect_Target.EXE"));
    ASSERT_TRUE(target_.WaitForExit(10000));
    EXPECT_EQ(target_.ExitCode(), target_.Id());
    EXPECT_FALSE(TerminateByName(kTargetName));
}

TEST_F(Detection, OfTwoProcessesWithOneNameOnlyOneIsEnded) {
    ChildProcess first, second;
    ASSERT_TRUE(first.Start("\"" + loadertest::BinPath(kTargetName) + "\""));
    ASSERT_TRUE(second.Start("\"" + loadertest::BinPath(kTargetName) + "\""));
    ASSERT_TRUE(TerminateByName(kTargetName));
    const HANDLE both[] = {first.Handle(), second.Handle()};
    const DWORD ended = ::WaitForMultipleObjects(2, both, FALSE, 10000);
    ASSERT_LT(ended - WAIT_OBJECT_0, 2u);
    ::Sleep(200);
    EXPECT_NE(first.Running(), second.Running());
}

// The id of a program found earlier may have passed to another program by
// the time it is ended; only a process that still runs the named program
// file is ended.
TEST_F(Detection, AnIdIsEndedOnlyWhileItsProgramFileHasTheName) {
    StartTarget();
    EXPECT_FALSE(TerminateIfStillNamed(target_.Id(), "kickoff_app_alpha.exe"));
    EXPECT_FALSE(TerminateIfStillNamed(target_.Id(), "kickoff_detect_targe.exe"));
    EXPECT_FALSE(TerminateIfStillNamed(target_.Id(), ""));
    EXPECT_FALSE(target_.WaitForExit(300));

    // The folder of the name is not part of the comparison; case is ignored.
    EXPECT_TRUE(TerminateIfStillNamed(target_.Id(), "C:\\Elsewhere\\KICKOFF_DETECT_TARGET.EXE"));
    ASSERT_TRUE(target_.WaitForExit(10000));
    EXPECT_EQ(target_.ExitCode(), target_.Id());
}
