// The compiled resources of Faultpost.exe (linked into this test the same
// way), read back byte by byte from the module.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/paths.h"
#include "ui/resource.h"

namespace {

// A reader over an extended dialog template (DLGTEMPLATEEX and its
// DLGITEMTEMPLATEEX items), written from the documented layout.
class TemplateReader {
 public:
  TemplateReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}
  WORD Word() { return Take<WORD>(); }
  DWORD Dword() { return Take<DWORD>(); }
  short Short() { return static_cast<short>(Take<WORD>()); }
  // A text or an ordinal (0xFFFF followed by the number, returned as "#n").
  std::wstring SzOrOrdinal() {
    WORD first = Word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }
  void AlignDword() { m_offset = (m_offset + 3) & ~static_cast<size_t>(3); }
  size_t Offset() const { return m_offset; }

 private:
  template <typename T>
  T Take() {
    EXPECT_LE(m_offset + sizeof(T), m_size);
    T value;
    memcpy(&value, m_data + m_offset, sizeof(T));
    m_offset += sizeof(T);
    return value;
  }
  const BYTE* m_data;
  size_t m_size;
  size_t m_offset = 0;
};

std::pair<const BYTE*, size_t> Resource(LPCWSTR type, int id) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return {nullptr, 0};
  return {static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))), ::SizeofResource(module, found)};
}

struct ControlRow {
  int id;
  std::wstring className;  // ordinal or name, compared without case
  std::wstring text;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
};

bool SameClass(const std::wstring& found, const std::wstring& wanted) {
  static const std::pair<const wchar_t*, const wchar_t*> kOrdinals[] = {
      {L"#128", L"BUTTON"}, {L"#129", L"EDIT"}, {L"#130", L"STATIC"}};
  for (const auto& ordinal : kOrdinals) {
    if (found == ordinal.first) return wanted == ordinal.second;
  }
  return _wcsicmp(found.c_str(), wanted.c_str()) == 0;
}

}  // namespace

