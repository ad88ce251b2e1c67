// The hyperlink on a real static control in this process: what attaching
// does to the control, when the target is opened, which colour the label is
// painted in, and the colours taken from the user's browser settings.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/hyperlink.h"

namespace {

struct OpenCall {
  std::wstring verb, target;
  bool noParameters, noDirectory;
  INT show;
};
std::vector<OpenCall> g_opened;
INT_PTR g_openResult = 42;

HINSTANCE WINAPI FakeOpen(HWND, LPCWSTR verb, LPCWSTR target, LPCWSTR parameters, LPCWSTR directory, INT show) {
  g_opened.push_back({verb ? verb : L"", target ? target : L"", parameters == nullptr, directory == nullptr, show});
  return reinterpret_cast<HINSTANCE>(g_openResult);
}

const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";

class HyperLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    m_parent = ::CreateWindowExW(0, L"STATIC", L"parent", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr);
    m_static = ::CreateWindowExW(0, L"STATIC", L"original", WS_CHILD | WS_VISIBLE, 10, 10, 300, 20, m_parent,
                                 reinterpret_cast<HMENU>(1009), nullptr, nullptr);
    ::SendMessageW(m_static, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    g_opened.clear();
    g_openResult = 42;
    CHyperLink::SetOpenFunction(FakeOpen);
  }
  void TearDown() override {
    CHyperLink::SetOpenFunction(nullptr);
    ::DestroyWindow(m_parent);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Anchor Color");
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Anchor Color Visited");
  }
  void Attach(CHyperLink& link) {
    ASSERT_TRUE(link.SubclassWindow(m_static));
    link.SetHyperLink(L"http://www.nimbrel.com");
    link.SetLabel(L"download");
  }
  // Paints the control into a bitmap and counts the pixels of `colour`.
  int PixelsOf(COLORREF colour) {
    RECT client;
    ::GetClientRect(m_static, &client);
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ previous = ::SelectObject(dc, bitmap);
    ::SendMessageW(m_static, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    int count = 0;
    for (int y = 0; y < client.bottom; ++y)
      for (int x = 0; x < client.right; ++x) count += ::GetPixel(dc, x, y) == colour;
    ::SelectObject(dc, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    return count;
  }
  HWND m_parent = nullptr;
  HWND m_static = nullptr;
};

}  // namespace

TEST(ParseAnchorColor, ThreeDecimalNumbersSeparatedByCommas) {
  const struct {
    const wchar_t* text;
    bool ok;
    COLORREF colour;
  } cases[] = {
      {L"0,0,255", true, RGB(0, 0, 255)},
      {L"128,0,128", true, RGB(128, 0, 128)},
      {L" 12 , 34 ,56 ", true, RGB(12, 34, 56)},
      {L"255,255,255", true, RGB(255, 255, 255)},
      {L"256,0,0", false, 0},
      {L"1,2", false, 0},
      {L"1,2,3,4", false, 0},
      {L"1;2;3", false, 0},
      {L"a,b,c", false, 0},
      {L"-1,0,0", false, 0},
      {L"", false, 0},
      {L"0001,2,3", false, 0},
  };
  for (const auto& c : cases) {
    COLORREF colour = 0xABCDEF;
    EXPECT_EQ(ParseAnchorColor(c.text, &colour), c.ok) << c.text;
    EXPECT_EQ(colour, c.ok ? c.colour : 0xABCDEFu) << c.text;
  }
  COLORREF colour = 0;
  EXPECT_FALSE(ParseAnchorColor(nullptr, &colour));
}

TEST_F(HyperLinkTest, AttachTurnsTheStaticIntoALink) {
  CHyperLink link;
  Attach(link);
  EXPECT_NE(::GetWindowLongPtrW(m_static, GWL_STYLE) & SS_NOTIFY, 0);
  LOGFONTW font = {};
  ASSERT_TRUE(::GetObjectW(link.LinkFont(), sizeof font, &font));
  EXPECT_TRUE(font.lfUnderline);
  LOGFONTW normal = {};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof normal, &normal);
  EXPECT_EQ(font.lfHeight, normal.lfHeight);

  wchar_t text[64] = {};
  ::GetWindowTextW(m_static, text, 64);
  EXPECT_STREQ(text, L"download");
  const RECT label = link.LabelRect();
  EXPECT_GT(label.right, label.left);
  EXPECT_LT(label.right, 300) << "only the label, not the whole control";

