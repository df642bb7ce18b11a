// CProcessTool without windows: tokenizing and parsing launch commands,
// shortcuts, starting programs and the errors it reports.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <utility>
#include <vector>

#include "loader_test_support.h"
#include "framework/app.h"
#include "launch.h"
#include "process_tool.h"
#include "ui_driver.h"

using namespace kickoff;
using loadertest::TempFolder;

namespace {

// Records errors instead of showing them.
class RecordingTool : public CProcessTool {
public:
    void ReportError(DWORD errorCode, const std::string& subject) override {
        errors.emplace_back(errorCode, subject);
    }
    std::vector<std::pair<DWORD, std::string>> errors;
};

std::vector<std::pair<TokenKind, std::string>> Tokens(const std::string& text) {
    CProcessTool tool;
    tool.StartTokens(text);
    std::vector<std::pair<TokenKind, std::string>> tokens;
    std::string token;
    for (TokenKind kind; (kind = tool.NextToken(token)) != kTokenEnd && tokens.size() < 20;) {
        tokens.emplace_back(kind, token);
    }
    return tokens;
}

struct Parsed {
    bool ok;
    std::string program, workingDir, arguments;
};

Parsed Parse(const std::string& command) {
    CProcessTool tool;
    Parsed parsed;
    parsed.ok = tool.ParseCommand(command, parsed.program, parsed.workingDir, parsed.arguments);
    return parsed;
}

bool CreateShortcut(const std::string& linkPath, const std::string& target) {
    bool created = false;
    ::CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                     reinterpret_cast<void**>(&link)))) {
        link->SetPath(target.c_str());
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t widePath[MAX_PATH];
            ::MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH);
            created = SUCCEEDED(file->Save(widePath, TRUE));
            file->Release();
        }
        link->Release();
    }
    ::CoUninitialize();
    return created;
}

// The third line of the stand-in's record for a start-up information with
// these flags and show state.
std::string StartupLine(DWORD flags, WORD show) {
    return std::to_string(flags) + " " + std::to_string(show) + "\n";
}

std::string CurrentFolder() {
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

std::string ShortPath(const std::string& path) {
    char shortPath[MAX_PATH] = {};
    ::GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
    return shortPath;
}

}  // namespace

TEST(Tokenizer, WordsQuotesSemicolonsAndCd) {
    using T = std::vector<std::pair<TokenKind, std::string>>;
    EXPECT_EQ(Tokens("  cd\tC:\\TEMP ; setup.exe /s "),
              (T{{kTokenCd, "cd"}, {kTokenWord, "C:\\TEMP"}, {kTokenSemicolon, ";"}, {kTokenWord, "setup.exe"},
                 {kTokenWord, "/s"}}));
    EXPECT_EQ(Tokens("\"C:\\Program Files\\setup.exe\" /q"),
              (T{{kTokenWord, "C:\\Program Files\\setup.exe"}, {kTokenWord, "/q"}}));
    EXPECT_EQ(Tokens("setup.exe;/s"), (T{{kTokenWord, "setup.exe"}, {kTokenSemicolon, ";"}, {kTokenWord, "/s"}}));
    EXPECT_EQ(Tokens(";;"), (T{{kTokenSemicolon, ";"}, {kTokenSemicolon, ";"}}));
    EXPECT_EQ(Tokens("CD \"cd\""), (T{{kTokenCd, "CD"}, {kTokenCd, "cd"}}));
    // An unclosed quote runs to the end of the text.
    EXPECT_EQ(Tokens("\"open ended"), (T{{kTokenWord, "open ended"}}));
    EXPECT_EQ(Tokens(" \t "), T{});
}

TEST(CommandParser, WorkingFolderProgramAndArguments) {
    Parsed parsed = Parse("cd C:\\TEMP ; setup.exe /s");
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.workingDir, "C:\\TEMP");
    EXPECT_EQ(parsed.program, "setup.exe");
    EXPECT_EQ(parsed.arguments, "/s");

    parsed = Parse("setup.exe;/s");
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.program, "setup.exe");
    EXPECT_EQ(parsed.arguments, "/s");
    EXPECT_EQ(parsed.workingDir, "");

    parsed = Parse("\"C:\\My Setup\\setup.exe\"  /a\t/b   /c");
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.program, "C:\\My Setup\\setup.exe");
    EXPECT_EQ(parsed.arguments, "/a /b /c");

    // "cd" at the very end is ignored.
    parsed = Parse("setup.exe cd");
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.arguments, "");
}

TEST(CommandParser, BrokenCommandsFail) {
    EXPECT_FALSE(Parse("cd C:\\TEMP setup.exe").ok);    // no ";" after the folder
    EXPECT_FALSE(Parse("setup.exe cd C:\\TEMP ;").ok);  // "cd" after the program
    EXPECT_FALSE(Parse("cd").ok);
    EXPECT_FALSE(Parse("cd C:\\TEMP ;").ok);            // no program
    EXPECT_FALSE(Parse("").ok);
    EXPECT_FALSE(Parse("  ;  ").ok);
}

TEST(Shortcuts, AShortcutResolvesToItsTargetAndOtherFilesDoNot) {
    TempFolder folder;
    const std::string target = loadertest::BinPath("kickoff_setup_standin.exe");
    const std::string link = folder.File("standin.lnk");
    ASSERT_TRUE(CreateShortcut(link, target));

    CProcessTool tool;
    std::string resolved;
    ASSERT_TRUE(tool.ResolveShortcut(link, resolved));
    // The short form is asked for; systems without short names give the long one.
    EXPECT_TRUE(::lstrcmpiA(resolved.c_str(), ShortPath(target).c_str()) == 0 ||
                ::lstrcmpiA(resolved.c_str(), target.c_str()) == 0)
        << resolved;

    EXPECT_FALSE(tool.ResolveShortcut(target, resolved));
    EXPECT_FALSE(tool.ResolveShortcut(folder.File("missing.lnk"), resolved));
    // A name longer than any path is simply not a shortcut.
    EXPECT_FALSE(tool.ResolveShortcut(std::string(2000, 'a') + ".lnk", resolved));
}

