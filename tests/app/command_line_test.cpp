#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/run_modes.h"

namespace {

struct SplitCase {
  const wchar_t* label;
  const wchar_t* text;
  ArgumentList expected;
};

TEST(SplitCommandLine, SplitsAsTheStarterWroteIt) {
  const SplitCase cases[] = {
      {L"plain tokens", L"a b  c", {L"a", L"b", L"c"}},
      {L"every blank separates", L"a\tb\nc\vd\fe\rf g", {L"a", L"b", L"c", L"d", L"e", L"f", L"g"}},
      {L"quoted token needs no blank after it", L"\"a b\"c", {L"a b", L"c"}},
      {L"quote inside a bare token is ordinary", L"a\"b c\"", {L"a\"b", L"c\""}},
      {L"blanks just inside quotes are trimmed", L"\"  a b \t\" x", {L"a b", L"x"}},
      {L"quoted empty text is an argument", L"a \"\" b", {L"a", L"", L"b"}},
      {L"unterminated quote takes the trimmed rest", L"a \" b c  ", {L"a", L"b c"}},
      {L"backslash is no escape", L"\"C:\\dir\\\" next", {L"C:\\dir\\", L"next"}},
      {L"leading and trailing blanks", L"  \t a  \r\n", {L"a"}},
      {L"empty text", L"", {}},
      {L"only blanks", L" \t ", {}},
      {L"quote at the very end", L"a \"", {L"a", L""}},
  };
  for (const SplitCase& c : cases) {
    ArgumentList arguments = {L"left over"};
    SplitCommandLineText(c.text, arguments);
    EXPECT_EQ(arguments, c.expected) << c.label;
  }
}

TEST(RunMode, RepairNeedsTheWordAndAThirdArgument) {
  struct Case {
    ArgumentList arguments;
    RunMode mode;
  } cases[] = {
      {{L"fp", L"/repair", L"rp:"}, RunMode::Repair},
      {{L"fp", L"/REPAIR", L"rp:", L"client.exe"}, RunMode::Repair},
      {{L"fp", L"/Repair", L""}, RunMode::Repair},
      {{L"fp", L"/repair"}, RunMode::Report},
      {{L"fp", L"repair", L"rp:"}, RunMode::Report},
      {{L"fp", L"Block", L"url", L"client"}, RunMode::Report},
      {{}, RunMode::Report},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseRunMode(c.arguments), c.mode) << c.arguments.size();
}

TEST(RepairParameters, QuoteBothFieldsWithoutEscaping) {
  EXPECT_EQ(ComposeRepairParameters(L"rp:", L""), L"/repair \"rp:\" \"\"");
  EXPECT_EQ(ComposeRepairParameters(L"rp:C:\\a.dll|C:\\b c.dll", L"C:\\Nimbrel\\client.exe"),
            L"/repair \"rp:C:\\a.dll|C:\\b c.dll\" \"C:\\Nimbrel\\client.exe\"");
}

TEST(RepairParameters, RestartFieldOnlyWhenTheUserAskedForIt) {
  const ArgumentList report = {L"fp", L"Block", L"url", L"C:\\client.exe", L"1"};
  EXPECT_EQ(RestartField(report, 1), L"C:\\client.exe");
  EXPECT_EQ(RestartField(report, 0), L"");
  EXPECT_EQ(RestartField({L"fp", L"Block"}, 1), L"") << "too few arguments: nothing to restart";
}

TEST(RepairLoop, LimitsAndPauses) {
  EXPECT_EQ(RepairAttemptLimit(L""), 20);
  EXPECT_EQ(RepairAttemptLimit(L"C:\\client.exe"), 6);
  EXPECT_EQ(RepairRestartPath({L"fp", L"/repair", L"rp:"}), L"");
  EXPECT_EQ(RepairRestartPath({L"fp", L"/repair", L"rp:", L"c.exe"}), L"c.exe");

  struct Case {
    const char* label;
    int limit;
    int succeedOnAttempt;  // 0: never
    int attempts;
    int pauses;
  } cases[] = {
      {"first attempt succeeds: no pause", 6, 1, 1, 0},
      {"third attempt succeeds", 6, 3, 3, 2},
      {"never succeeds, with restart: every failure pauses, also the last", 6, 0, 6, 6},
      {"never succeeds, without restart", 20, 0, 20, 20},
  };
  for (const Case& c : cases) {
    int calls = 0, pauses = 0;
    int made = RunRepairAttempts(c.limit, [&] { return ++calls == c.succeedOnAttempt; }, [&] { ++pauses; });
    EXPECT_EQ(made, c.attempts) << c.label;
    EXPECT_EQ(calls, c.attempts) << c.label;
    EXPECT_EQ(pauses, c.pauses) << c.label;
  }
}

}  // namespace
