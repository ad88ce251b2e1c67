#pragma once
// What one report pass knows about its report, and the two delivery
// operations that read it. The crash dialog is this object too (CMainDlg
// derives from it), so the data outlives the window and is there also when
// no window is ever shown.
#include <windows.h>

#include <string>

class HttpTransport;

class CReportData {
 public:
  CReportData();
  virtual ~CReportData() = default;

  // Posts the enciphered crash statistics. Also takes the upload service's
  // host and port from m_uploadUrl, which UploadReport relies on: call this
  // first. Returns 0.
  int PostCrashStatistics();
  // Packs the crash log and the minidump, asks the service for its time,
  // posts the signed archive and deletes the archive again.
  void UploadReport();

  // The statistics service URL (debugset.ini may name another) with the
  // fixed query, in the ANSI code page.
  std::string BuildStatisticsUrl();
  // Takes host and path (after the first '/' behind the host) from url, and
  // the port when the url names one. A url without a '/' behind its host
  // changes nothing.
  void SplitUrl(const wchar_t* url, std::wstring& host, std::wstring& path, int& port);

  // Where the two operations send their requests; WinINet unless replaced
  // (tests put a recording transport here).
  void UseTransport(HttpTransport& transport) { m_transport = &transport; }

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

 private:
  HttpTransport& Transport();

  HttpTransport* m_transport = nullptr;
};