TEST(DialogTemplate, MatchesTheLayoutExactly) {
  auto [data, size] = Resource(RT_DIALOG, IDD_MAINDLG);
  ASSERT_NE(data, nullptr) << "dialog template 129";
  TemplateReader r(data, size);
  EXPECT_EQ(r.Word(), 1);       // dlgVer
  EXPECT_EQ(r.Word(), 0xFFFF);  // signature: extended template
  EXPECT_EQ(r.Dword(), 0u);     // help id
  EXPECT_EQ(r.Dword(), 0u);     // extended style
  EXPECT_EQ(r.Dword(), 0x00CC0040u);
  const WORD count = r.Word();
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 264);
  EXPECT_EQ(r.Short(), 277);
  EXPECT_EQ(r.SzOrOrdinal(), L"");  // no menu
  EXPECT_EQ(r.SzOrOrdinal(), L"");  // the standard dialog class
  EXPECT_EQ(r.SzOrOrdinal(), L"错误报告");
  EXPECT_EQ(r.Word(), 9);    // points
  EXPECT_EQ(r.Word(), 400);  // weight
  const WORD italicAndCharset = r.Word();
  EXPECT_EQ(LOBYTE(italicAndCharset), 0);
  EXPECT_EQ(HIBYTE(italicAndCharset), 134);
  EXPECT_EQ(r.SzOrOrdinal(), L"宋体");

  const DWORD child = WS_CHILD | WS_VISIBLE;
  const std::vector<ControlRow> expected = {
      {IDOK, L"BUTTON", L"确定", child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 207, 256, 50, 14},
      {-1, L"STATIC",
       L"Nimbrel遇到未知错误。\n对此带来的不便Orvel表示抱歉！\n请您发送错误报告，让Nimbrel更加完善。",
       child | WS_GROUP | SS_LEFTNOWORDWRAP, 0, 57, 14, 192, 27},
      {-1, L"STATIC", L"反馈QQ群：312675480", child | WS_GROUP | SS_LEFT, 0, 57, 45, 192, 10},
      {IDC_CRASH_HINT, L"STATIC", L"crash hint", WS_CHILD | WS_GROUP, 0, 15, 62, 242, 33},
      {IDC_LINK, L"STATIC", L"link", child | WS_GROUP, 0, 15, 97, 242, 11},
      {IDC_SEND_REPORT, L"BUTTON", L"发送错误报告(&S)", child | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 15, 114, 76, 10},
      {IDC_RESTART, L"BUTTON", L"重启程序(&R)", child | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 15, 128, 60, 10},
      {IDC_INFO_GROUP, L"BUTTON", L"错误信息", child | BS_GROUPBOX, WS_EX_TRANSPARENT, 12, 144, 245, 103},
      {IDC_CRASH_LOG, L"EDIT", L"",
       child | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY |
           ES_WANTRETURN,
       0, 17, 156, 234, 87},
      {-1, L"STATIC", L"#211", child | SS_ICON | SS_REALSIZEIMAGE, 0, 14, 10, 20, 20},
      {IDC_CASE_NUMBER, L"STATIC", L"", child | WS_GROUP | SS_LEFT, 0, 12, 258, 180, 10},
  };
  ASSERT_EQ(count, expected.size());
  for (const ControlRow& want : expected) {
    SCOPED_TRACE(want.id == -1 ? want.text : std::to_wstring(want.id));
    r.AlignDword();
    EXPECT_EQ(r.Dword(), 0u);  // help id
    EXPECT_EQ(r.Dword(), want.exStyle);
    EXPECT_EQ(r.Dword(), want.style);
    EXPECT_EQ(r.Short(), want.x);
    EXPECT_EQ(r.Short(), want.y);
    EXPECT_EQ(r.Short(), want.cx);
    EXPECT_EQ(r.Short(), want.cy);
    EXPECT_EQ(static_cast<int>(r.Dword()), want.id);
    const std::wstring className = r.SzOrOrdinal();
    EXPECT_TRUE(SameClass(className, want.className)) << className.c_str();
    EXPECT_EQ(r.SzOrOrdinal(), want.text);
    const WORD extra = r.Word();
    EXPECT_EQ(extra, 0);
  }
  EXPECT_EQ(r.Offset(), size) << "nothing after the last control";
}

TEST(StringResources, MessageBoxTexts) {
  const struct {
    UINT id;
    const wchar_t* text;
  } cases[] = {{IDS_APP_CAPTION, L"Faultpost"}, {IDS_CREATE_REPORT_FAILED, L"创建报告文件失败"}};
  for (const auto& c : cases) {
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), c.id, reinterpret_cast<LPWSTR>(&text), 0);
    ASSERT_GT(length, 0) << c.id;
    EXPECT_EQ(std::wstring(text, static_cast<size_t>(length)), c.text);
  }
}

TEST(IconResources, LoadAtTheSizesTheDialogAsksFor) {
  const struct {
    int id;
    int size;
  } cases[] = {{IDR_MAINFRAME, 32}, {IDR_MAINFRAME, 16}, {IDI_CRASH, 32}};
  for (const auto& c : cases) {
    HICON icon = static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.id), IMAGE_ICON, c.size, c.size, 0));
    ASSERT_NE(icon, nullptr) << c.id << " at " << c.size;
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP bitmap = {};
    ::GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, c.size);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
    ::DestroyIcon(icon);
  }
}

TEST(VersionResource, ReadByTheProgramsOwnReader) {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const ModuleVersionInfo info = ReadModuleVersionInfo(path);
  EXPECT_EQ(info.FixedInfo.dwFileVersionMS, MAKELONG(22, 7));
  EXPECT_EQ(info.FixedInfo.dwFileVersionLS, MAKELONG(8, 0));
  EXPECT_EQ(info.FixedInfo.dwProductVersionMS, MAKELONG(22, 7));
  EXPECT_EQ(info.ProductName, L"Faultpost");
}
