#include "ui/main_dlg.h"

#include <commctrl.h>

#include "ui/collapse.h"
#include "ui/crash_log_text.h"

namespace {
const DlgResizeEntry kResizeMap[] = {
    {IDC_CRASH_LOG, DLSZ_SIZE_X | DLSZ_SIZE_Y},
    {IDC_INFO_GROUP, DLSZ_SIZE_X | DLSZ_SIZE_Y},
    {IDC_CRASH_HINT, DLSZ_SIZE_X},
    {IDC_LINK, DLSZ_SIZE_X},
    {IDOK, DLSZ_MOVE_X | DLSZ_MOVE_Y},
    {IDC_CASE_NUMBER, DLSZ_MOVE_Y},
};
}  // namespace

CMainDlg::CMainDlg() = default;

CMainDlg::~CMainDlg() {
  if (m_hintFont != nullptr) ::DeleteObject(m_hintFont);
}

const DlgResizeEntry* CMainDlg::GetDlgResizeMap(size_t* count) {
  *count = sizeof kResizeMap / sizeof kResizeMap[0];
  return kResizeMap;
}

void CMainDlg::SetCrashHint(const wchar_t* hintText, COLORREF hintColor, const wchar_t* linkUrl,
                            const wchar_t* linkText) {
  if (hintText != nullptr) m_hintText = hintText;
  m_hintColor = hintColor;
  if (linkUrl != nullptr) m_linkUrl = linkUrl;
  if (linkText != nullptr) m_linkText = linkText;
}

BOOL CMainDlg::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (ProcessResizeMessage(window, message, wParam, lParam, result)) return TRUE;
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return TRUE;
    case WM_KEYDOWN:
      OnKeyDown(wParam);
      result = 0;
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        OnOK();
        result = 0;
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        result = 0;
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      OnPaint();
      result = 0;
      return TRUE;
    default:
      return FALSE;
  }
}

void CMainDlg::CollapseControl(HWND control) { ::CollapseControl(m_hWnd, control); }

LRESULT CMainDlg::OnInitDialog() {
  CenterWindow();

  if (m_hintText.empty()) {
    CollapseControl(GetDlgItem(IDC_CRASH_HINT));
  } else {
    m_hintFont = ::CreateFontW(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, nullptr);
  }

  if (m_linkUrl.empty()) {
    CollapseControl(GetDlgItem(IDC_LINK));
  } else {
    m_link.SubclassWindow(GetDlgItem(IDC_LINK));
    m_link.SetHyperLink(m_linkUrl.c_str());
    m_link.SetLabel(m_linkText.c_str());
  }

  // After the collapsing, so the shortened dialog is the smallest one.
  DlgResize_Init(true, true, WS_CLIPCHILDREN);

  HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(m_hWnd, GWLP_HINSTANCE));
  auto big = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                             LR_DEFAULTCOLOR));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  auto small = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                               LR_DEFAULTCOLOR));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

  SendDlgItemMessage(IDC_SEND_REPORT, BM_SETCHECK, BST_CHECKED);
  SendDlgItemMessage(IDC_RESTART, BM_SETCHECK, BST_CHECKED);

  ShowCrashLog();

  const std::wstring caseNumber = CaseNumberText(m_deviceId);
  if (!caseNumber.empty()) ::SetDlgItemTextW(m_hWnd, IDC_CASE_NUMBER, caseNumber.c_str());

  // Before the window first shows: the dialog appears once this request
  // has finished.
  PostCrashStatistics();
  return TRUE;
}

void CMainDlg::ShowCrashLog() {
  HWND box = GetDlgItem(IDC_CRASH_LOG);
  EditLineEnds lineEnds;
  ReadCrashLogPieces(m_crashLogPath, [&](const wchar_t* piece) {
    const std::wstring text = lineEnds.Convert(piece);
    const LRESULT end = ::GetWindowTextLengthW(box);
    ::SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  });
}

void CMainDlg::OnKeyDown(WPARAM key) {
  if (key == 0x41 && (::GetKeyState(VK_CONTROL) & 0x8000) != 0) {
    SendDlgItemMessage(IDC_CRASH_LOG, EM_SETSEL, 0, -1);
    SendDlgItemMessage(IDC_CRASH_LOG, EM_SCROLLCARET);
  }
}

void CMainDlg::OnOK() {
  if (SendDlgItemMessage(IDC_SEND_REPORT, BM_GETCHECK) != 0) UploadReport();
  if (SendDlgItemMessage(IDC_RESTART, BM_GETCHECK) != 0) m_restart = 1;
  EndDialog(IDOK);
}

void CMainDlg::OnCancel() { EndDialog(IDCANCEL); }

void CMainDlg::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  if (dc != nullptr && !m_hintText.empty() && m_hintFont != nullptr) {
    RECT area;
    ::GetWindowRect(GetDlgItem(IDC_CRASH_HINT), &area);
    ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&area.left));
    ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&area.right));
    ::SetTextColor(dc, m_hintColor);
    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ previous = ::SelectObject(dc, m_hintFont);
    ::DrawTextW(dc, m_hintText.c_str(), static_cast<int>(m_hintText.size()), &area, DT_WORDBREAK);
    ::SelectObject(dc, previous);
  }
  ::EndPaint(m_hWnd, &paint);
}
