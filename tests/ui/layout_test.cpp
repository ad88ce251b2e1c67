// The dialog's plain rules: resize map geometry, row collapsing, the case
// number, and the crash log read in pieces and given CR LF line ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/collapse.h"
#include "ui/crash_log_text.h"
#include "ui/dialog_resize.h"

namespace {
bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
}  // namespace

TEST(ResizeControlRect, EachFlagMovesOrGrowsItsEdges) {
  const RECT start = {10, 20, 110, 70};
  const struct {
    DWORD flags;
    RECT expected;
  } cases[] = {
      {0, {10, 20, 110, 70}},
      {DLSZ_SIZE_X, {10, 20, 140, 70}},
      {DLSZ_SIZE_X | DLSZ_SIZE_Y, {10, 20, 140, 85}},
      {DLSZ_MOVE_X | DLSZ_MOVE_Y, {40, 35, 140, 85}},
      {DLSZ_MOVE_Y, {10, 35, 110, 85}},
      {DLSZ_MOVE_X | DLSZ_SIZE_X, {40, 20, 140, 70}},  // a move wins over a size on the same axis
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(ResizeControlRect(start, c.flags, 30, 15) == c.expected) << c.flags;
  }
  // back to the start size: everything where it began
  EXPECT_TRUE(ResizeControlRect(start, DLSZ_MOVE_X | DLSZ_SIZE_Y, 0, 0) == start);
}

TEST(PlanCollapse, RowsBelowMoveUpByTheHeightAndTheDialogShrinks) {
  const RECT hint = {20, 100, 380, 166};  // 66 high
  const std::vector<RECT> children = {
      {20, 40, 380, 90},     // above
      {20, 100, 380, 166},   // the collapsed control itself
      {390, 120, 420, 140},  // beside it
      {20, 166, 380, 188},   // touching its bottom edge: stays
      {20, 167, 380, 188},   // just below: moves
      {20, 400, 380, 500},
  };
  const CollapsePlan plan = PlanCollapse(hint, children, RECT{0, 0, 400, 600});
  EXPECT_EQ(plan.height, 66);
  EXPECT_EQ(plan.movesUp, (std::vector<bool>{false, false, false, false, true, true}));
  EXPECT_TRUE(plan.dialog == (RECT{0, 0, 400, 534}));
}

TEST(CaseNumberText, NeedsFortyTwoCharacters) {
  const std::wstring digits = L"0123456789";
  const std::wstring middle = L"abcdefghijklmnopqrstuvwxyzABCDEF";  // 32
  const struct {
    std::wstring deviceId;
    std::wstring expected;
  } cases[] = {
      {L"[n/a]", L""},
      {L"", L""},
      {(digits + middle).substr(0, 41), L""},
      {digits + middle, L"案例编号：" + middle},
      {digits + middle + L"X", L"案例编号：" + middle},
      {digits + middle + std::wstring(28, L'z'), L"案例编号：" + middle},
  };
  for (const auto& c : cases) EXPECT_EQ(CaseNumberText(c.deviceId), c.expected) << c.deviceId.size();
}

TEST(EditLineEnds, BareLineFeedsBecomeCarriageReturnLineFeed) {
  const struct {
    std::vector<std::wstring> pieces;
    std::wstring expected;
  } cases[] = {
      {{L"a\nb\n"}, L"a\r\nb\r\n"},
      {{L"a\r\nb"}, L"a\r\nb"},
      {{L"a\r", L"\nb"}, L"a\r\nb"},  // a break split between two pieces stays one
      {{L"a", L"\n", L"\n"}, L"a\r\n\r\n"},
      {{L"\n"}, L"\r\n"},
      {{L"x\ry"}, L"x\ry"},
  };
  for (const auto& c : cases) {
    EditLineEnds ends;
    std::wstring text;
    for (const std::wstring& piece : c.pieces) text += ends.Convert(piece.c_str());
    EXPECT_EQ(text, c.expected);
  }
}

class CrashLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t directory[MAX_PATH];
    ::GetTempPathW(MAX_PATH, directory);
    wchar_t name[MAX_PATH];
    ::GetTempFileNameW(directory, L"ui", 0, name);
    m_path = name;
  }
  void TearDown() override { ::DeleteFileW(m_path.c_str()); }
  void Write(const std::string& bytes) {
    FILE* f = _wfopen(m_path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  static std::string Utf16(const std::wstring& text) {
    return std::string("\xff\xfe", 2) + std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  }
  std::vector<std::wstring> Pieces() {
    std::vector<std::wstring> pieces;
    EXPECT_TRUE(ReadCrashLogPieces(m_path, [&](const wchar_t* piece) { pieces.push_back(piece); }));
    return pieces;
  }
  std::wstring m_path;
};

TEST_F(CrashLogFile, Utf16WithByteOrderMarkReadAsLines) {
  Write(Utf16(L"第一行\r\nsecond\r\n\r\nlast"));
  EXPECT_EQ(Pieces(), (std::vector<std::wstring>{L"第一行\n", L"second\n", L"\n", L"last"}));
}

TEST_F(CrashLogFile, LongLineArrivesInPiecesInOrder) {
  std::wstring line;
  for (int i = 0; i < 2500; ++i) line += static_cast<wchar_t>(L'A' + i % 26) + std::wstring(1, L'0' + i % 10);
  Write(Utf16(line + L"\r\nend"));  // 5000 characters, then a short line
  const std::vector<std::wstring> pieces = Pieces();
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), kCrashLogPieceSize - 1);
  EXPECT_EQ(pieces[0] + pieces[1], line + L"\n");
  EXPECT_EQ(pieces[2], L"end");
}

TEST_F(CrashLogFile, Utf8ByteOrderMarkIsHonoured) {
  Write("\xef\xbb\xbf" "caf\xc3\xa9\r\nok");
  EXPECT_EQ(Pieces(), (std::vector<std::wstring>{L"café\n", L"ok"}));
}

TEST_F(CrashLogFile, MissingFileGivesNothing) {
  ::DeleteFileW(m_path.c_str());
  int calls = 0;
  EXPECT_FALSE(ReadCrashLogPieces(m_path, [&](const wchar_t*) { ++calls; }));
  EXPECT_EQ(calls, 0);
}
