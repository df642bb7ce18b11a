// The script format: which lines are entries of which section, how
// [PrevAppDetect] entries come apart and how the launch command is made.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/app.h"
#include "launch_command.h"
#include "loader_test_support.h"
#include "prev_app_rule.h"
#include "run_script.h"
#include "script_reader.h"

using namespace kickoff;
using loadertest::TempFolder;

namespace {

std::vector<std::string> Section(const std::string& script, const char* header) {
    TempFolder folder;
    const std::string path = folder.File("script.qnf");
    loadertest::WriteTextFile(path, script);
    std::vector<std::string> entries;
    std::FILE* file = std::fopen(path.c_str(), "rt");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
        ReadSection(file, header, entries);
        std::fclose(file);
    }
    return entries;
}

using Entries = std::vector<std::string>;

}  // namespace

TEST(ScriptSections, HeadersMustMatchTheWholeLineExactly) {
    EXPECT_EQ(Section("[Launch] \r\nhidden.exe\r\n", "[Launch]"), Entries{});
    EXPECT_EQ(Section(" [Launch]\nhidden.exe\n", "[Launch]"), Entries{});
    EXPECT_EQ(Section("[launch]\nhidden.exe\n", "[Launch]"), Entries{});
    EXPECT_EQ(Section("[Launch]\r\nshown.exe\r\n", "[Launch]"), Entries{"shown.exe"});
}

TEST(ScriptSections, CommentsAndEmptyLinesAreSkippedBlanksAreKept) {
    const std::string script =
        "[DeleteFiles]\r\n"
        "; a comment\r\n"
        "\r\n"
        "first.tmp\r\n"
        "  indented.tmp \r\n"
        "\n"
        "last.tmp";  // no line end after the last line
    EXPECT_EQ(Section(script, "[DeleteFiles]"), (Entries{"first.tmp", "  indented.tmp ", "last.tmp"}));
}

TEST(ScriptSections, AnyBracketLineEndsTheSection) {
    const std::string script = "[DeleteFiles]\na.tmp\n[Notes]\nb.tmp\n[DeleteFiles \nc.tmp\n";
    EXPECT_EQ(Section(script, "[DeleteFiles]"), Entries{"a.tmp"});
}

TEST(ScriptSections, OnlyTheFirstOfTwoSectionsWithOneNameIsRead) {
    const std::string script = "[DeleteFiles]\na.tmp\n[Launch]\nx.exe\n[DeleteFiles]\nb.tmp\n";
    EXPECT_EQ(Section(script, "[DeleteFiles]"), Entries{"a.tmp"});
}

TEST(ScriptSections, LinesBeforeAnyHeaderAndMissingSectionsGiveNothing) {
    EXPECT_EQ(Section("loose.tmp\n[Other]\nx\n", "[DeleteFiles]"), Entries{});
    EXPECT_EQ(Section("", "[DeleteFiles]"), Entries{});
}

TEST(ScriptSections, SectionsAreFoundWhateverTheirOrderAndReadAgain) {
    TempFolder folder;
    const std::string path = folder.File("script.qnf");
    loadertest::WriteTextFile(path, "[Launch]\nl.exe\n[DeleteFiles]\nd.tmp\n");
    std::FILE* file = std::fopen(path.c_str(), "rt");
    ASSERT_NE(file, nullptr);
    Entries deleted, launched, again;
    ReadSection(file, "[DeleteFiles]", deleted);
    ReadSection(file, "[Launch]", launched);
    ReadSection(file, "[DeleteFiles]", again);
    std::fclose(file);
    EXPECT_EQ(deleted, Entries{"d.tmp"});
    EXPECT_EQ(launched, Entries{"l.exe"});
    EXPECT_EQ(again, Entries{"d.tmp"});
}

TEST(ScriptSections, OverlongLinesAreCutAndTheirRestDropped) {
    const std::string longLine(600, 'x');
    const Entries entries = Section("[DeleteFiles]\n" + longLine + "\nnext.tmp\n", "[DeleteFiles]");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], std::string(kMaxScriptLine, 'x'));
    EXPECT_EQ(entries[1], "next.tmp");
}

