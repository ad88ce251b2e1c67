#include "ui/dialog_impl.h"

#include "ui/app_module.h"

namespace {
// Messages whose handler result is the dialog procedure's own return value
// rather than DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return true;
    default:
      return false;
  }
}
}  // namespace

INT_PTR CDialogImplBase::DoModalTemplate(HWND owner, UINT templateId) {
  return ::DialogBoxParamW(g_appModule.GetResourceInstance(), MAKEINTRESOURCEW(templateId), owner, GetDialogProc(),
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialogImplBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CDialogImplBase*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogImplBase*>(lParam);
    self->m_hWnd = window;
    ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  }
  // Messages before WM_INITDIALOG (WM_SETFONT and the creation messages)
  // are left to the dialog manager.
  if (self == nullptr) return FALSE;

  LRESULT result = 0;
  const BOOL handled = self->ProcessWindowMessage(window, message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    self->OnFinalMessage(window);
  }
  if (!handled) return FALSE;
  if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

BOOL CDialogImplBase::CenterWindow(HWND center) {
  if (center == nullptr) center = ::GetWindow(m_hWnd, GW_OWNER);
  RECT dialog;
  if (!::GetWindowRect(m_hWnd, &dialog)) return FALSE;

  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(center != nullptr ? center : m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT area = monitor.rcWork;

  RECT around = area;
  if (center != nullptr && ::IsWindowVisible(center) && !::IsIconic(center)) ::GetWindowRect(center, &around);

  const LONG width = dialog.right - dialog.left;
  const LONG height = dialog.bottom - dialog.top;
  LONG left = (around.left + around.right) / 2 - width / 2;
  LONG top = (around.top + around.bottom) / 2 - height / 2;
  // Keep the whole dialog on the work area.
  if (left + width > area.right) left = area.right - width;
  if (left < area.left) left = area.left;
  if (top + height > area.bottom) top = area.bottom - height;
  if (top < area.top) top = area.top;
  return ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
