// The crash dialog run modally in this process, with the delivery requests
// going to a recording transport: what the window holds once it is up, and
// what OK and Cancel do with the two boxes.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "delivery/fake_transport.h"
#include "ui/app_module.h"
#include "ui/main_dlg.h"

namespace {

CMainDlg* g_dialog = nullptr;
std::function<void(HWND)> g_whenShown;

// Notes whether the dialog window was visible when each request went out.
class WatchingTransport : public FakeTransport {
 public:
  std::vector<bool> visibleAtPost;
  std::vector<bool> windowAtPost;
  bool Post(const std::wstring& host, int port, const std::wstring& path, const void* data, int length, bool https,
            int partSelector, int& status) override {
    windowAtPost.push_back(g_dialog != nullptr && ::IsWindow(g_dialog->m_hWnd));
    visibleAtPost.push_back(g_dialog != nullptr && ::IsWindowVisible(g_dialog->m_hWnd));
    return FakeTransport::Post(host, port, path, data, length, https, partSelector, status);
  }
};

void CALLBACK WhenShown(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  g_whenShown(g_dialog->m_hWnd);
}

std::wstring TempFile(const char* bytes, size_t size) {
  wchar_t directory[MAX_PATH], name[MAX_PATH];
  ::GetTempPathW(MAX_PATH, directory);
  ::GetTempFileNameW(directory, L"dlg", 0, name);
  FILE* f = _wfopen(name, L"wb");
  fwrite(bytes, 1, size, f);
  fclose(f);
  return name;
}

class ModalDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    g_appModule.Init(::GetModuleHandleW(nullptr));
    const char log[] = "\xff\xfe" "a\0\r\0\n\0b\0";
    m_log = TempFile(log, sizeof log - 1);
    m_dump = TempFile("MDMP", 4);
  }
  void TearDown() override {
    g_appModule.Term();
    ::DeleteFileW(m_log.c_str());
    ::DeleteFileW(m_dump.c_str());
    g_dialog = nullptr;
  }
  // Runs `dialog` modally; `act` is called once it is shown.
  INT_PTR Run(CMainDlg& dialog, std::function<void(HWND)> act) {
    dialog.m_crashLogPath = m_log;
    dialog.m_dumpFilePath = m_dump;
    dialog.m_uploadUrl = L"http://127.0.0.1:9/";
    dialog.m_deviceId = L"0123456789abcdefghijklmnopqrstuvwxyzABCDEF";
    dialog.UseTransport(m_transport);
    g_dialog = &dialog;
    g_whenShown = std::move(act);
    ::SetTimer(nullptr, 0, 300, WhenShown);
    return dialog.DoModal(nullptr);
  }
  int Uploads() const {
    int dumps = 0;
    for (const Request& r : m_transport.requests) dumps += r.post && r.partSelector == 1;
    return dumps;
  }
  WatchingTransport m_transport;
  std::wstring m_log, m_dump;
};

}  // namespace

TEST(MainDialog, ConstructionValuesAndCrashHint) {
  CMainDlg dialog;
  EXPECT_EQ(dialog.m_uploadPort, 80);
  EXPECT_TRUE(dialog.m_uploadPath.empty());
  EXPECT_EQ(dialog.m_hintFont, nullptr);
  EXPECT_TRUE(dialog.m_hintText.empty());
  EXPECT_TRUE(dialog.m_linkUrl.empty());
  EXPECT_TRUE(dialog.m_linkText.empty());
  EXPECT_EQ(dialog.m_restart, 0u);
  EXPECT_EQ(dialog.m_statHttps, 0);
  EXPECT_EQ(dialog.m_hWnd, nullptr);

  dialog.SetCrashHint(L"hint", 0x00FF0000, L"http://x/", L"label");
  EXPECT_EQ(dialog.m_hintText, L"hint");
  EXPECT_EQ(dialog.m_hintColor, 0x00FF0000u);
  EXPECT_EQ(dialog.m_linkUrl, L"http://x/");
  EXPECT_EQ(dialog.m_linkText, L"label");
  // null texts keep what was there; the colour is always taken
  dialog.SetCrashHint(nullptr, RGB(1, 2, 3), nullptr, nullptr);
  EXPECT_EQ(dialog.m_hintText, L"hint");
  EXPECT_EQ(dialog.m_hintColor, RGB(1, 2, 3));
  EXPECT_EQ(dialog.m_linkUrl, L"http://x/");
  EXPECT_EQ(dialog.m_linkText, L"label");
  dialog.SetCrashHint(L"", 0, L"", L"");
  EXPECT_TRUE(dialog.m_hintText.empty());
  EXPECT_TRUE(dialog.m_linkUrl.empty());
}

