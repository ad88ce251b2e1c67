#include <gtest/gtest.h>
#include <windows.h>

#include "analysis/info_header.h"
#include "base/regexp.h"
#include "base/scoped_handle.h"
#include "base/str_conv.h"

namespace {

TEST(RegExp, SupportedSyntax) {
  struct Case {
    const wchar_t* pattern;
    const wchar_t* text;
    bool matches;
    std::vector<std::wstring> groups;
  } cases[] = {
      {L"^a+$", L"aaa", true, {}},
      {L"^a+$", L"aab", false, {}},
      {L"b", L"aab", true, {}},
      {L"^{[^ ]+} +{x}$", L"abc  x", true, {L"abc", L"x"}},
      {L"^{a*}{a}$", L"aaa", true, {L"aa", L"a"}},
      {L"^a\\:b$", L"a:b", true, {}},
      {L"^[a-c]+$", L"abcab", true, {}},
      {L"^[^\\r\\n]+$", L"ab\r", false, {}},
      {L"^x?y$", L"y", true, {}},
      {L"^.+$", L"anything", true, {}},
  };
  for (const Case& c : cases) {
    fp::RegExp re;
    ASSERT_TRUE(re.Parse(c.pattern)) << c.pattern;
    std::vector<fp::RegExpGroup> groups;
    EXPECT_EQ(re.Match(c.text, groups), c.matches) << c.pattern << L" / " << c.text;
    if (!c.matches) continue;
    ASSERT_EQ(groups.size(), c.groups.size());
    for (size_t i = 0; i < groups.size(); ++i) EXPECT_EQ(std::wstring(groups[i].start, groups[i].end), c.groups[i]);
  }
  fp::RegExp re;
  EXPECT_FALSE(re.Parse(L"{a"));
  EXPECT_FALSE(re.Parse(L"+a"));
  EXPECT_FALSE(re.Parse(L"[ab"));
  EXPECT_FALSE(re.Parse(L"{a}+")) << "groups cannot be quantified";
  ASSERT_TRUE(re.Parse(L"^ABC$", false));
  std::vector<fp::RegExpGroup> groups;
  EXPECT_TRUE(re.Match(L"abc", groups)) << "case-insensitive when asked";
}

TEST(ClientVersion, TakenFromTheInformationLine) {
  struct Case {
    const wchar_t* label;
    const wchar_t* line;
    const wchar_t* version;
  } cases[] = {
      {L"two spaces everywhere", L"OS VERSION: W10  IM VERSION: 7.22.0.8  IP: [n/a]  OrvelID: 42", L"7.22.0.8"},
      {L"single space before IM, trailing CR LF",
       L"OS VERSION: W10 IM VERSION: 7,22,0,9  IP: 1.2.3.4  OrvelID: 42 \r\n", L"7,22,0,9"},
      {L"one space before IP is not enough", L"OS VERSION: W10  IM VERSION: 7.22.0.8 IP: x  OrvelID: 42", L"0,0,0,0"},
      {L"field names in lower case", L"os version: W10  im version: 7.22.0.8  ip: x  orvelid: 42", L"0,0,0,0"},
      {L"account id with a space", L"OS VERSION: W10  IM VERSION: 7.22.0.8  IP: x  OrvelID: 4 2", L"0,0,0,0"},
      {L"text before the line", L"xOS VERSION: W10  IM VERSION: 7.22.0.8  IP: x  OrvelID: 42", L"0,0,0,0"},
      {L"empty", L"", L"0,0,0,0"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractClientVersion(c.line), c.version) << c.label;
  std::wstring huge(1023, L'x');
  EXPECT_EQ(ExtractClientVersion(L"OS VERSION: " + huge), L"0,0,0,0") << "a long line ends, unmatched";
}

TEST(StrConv, WholeTextConverted) {
  std::wstring text = L"\u5b8b\u4f53 caf\u00e9 " + std::wstring(5000, L'z');
  EXPECT_EQ(StrConv::FromUtf8(StrConv::ToUtf8(text)), text);
  EXPECT_EQ(StrConv::ToUtf8(L"\u00e9"), "\xc3\xa9");
  EXPECT_EQ(StrConv::ToAnsi(L"plain"), "plain");
  EXPECT_EQ(StrConv::ToAnsi(L""), "");
}

TEST(ScopedResource, ReleasesOnceAndMoves) {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD flags = 0;
  {
    fp::ScopedHandle owner(event);
    ASSERT_TRUE(::GetHandleInformation(event, &flags));
    fp::ScopedHandle moved(std::move(owner));
    EXPECT_FALSE(owner.valid());
    EXPECT_TRUE(moved.valid());
  }
  EXPECT_FALSE(::GetHandleInformation(event, &flags)) << "closed when the owner went away";
  fp::ScopedFileHandle none;
  EXPECT_FALSE(none.valid());
  EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
  int runs = 0;
  {
    auto guard = fp::scope_exit([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
}

}  // namespace
