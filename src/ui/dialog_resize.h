#pragma once
// Keeps a dialog's controls in place as the user resizes it: each control
// of the resize map moves or grows with the change of the client size, a
// size grip sits in the bottom-right corner, and the dialog cannot be made
// smaller than it was when the resizing started.
#include <windows.h>

#include <cstddef>
#include <vector>

enum : DWORD {
  DLSZ_SIZE_X = 0x00000001,
  DLSZ_SIZE_Y = 0x00000002,
  DLSZ_MOVE_X = 0x00000004,
  DLSZ_MOVE_Y = 0x00000008,
};

struct DlgResizeEntry {
  int id;
  DWORD flags;
};

// Where a control that had `initial` (client coordinates) goes when the
// client area is dx wider and dy taller than at the start.
RECT ResizeControlRect(const RECT& initial, DWORD flags, int dx, int dy);

class CDialogResizeBase {
 public:
  // Id of the size grip window.
  static constexpr int kSizeGripId = 0x7F00;

  // The dialog is `dialog`; the map is copied. Records the client size and
  // the controls' rectangles as they are now.
  void Init(HWND dialog, const DlgResizeEntry* map, size_t count, bool addGripper, bool useMinTrackSize,
            DWORD forceStyle);
  // WM_SIZE and WM_GETMINMAXINFO; true when handled.
  bool ProcessMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  SIZE MinTrackSize() const { return m_minTrackSize; }
  HWND Gripper() const { return m_gripper; }

 private:
  struct Item {
    HWND window;
    DWORD flags;
    RECT initial;
  };
  void Layout(HWND dialog, int width, int height, bool maximized);

  std::vector<Item> m_items;
  SIZE m_initialClient = {0, 0};
  SIZE m_minTrackSize = {0, 0};
  bool m_useMinTrackSize = false;
  bool m_initialized = false;
  HWND m_gripper = nullptr;
  RECT m_gripperInitial = {0, 0, 0, 0};
};

// Mix-in for a dialog class T that has m_hWnd and a static
// GetDlgResizeMap(size_t* count).
template <class T>
class CDialogResize {
 public:
  void DlgResize_Init(bool addGripper = true, bool useMinTrackSize = true, DWORD forceStyle = WS_CLIPCHILDREN) {
    size_t count = 0;
    const DlgResizeEntry* map = T::GetDlgResizeMap(&count);
    m_resize.Init(static_cast<T*>(this)->m_hWnd, map, count, addGripper, useMinTrackSize, forceStyle);
  }
  // The resize part of the dialog's message map.
  BOOL ProcessResizeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return m_resize.ProcessMessage(window, message, wParam, lParam, result) ? TRUE : FALSE;
  }
  const CDialogResizeBase& Resizer() const { return m_resize; }

 private:
  CDialogResizeBase m_resize;
};