TEST(PrevAppRules, FieldsOfAWellFormedEntry) {
    PrevAppRule rule;
    ASSERT_TRUE(ParsePrevAppRule("0 HKEY_LOCAL_MACHINE\\Software\\Example\\Editor,EDITOR.EXE,Example Editor", rule));
    EXPECT_TRUE(rule.RequiresRunningProcess());
    EXPECT_EQ(rule.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(rule.keyPath, "Software\\Example\\Editor");
    EXPECT_EQ(rule.processFileName, "EDITOR.EXE");
    EXPECT_EQ(rule.displayName, "Example Editor");

    // Any other mode character lists on the key alone; the second character
    // is skipped whatever it is; extra fields before the names are ignored.
    ASSERT_TRUE(ParsePrevAppRule("1xHKEY_CURRENT_USER\\K,extra, ignored ,app.exe, Shown Name ", rule));
    EXPECT_FALSE(rule.RequiresRunningProcess());
    EXPECT_EQ(rule.root, HKEY_CURRENT_USER);
    EXPECT_EQ(rule.keyPath, "K");
    EXPECT_EQ(rule.processFileName, "app.exe");
    EXPECT_EQ(rule.displayName, " Shown Name ");
}

TEST(PrevAppRules, EveryRootNameAndOnlyThoseInTheirCase) {
    PrevAppRule rule;
    const struct {
        const char* name;
        HKEY key;
    } roots[] = {{"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                 {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                 {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                 {"HKEY_USERS", HKEY_USERS}};
    for (const auto& root : roots) {
        ASSERT_TRUE(ParsePrevAppRule(std::string("0 ") + root.name + "\\K,a.exe,A", rule)) << root.name;
        EXPECT_EQ(rule.root, root.key) << root.name;
    }
    EXPECT_FALSE(ParsePrevAppRule("0 hkey_current_user\\K,a.exe,A", rule));
    EXPECT_FALSE(ParsePrevAppRule("0 HKCU\\K,a.exe,A", rule));
}

TEST(PrevAppRules, EntriesThatNameNothingAreRejected) {
    PrevAppRule rule;
    EXPECT_FALSE(ParsePrevAppRule("0 HKEY_CURRENT_USER\\,a.exe,A", rule));       // empty key path
    EXPECT_FALSE(ParsePrevAppRule("0 HKEY_CURRENT_USER\\Software", rule));       // no comma at all
    EXPECT_FALSE(ParsePrevAppRule("0 HKEY_CURRENT_USER,a.exe,A", rule));         // no backslash
    EXPECT_FALSE(ParsePrevAppRule("0 HKEY_CURRENT_USER\\Software,A", rule));     // no process field
    EXPECT_FALSE(ParsePrevAppRule("0", rule));
    EXPECT_FALSE(ParsePrevAppRule("", rule));
}

TEST(LaunchCommands, PartsAreJoinedBySingleBlanksAfterTheLastCharacterGoes) {
    EXPECT_EQ(ComposeLaunchCommand("setup.exe,/s,/q "), "setup.exe /s /q");
    EXPECT_EQ(ComposeLaunchCommand("setup.exe,/s,/q"), "setup.exe /s /");
    // Further commas stay in the third part; blanks after the first comma
    // are trimmed from the end, tabs are not.
    EXPECT_EQ(ComposeLaunchCommand("a,b,c,d  x"), "a b c,d");
    EXPECT_EQ(ComposeLaunchCommand("a,b\t   x"), "a  b\t");
    // Without a second comma the middle part is empty.
    EXPECT_EQ(ComposeLaunchCommand("setup.exe,/s "), "setup.exe  /s");
}

TEST(LaunchCommands, EntriesWithoutCommasAndTinyEntriesStayWellDefined) {
    EXPECT_EQ(ComposeLaunchCommand("setup.exe "), "setup.exe  ");
    EXPECT_EQ(ComposeLaunchCommand("x"), "  ");
    EXPECT_EQ(ComposeLaunchCommand(""), "  ");
}

TEST(CommandLine, TheScriptIsTheTailAfterTheProgramNameUsedAsItIs) {
    EXPECT_EQ(CommandLineTailOf("kickoff.exe   C:\\SETUP\\setup.qnf "), "C:\\SETUP\\setup.qnf ");
    EXPECT_EQ(CommandLineTailOf("\"C:\\My Tools\\kickoff.exe\" \"quoted.qnf\""), "\"quoted.qnf\"");
    EXPECT_EQ(CommandLineTailOf("kickoff.exe"), "");
    EXPECT_EQ(CommandLineTailOf("\"unclosed"), "");
    EXPECT_EQ(ScriptPathFromCommandLine(""), "setupbld.qnf");
    EXPECT_EQ(ScriptPathFromCommandLine("\"a.qnf\" "), "\"a.qnf\" ");
}
