#include "ui/hyperlink.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>

#include "base/scoped_handle.h"

namespace {
const wchar_t kInstanceProperty[] = L"Faultpost.HyperLink";
const UINT kLabelFormat = DT_LEFT | DT_TOP | DT_NOPREFIX | DT_SINGLELINE;

CHyperLink::OpenFunction g_open = ::ShellExecuteW;

bool ReadNumber(const wchar_t*& p, int& value) {
  while (*p == L' ') ++p;
  if (*p < L'0' || *p > L'9') return false;
  value = 0;
  int digits = 0;
  while (*p >= L'0' && *p <= L'9') {
    value = value * 10 + (*p - L'0');
    if (++digits > 3) return false;
    ++p;
  }
  while (*p == L' ') ++p;
  return value <= 255;
}

bool ReadColorValue(HKEY key, const wchar_t* name, COLORREF* colour) {
  wchar_t text[64] = {};
  DWORD type = 0;
  DWORD size = sizeof text - sizeof(wchar_t);  // room for a terminator the value may lack
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  return ParseAnchorColor(text, colour);
}
}  // namespace

bool ParseAnchorColor(const wchar_t* text, COLORREF* colour) {
  if (text == nullptr) return false;
  const wchar_t* p = text;
  int channel[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (!ReadNumber(p, channel[i])) return false;
    if (i < 2 && *p++ != L',') return false;
  }
  if (*p != L'\0') return false;
  *colour = RGB(channel[0], channel[1], channel[2]);
  return true;
}

void CHyperLink::SetOpenFunction(OpenFunction open) { g_open = open != nullptr ? open : ::ShellExecuteW; }

CHyperLink::~CHyperLink() {
  UnsubclassWindow();
  if (m_linkFont != nullptr) ::DeleteObject(m_linkFont);
}

bool CHyperLink::SubclassWindow(HWND window) {
  if (m_hWnd != nullptr || !::IsWindow(window) || ::GetPropW(window, kInstanceProperty) != nullptr) return false;
  ::SetPropW(window, kInstanceProperty, this);
  m_previous = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CHyperLink::WindowProc)));
  m_hWnd = window;

  // Without SS_NOTIFY a static control lets mouse input fall through to
  // the dialog.
  ::SetWindowLongPtrW(window, GWL_STYLE, ::GetWindowLongPtrW(window, GWL_STYLE) | SS_NOTIFY);

  m_normalFont = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
  LOGFONTW font = {};
  if (::GetObjectW(m_normalFont != nullptr ? static_cast<HGDIOBJ>(m_normalFont) : ::GetStockObject(SYSTEM_FONT),
                   sizeof font, &font) != 0) {
    font.lfUnderline = TRUE;
    if (m_linkFont != nullptr) ::DeleteObject(m_linkFont);
    m_linkFont = ::CreateFontIndirectW(&font);
  }

  ReadColors();

  const int length = ::GetWindowTextLengthW(window);
  m_label.assign(static_cast<size_t>(length) + 1, L'\0');
  m_label.resize(static_cast<size_t>(::GetWindowTextW(window, &m_label[0], length + 1)));

  m_toolTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window, GWLP_HINSTANCE)), nullptr);
  UpdateLabelRect();
  if (m_toolTip != nullptr) {
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window;
    tool.uId = 0;
    tool.rect = m_labelRect;
    tool.lpszText = const_cast<wchar_t*>(m_target.c_str());
    ::SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  ::InvalidateRect(window, nullptr, TRUE);
  return true;
}

void CHyperLink::UnsubclassWindow() {
  if (m_hWnd == nullptr) return;
  if (m_toolTip != nullptr) ::DestroyWindow(m_toolTip);
  m_toolTip = nullptr;
  if (::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CHyperLink::WindowProc)) {
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previous));
  }
  ::RemovePropW(m_hWnd, kInstanceProperty);
  m_hWnd = nullptr;
}

void CHyperLink::ReadColors() {
  fp::ScopedRegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Settings", 0, KEY_READ,
                      key.receive()) != ERROR_SUCCESS) {
    key.release();  // not opened: nothing to close
    return;
  }
  COLORREF colour;
  if (ReadColorValue(key.get(), L"Anchor Color", &colour)) m_linkColor = colour;
  if (ReadColorValue(key.get(), L"Anchor Color Visited", &colour)) m_visitedColor = colour;
}