// A shortcut may name its target with environment variables. They are
// expanded when the result fits a path; otherwise the target stays as
// written rather than cut short.
TEST(Shortcuts, VariablesInATargetAreExpandedWhenTheResultFitsAPath) {
    TempFolder folder;
    const std::string link = folder.File("variable.lnk");
    ASSERT_TRUE(CreateShortcut(link, loadertest::BinFolder() + "\\%KICKOFF_TEST_PROGRAM%"));

    ::SetEnvironmentVariableA("KICKOFF_TEST_PROGRAM", "kickoff_setup_standin.exe");
    RecordingTool tool;
    std::string resolved;
    ASSERT_TRUE(tool.ResolveShortcut(link, resolved));
    EXPECT_EQ(resolved.find('%'), std::string::npos) << resolved;
    EXPECT_EQ(resolved.substr(resolved.find_last_of('\\') + 1), "kickoff_setup_standin.exe") << resolved;
    // The expanded target is what starts.
    HANDLE process = tool.LaunchProgram(link, "record.txt 0", folder.Path());
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(::WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    ::CloseHandle(process);
    EXPECT_TRUE(tool.errors.empty());
    EXPECT_TRUE(loadertest::FileExists(folder.File("record.txt")));

    ::SetEnvironmentVariableA("KICKOFF_TEST_PROGRAM", std::string(300, 'x').c_str());
    ASSERT_TRUE(tool.ResolveShortcut(link, resolved));
    EXPECT_NE(resolved.find("\\%KICKOFF_TEST_PROGRAM%"), std::string::npos) << resolved;
    EXPECT_LT(resolved.size(), static_cast<std::size_t>(MAX_PATH));
    ::SetEnvironmentVariableA("KICKOFF_TEST_PROGRAM", nullptr);
}

TEST(LaunchProgram, StartsAShortcutsTargetInTheWorkingFolderWithItsArguments) {
    TempFolder folder;
    const std::string link = folder.File("standin.lnk");
    ASSERT_TRUE(CreateShortcut(link, loadertest::BinPath("kickoff_setup_standin.exe")));

    RecordingTool tool;
    HANDLE process = tool.LaunchProgram(link, "record.txt 0 /s", folder.Path());
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(::WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    ::CloseHandle(process);
    EXPECT_TRUE(tool.errors.empty());

    const std::string record = loadertest::ReadTextFile(folder.File("record.txt"));
    // Nothing of the start-up information is set but its size.
    EXPECT_EQ(record, folder.Path() + "\n0 /s\n" + StartupLine(0, 0));
}

// The waiting launch starts the command line as it stands, in the caller's
// folder, asks for the program's default show state, and returns only when
// the program has ended.
TEST(LaunchAndWait, StartsTheCommandLineWithTheDefaultShowStateAndWaitsForTheEnd) {
    TempFolder folder;
    const std::string record = folder.File("record.txt");
    ASSERT_TRUE(LaunchAndWait("\"" + loadertest::BinPath("kickoff_setup_standin.exe") + "\" " + record + " 300 /q"));
    // The stand-in writes its record after its wait, just before it ends.
    ASSERT_TRUE(loadertest::FileExists(record));
    EXPECT_EQ(loadertest::ReadTextFile(record),
              CurrentFolder() + "\n300 /q\n" + StartupLine(STARTF_USESHOWWINDOW, SW_SHOWDEFAULT));
}

TEST(LaunchProgram, AMissingProgramIsReportedWithTheNameAsWritten) {
    TempFolder folder;
    RecordingTool tool;
    EXPECT_EQ(tool.LaunchProgram(folder.File("no_such_setup.exe"), "/s", ""), nullptr);
    ASSERT_EQ(tool.errors.size(), 1u);
    EXPECT_EQ(tool.errors[0].second, folder.File("no_such_setup.exe"));
    // Never "success" as the reason of a failure.
    EXPECT_NE(tool.errors[0].first, static_cast<DWORD>(ERROR_SUCCESS));

    tool.errors.clear();
    const std::string tooLong = std::string(300, 'x') + ".exe";
    EXPECT_EQ(tool.LaunchProgram(tooLong, "", ""), nullptr);
    ASSERT_EQ(tool.errors.size(), 1u);
    EXPECT_EQ(tool.errors[0].second, tooLong);
}

TEST(ErrorTexts, SystemTextsLoseTheirLineEndAndUnknownCodesSaySo) {
    const std::string text = CProcessTool::SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_EQ(CProcessTool::SystemErrorText(0x2FFFFFFF), "Unknown error.");
    // Texts with inserts must not read arguments that were never passed.
    EXPECT_FALSE(CProcessTool::SystemErrorText(ERROR_WRONG_DISK).empty());
}

TEST(ErrorBox, ShowsTheSubjectAndReasonWithAStopIconUnderTheProgramName) {
    TempFolder folder;
    const std::string program = folder.File("no_such_setup.exe");
    kstest::UiDriver ui;
    ui.OnMessageBox(kickoff::ApplicationName().c_str(), [](kstest::Window& box) { box.Press(IDOK); });
    CProcessTool tool;
    EXPECT_EQ(tool.LaunchProgram(program, "", ""), nullptr);
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, program + "\r\n" + CProcessTool::SystemErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(ui.Seen()[0].buttons, std::vector<int>{IDOK});
}
