#pragma once
// The crash report dialog: tells the user that the client crashed, shows
// the crash log, and takes the send and restart choices. The object also
// carries the report data of the pass (CReportData), also when no window is
// ever shown.
#include <windows.h>

#include <string>

#include "delivery/report_data.h"
#include "ui/dialog_impl.h"
#include "ui/dialog_resize.h"
#include "ui/hyperlink.h"
#include "ui/resource.h"

class CMainDlg : public CDialogImpl<CMainDlg>, public CDialogResize<CMainDlg>, public CReportData {
 public:
  enum { IDD = IDD_MAINDLG };

  CMainDlg();
  ~CMainDlg() override;

  // Texts are stored only when not null; the colour always.
  void SetCrashHint(const wchar_t* hintText, COLORREF hintColor, const wchar_t* linkUrl, const wchar_t* linkText);

  static const DlgResizeEntry* GetDlgResizeMap(size_t* count);

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  DLGPROC GetDialogProc() override { return CDialogImpl<CMainDlg>::GetDialogProc(); }
  void OnFinalMessage(HWND) override {}

  CHyperLink m_link;
  HFONT m_hintFont = nullptr;
  std::wstring m_hintText;
  COLORREF m_hintColor = RGB(0, 0, 0);
  std::wstring m_linkUrl;
  std::wstring m_linkText;

 private:
  LRESULT OnInitDialog();
  void OnKeyDown(WPARAM key);
  void OnOK();
  void OnCancel();
  void OnPaint();
  void ShowCrashLog();
  void CollapseControl(HWND control);
};
