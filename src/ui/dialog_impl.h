#pragma once
// Modal dialogs from a resource template: the dialog object receives its
// messages through ProcessWindowMessage (its message map), in the style of
// the ATL dialog classes.
#include <windows.h>

class CDialogImplBase {
 public:
  CDialogImplBase() = default;
  CDialogImplBase(const CDialogImplBase&) = delete;
  CDialogImplBase& operator=(const CDialogImplBase&) = delete;

  // The message map: true when the message was handled, with its result.
  virtual BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
  virtual ~CDialogImplBase() = default;
  virtual DLGPROC GetDialogProc() { return DialogProc; }
  // Called after the window is gone (WM_NCDESTROY).
  virtual void OnFinalMessage(HWND) {}

  HWND m_hWnd = nullptr;

  BOOL EndDialog(int result) { return ::EndDialog(m_hWnd, result); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
  }
  // Centres over `center`; with none, over the owner when the dialog has
  // one, else in the work area of the dialog's monitor.
  BOOL CenterWindow(HWND center = nullptr);

 protected:
  // Runs the dialog modally over template `templateId` of the application
  // module; the id of the command that ended it, or -1 when it could not be
  // created.
  INT_PTR DoModalTemplate(HWND owner, UINT templateId);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

template <class T>
class CDialogImpl : public CDialogImplBase {
 public:
  INT_PTR DoModal(HWND owner = ::GetActiveWindow()) { return DoModalTemplate(owner, T::IDD); }
};
