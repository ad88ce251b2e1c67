#include "ui/dialog_resize.h"

namespace {
RECT ChildRect(HWND dialog, HWND child) {
  RECT rect = {0, 0, 0, 0};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Place(HWND window, const RECT& rect) {
  ::SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

RECT ResizeControlRect(const RECT& initial, DWORD flags, int dx, int dy) {
  RECT rect = initial;
  if (flags & DLSZ_MOVE_X) {
    rect.left += dx;
    rect.right += dx;
  } else if (flags & DLSZ_SIZE_X) {
    rect.right += dx;
  }
  if (flags & DLSZ_MOVE_Y) {
    rect.top += dy;
    rect.bottom += dy;
  } else if (flags & DLSZ_SIZE_Y) {
    rect.bottom += dy;
  }
  return rect;
}

void CDialogResizeBase::Init(HWND dialog, const DlgResizeEntry* map, size_t count, bool addGripper,
                             bool useMinTrackSize, DWORD forceStyle) {
  if (forceStyle != 0) {
    const LONG_PTR style = ::GetWindowLongPtrW(dialog, GWL_STYLE);
    ::SetWindowLongPtrW(dialog, GWL_STYLE, style | forceStyle);
  }
  RECT client;
  ::GetClientRect(dialog, &client);
  m_initialClient = SIZE{client.right - client.left, client.bottom - client.top};

  if (addGripper && m_gripper == nullptr) {
    // A size box aligned to the bottom-right corner of the rectangle given
    // takes the system's size for it.
    m_gripper = ::CreateWindowExW(0, L"SCROLLBAR", nullptr,
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBS_SIZEBOX | SBS_SIZEGRIP |
                                      SBS_SIZEBOXBOTTOMRIGHTALIGN,
                                  client.left, client.top, client.right - client.left, client.bottom - client.top,
                                  dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSizeGripId)),
                                  reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
    if (m_gripper != nullptr) m_gripperInitial = ChildRect(dialog, m_gripper);
  }

  m_useMinTrackSize = useMinTrackSize;
  if (useMinTrackSize) {
    RECT window;
    ::GetWindowRect(dialog, &window);
    m_minTrackSize = SIZE{window.right - window.left, window.bottom - window.top};
  }

  m_items.clear();
  for (size_t i = 0; i < count; ++i) {
    HWND child = ::GetDlgItem(dialog, map[i].id);
    if (child == nullptr) continue;
    m_items.push_back(Item{child, map[i].flags, ChildRect(dialog, child)});
  }
  m_initialized = true;
}

void CDialogResizeBase::Layout(HWND dialog, int width, int height, bool maximized) {
  const int dx = width - m_initialClient.cx;
  const int dy = height - m_initialClient.cy;
  for (const Item& item : m_items) Place(item.window, ResizeControlRect(item.initial, item.flags, dx, dy));
  if (m_gripper != nullptr) {
    // A maximised window cannot be sized from its corner.
    Place(m_gripper, ResizeControlRect(m_gripperInitial, DLSZ_MOVE_X | DLSZ_MOVE_Y, dx, dy));
    ::ShowWindow(m_gripper, maximized ? SW_HIDE : SW_SHOW);
  }
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

bool CDialogResizeBase::ProcessMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (!m_initialized) return false;
  switch (message) {
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) Layout(dialog, LOWORD(lParam), HIWORD(lParam), wParam == SIZE_MAXIMIZED);
      result = 0;
      return true;
    case WM_GETMINMAXINFO:
      if (!m_useMinTrackSize) return false;
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{m_minTrackSize.cx, m_minTrackSize.cy};
      result = 0;
      return true;
    default:
      return false;
  }
}