  ASSERT_NE(link.ToolTip(), nullptr);
  wchar_t tip[128] = {};
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = m_static;
  tool.lpszText = tip;
  ::SendMessageW(link.ToolTip(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
  EXPECT_STREQ(tip, L"http://www.nimbrel.com");

  EXPECT_EQ(link.LinkColor(), RGB(0, 0, 255));
  EXPECT_EQ(link.VisitedColor(), RGB(128, 0, 128));
  EXPECT_FALSE(link.SubclassWindow(m_static)) << "a control is taken once";
}

TEST_F(HyperLinkTest, VisitedOnlyAfterTheShellOpenedTheTarget) {
  CHyperLink link;
  Attach(link);
  EXPECT_GT(PixelsOf(RGB(0, 0, 255)), 0);

  g_openResult = 31;  // SE_ERR_NOASSOC: a failure
  EXPECT_FALSE(link.Navigate());
  EXPECT_FALSE(link.IsVisited());
  EXPECT_GT(PixelsOf(RGB(0, 0, 255)), 0);
  EXPECT_EQ(PixelsOf(RGB(128, 0, 128)), 0);

  g_openResult = 33;
  EXPECT_TRUE(link.Navigate());
  EXPECT_TRUE(link.IsVisited());
  EXPECT_EQ(PixelsOf(RGB(0, 0, 255)), 0);
  EXPECT_GT(PixelsOf(RGB(128, 0, 128)), 0);

  ASSERT_EQ(g_opened.size(), 2u);
  for (const OpenCall& call : g_opened) {
    EXPECT_EQ(call.verb, L"open");
    EXPECT_EQ(call.target, L"http://www.nimbrel.com");
    EXPECT_TRUE(call.noParameters);
    EXPECT_TRUE(call.noDirectory);
    EXPECT_EQ(call.show, SW_SHOWNORMAL);
  }
}

TEST_F(HyperLinkTest, ClickOnTheLabelEnterAndSpaceOpen) {
  CHyperLink link;
  Attach(link);
  const RECT label = link.LabelRect();
  const LPARAM inside = MAKELPARAM(label.left + 2, (label.top + label.bottom) / 2);
  const LPARAM outside = MAKELPARAM(label.right + 20, (label.top + label.bottom) / 2);

  ::SendMessageW(m_static, WM_LBUTTONDOWN, MK_LBUTTON, outside);
  ::SendMessageW(m_static, WM_LBUTTONUP, 0, outside);
  EXPECT_EQ(g_opened.size(), 0u) << "beside the label nothing happens";

  ::SendMessageW(m_static, WM_LBUTTONDOWN, MK_LBUTTON, inside);
  ::SendMessageW(m_static, WM_LBUTTONUP, 0, inside);
  EXPECT_EQ(g_opened.size(), 1u);

  ::SendMessageW(m_static, WM_LBUTTONDOWN, MK_LBUTTON, inside);
  ::SendMessageW(m_static, WM_LBUTTONUP, 0, outside);
  EXPECT_EQ(g_opened.size(), 1u) << "released away from the label: no click";

  ::SendMessageW(m_static, WM_KEYDOWN, VK_SPACE, 0);
  ::SendMessageW(m_static, WM_KEYDOWN, VK_RETURN, 0);
  ::SendMessageW(m_static, WM_KEYDOWN, 'X', 0);
  EXPECT_EQ(g_opened.size(), 3u);

  MSG enter = {m_static, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_NE(::SendMessageW(m_static, WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&enter)) & DLGC_WANTMESSAGE,
            0) << "Enter goes to the link, not to the default button";
}

TEST_F(HyperLinkTest, ColoursFromTheBrowserSettingsWhenWellFormed) {
  const struct {
    const wchar_t* link;
    const wchar_t* visited;
    COLORREF expectLink, expectVisited;
  } cases[] = {
      {L"255,0,0", L" 0, 128 ,0", RGB(255, 0, 0), RGB(0, 128, 0)},
      {L"1,2", L"red", RGB(0, 0, 255), RGB(128, 0, 128)},
  };
  for (const auto& c : cases) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Anchor Color", REG_SZ, c.link,
                      static_cast<DWORD>((wcslen(c.link) + 1) * sizeof(wchar_t)));
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Anchor Color Visited", REG_SZ, c.visited,
                      static_cast<DWORD>((wcslen(c.visited) + 1) * sizeof(wchar_t)));
    CHyperLink link;
    Attach(link);
    EXPECT_EQ(link.LinkColor(), c.expectLink) << c.link;
    EXPECT_EQ(link.VisitedColor(), c.expectVisited) << c.visited;
    EXPECT_GT(PixelsOf(c.expectLink), 0);
    link.UnsubclassWindow();
  }
}

TEST_F(HyperLinkTest, RealShellFailureLeavesTheLinkUnvisited) {
  CHyperLink::SetOpenFunction(nullptr);
  CHyperLink link;
  ASSERT_TRUE(link.SubclassWindow(m_static));
  link.SetHyperLink(L"Z:\\no\\such\\directory\\nothing-here.unknown-extension");
  link.SetLabel(L"broken");
  EXPECT_FALSE(link.Navigate());
  EXPECT_FALSE(link.IsVisited());
  EXPECT_EQ(link.CurrentColor(), RGB(0, 0, 255));
}
