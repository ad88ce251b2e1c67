#pragma once
// What one report pass knows about its report, and the two delivery
// operations that read it. The crash dialog is this object too (CMainDlg
// derives from it), so the data outlives the window and is there also when
// no window is ever shown.
#include <windows.h>

#include <string>

class CReportData {
 public:
  CReportData();
  virtual ~CReportData() = default;

  std::wstring m_dumpFilePath;
  std::wstring m_crashLogPath;
  std::wstring m_uploadUrl;
  std::wstring m_uploadHost;   // the built-in service host until the statistics post sets it
  std::wstring m_uploadPath;
  int m_uploadPort = 80;
  std::wstring m_statText;
  std::wstring m_clientVersion;
  std::wstring m_deviceId;
  int m_statHttps = 0;
  UINT m_restart = 0;          // the user's answer: restart the client
};
