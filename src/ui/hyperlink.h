#pragma once
// A static control turned into a hyperlink: underlined label in the link
// colour (the visited colour once opened), hand cursor, a tooltip with the
// target, and the target opened by the shell on a click, Enter or space.
#include <windows.h>

#include <string>

// "r,g,b" with three decimal numbers from 0 to 255 (spaces around them
// allowed), the form of the browser's anchor colour settings.
bool ParseAnchorColor(const wchar_t* text, COLORREF* colour);

class CHyperLink {
 public:
  static constexpr COLORREF kDefaultLinkColor = RGB(0, 0, 255);
  static constexpr COLORREF kDefaultVisitedColor = RGB(128, 0, 128);

  // Opens a target; ShellExecuteW unless tests replace it.
  using OpenFunction = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
  static void SetOpenFunction(OpenFunction open);

  CHyperLink() = default;
  ~CHyperLink();
  CHyperLink(const CHyperLink&) = delete;
  CHyperLink& operator=(const CHyperLink&) = delete;

  // Takes over a static control; false when it is not a window or is taken.
  bool SubclassWindow(HWND window);
  void UnsubclassWindow();
  bool SetHyperLink(const wchar_t* target);
  bool SetLabel(const wchar_t* label);
  // Opens the target; true (and visited) when the shell reported success.
  bool Navigate();

  HWND m_hWnd = nullptr;

  const std::wstring& HyperLink() const { return m_target; }
  const std::wstring& Label() const { return m_label; }
  bool IsVisited() const { return m_visited; }
  COLORREF LinkColor() const { return m_linkColor; }
  COLORREF VisitedColor() const { return m_visitedColor; }
  COLORREF CurrentColor() const { return m_visited ? m_visitedColor : m_linkColor; }
  HFONT LinkFont() const { return m_linkFont; }
  HWND ToolTip() const { return m_toolTip; }
  // The label's rectangle in the control's client coordinates: where the
  // hand cursor shows and a click counts.
  RECT LabelRect() const { return m_labelRect; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ReadColors();
  void UpdateLabelRect();
  void Paint(HDC dc);
  bool InLabel(LPARAM point) const;

  WNDPROC m_previous = nullptr;
  std::wstring m_target;
  std::wstring m_label;
  HFONT m_normalFont = nullptr;  // the control's own font, not owned
  HFONT m_linkFont = nullptr;    // owned
  HWND m_toolTip = nullptr;      // owned
  COLORREF m_linkColor = kDefaultLinkColor;
  COLORREF m_visitedColor = kDefaultVisitedColor;
  bool m_visited = false;
  RECT m_labelRect = {0, 0, 0, 0};
};