TEST_F(ModalDialog, ShownAfterTheStatisticsWithItsStartState) {
  CMainDlg dialog;
  dialog.SetCrashHint(L"", 0x00FF0000, L"", L"");
  const INT_PTR result = Run(dialog, [&](HWND window) {
    EXPECT_TRUE(::IsWindowVisible(window));
    RECT rect;
    ::GetWindowRect(window, &rect);
    MINMAXINFO limits = {};
    ::SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, rect.right - rect.left);
    EXPECT_EQ(limits.ptMinTrackSize.y, rect.bottom - rect.top) << "the collapsed size is the smallest";
    EXPECT_NE(::GetWindowLongPtrW(window, GWL_STYLE) & WS_CLIPCHILDREN, 0);
    EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_NE(::GetDlgItem(window, CDialogResizeBase::kSizeGripId), nullptr);
    EXPECT_EQ(::IsDlgButtonChecked(window, IDC_SEND_REPORT), BST_CHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(window, IDC_RESTART), BST_CHECKED);
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(window, IDC_LINK)));
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(window, IDOK));
    wchar_t text[64] = {};
    ::GetDlgItemTextW(window, IDC_CRASH_LOG, text, 64);
    EXPECT_STREQ(text, L"a\r\nb");
    ::GetDlgItemTextW(window, IDC_CASE_NUMBER, text, 64);
    EXPECT_STREQ(text, L"案例编号：abcdefghijklmnopqrstuvwxyzABCDEF");
    ::SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(result, IDCANCEL);
  ASSERT_EQ(m_transport.windowAtPost.size(), 1u) << "one statistics post, no upload";
  EXPECT_TRUE(m_transport.windowAtPost[0]);
  EXPECT_FALSE(m_transport.visibleAtPost[0]) << "posted before the window shows";
  EXPECT_EQ(dialog.m_uploadPort, 9) << "the statistics step took the upload port";
}

TEST_F(ModalDialog, AnswersByTheBoxesAndTheCommand) {
  const struct {
    const char* label;
    bool send, restart;
    int command;
    int uploads;
    UINT restartAnswer;
  } cases[] = {
      {"OK, both", true, true, IDOK, 1, 1},
      {"OK, restart only", false, true, IDOK, 0, 1},
      {"OK, send only", true, false, IDOK, 1, 0},
      {"OK, neither", false, false, IDOK, 0, 0},
      {"Cancel, both", true, true, IDCANCEL, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    m_transport.requests.clear();
    CMainDlg dialog;
    const INT_PTR result = Run(dialog, [&](HWND window) {
      ::CheckDlgButton(window, IDC_SEND_REPORT, c.send ? BST_CHECKED : BST_UNCHECKED);
      ::CheckDlgButton(window, IDC_RESTART, c.restart ? BST_CHECKED : BST_UNCHECKED);
      ::SendMessageW(window, WM_COMMAND, c.command, 0);
    });
    EXPECT_EQ(result, c.command);
    EXPECT_EQ(Uploads(), c.uploads);
    EXPECT_EQ(dialog.m_restart, c.restartAnswer);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
  }
}

TEST_F(ModalDialog, CtrlAOnTheDialogSelectsTheWholeLog) {
  CMainDlg dialog;
  Run(dialog, [&](HWND window) {
    ::SendMessageW(window, WM_KEYDOWN, 'A', 0);
    DWORD start = 0, end = 0;
    ::SendDlgItemMessageW(window, IDC_CRASH_LOG, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                          reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 4u) << "A alone leaves the selection";
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    ::SendMessageW(window, WM_KEYDOWN, 'A', 0);
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
    ::SendDlgItemMessageW(window, IDC_CRASH_LOG, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                          reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 4u);
    ::SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
  });
}