bool CHyperLink::SetHyperLink(const wchar_t* target) {
  m_target = target != nullptr ? target : L"";
  if (m_toolTip != nullptr) {
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = m_hWnd;
    tool.uId = 0;
    tool.lpszText = const_cast<wchar_t*>(m_target.c_str());
    ::SendMessageW(m_toolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  return true;
}

bool CHyperLink::SetLabel(const wchar_t* label) {
  m_label = label != nullptr ? label : L"";
  if (m_hWnd == nullptr) return true;
  ::SetWindowTextW(m_hWnd, m_label.c_str());
  UpdateLabelRect();
  ::InvalidateRect(m_hWnd, nullptr, TRUE);
  return true;
}

bool CHyperLink::Navigate() {
  const INT_PTR result = reinterpret_cast<INT_PTR>(g_open(nullptr, L"open", m_target.c_str(), nullptr, nullptr,
                                                          SW_SHOWNORMAL));
  if (result <= 32) return false;
  m_visited = true;
  if (m_hWnd != nullptr) ::InvalidateRect(m_hWnd, nullptr, TRUE);
  return true;
}

void CHyperLink::UpdateLabelRect() {
  if (m_hWnd == nullptr) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  RECT label = client;
  HDC dc = ::GetDC(m_hWnd);
  if (dc != nullptr) {
    HGDIOBJ previous = ::SelectObject(dc, m_linkFont != nullptr ? m_linkFont : m_normalFont);
    ::DrawTextW(dc, m_label.c_str(), static_cast<int>(m_label.size()), &label, kLabelFormat | DT_CALCRECT);
    ::SelectObject(dc, previous);
    ::ReleaseDC(m_hWnd, dc);
  }
  if (label.right > client.right) label.right = client.right;
  if (label.bottom > client.bottom) label.bottom = client.bottom;
  m_labelRect = label;
  if (m_toolTip != nullptr) {
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = m_hWnd;
    tool.uId = 0;
    tool.rect = m_labelRect;
    ::SendMessageW(m_toolTip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

bool CHyperLink::InLabel(LPARAM point) const {
  const POINT p = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
  return ::PtInRect(&m_labelRect, p) != FALSE;
}

void CHyperLink::Paint(HDC dc) {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  // The parent's static background, so the link sits on the dialog's colour.
  auto brush = reinterpret_cast<HBRUSH>(
      ::SendMessageW(::GetParent(m_hWnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(m_hWnd)));
  ::FillRect(dc, &client, brush != nullptr ? brush : ::GetSysColorBrush(COLOR_BTNFACE));

  HGDIOBJ previous = ::SelectObject(dc, m_linkFont != nullptr ? m_linkFont : m_normalFont);
  ::SetTextColor(dc, CurrentColor());
  ::SetBkMode(dc, TRANSPARENT);
  RECT text = client;
  ::DrawTextW(dc, m_label.c_str(), static_cast<int>(m_label.size()), &text, kLabelFormat);
  ::SelectObject(dc, previous);
  if (::GetFocus() == m_hWnd) ::DrawFocusRect(dc, &m_labelRect);
}

LRESULT CALLBACK CHyperLink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<CHyperLink*>(::GetPropW(window, kInstanceProperty));
  if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT CHyperLink::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = m_hWnd;
  if (m_toolTip != nullptr && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
    MSG relayed = {window, message, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {}};
    const DWORD position = ::GetMessagePos();
    relayed.pt = POINT{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ::SendMessageW(m_toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
  }
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      if (dc != nullptr) Paint(dc);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painting fills the whole control
    case WM_SETCURSOR: {
      POINT cursor;
      ::GetCursorPos(&cursor);
      ::ScreenToClient(window, &cursor);
      if (::PtInRect(&m_labelRect, cursor)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN:
      if (InLabel(lParam)) {
        ::SetFocus(window);
        ::SetCapture(window);
      }
      return 0;
    case WM_LBUTTONUP:
      if (::GetCapture() == window) {
        ::ReleaseCapture();
        if (InLabel(lParam)) Navigate();
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN || wParam == VK_SPACE) {
        Navigate();
        return 0;
      }
      break;
    case WM_GETDLGCODE: {
      LRESULT code = ::CallWindowProcW(m_previous, window, message, wParam, lParam);
      // Enter would otherwise press the dialog's default button.
      const MSG* pending = reinterpret_cast<const MSG*>(lParam);
      if (pending != nullptr && pending->message == WM_KEYDOWN && pending->wParam == VK_RETURN) {
        code |= DLGC_WANTMESSAGE;
      }
      return code;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      ::InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_SIZE: {
      const LRESULT result = ::CallWindowProcW(m_previous, window, message, wParam, lParam);
      UpdateLabelRect();
      return result;
    }
    case WM_NCDESTROY: {
      WNDPROC previous = m_previous;
      m_toolTip = nullptr;  // owned by the control, gone with it
      UnsubclassWindow();
      return ::CallWindowProcW(previous, window, message, wParam, lParam);
    }
    default:
      break;
  }
  return ::CallWindowProcW(m_previous, window, message, wParam, lParam);
}
