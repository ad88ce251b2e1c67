#include "delivery/report_data.h"

#include <memory>
#include <vector>

#include "app/paths.h"
#include "base/str_conv.h"
#include "delivery/dump_uploader.h"
#include "delivery/http_transport.h"
#include "delivery/report_archive.h"
#include "delivery/report_crypto.h"
#include "delivery/statistics.h"
#include "log/logger.h"

const char kBuiltinStatisticsUrl[] = "http://stat.nimbrel.com/statistics";
const char kBuiltinStatisticsHttpsUrl[] = "https://stat.nimbrel.com/statistics";

namespace {
void Log(int type, const wchar_t* text) { tp::get_logger().write(type, text, true); }

bool BeginsWithHttps(const std::wstring& url) { return url.compare(0, 6, L"https:") == 0; }

// [NetWork] log_statistics_path of debugset.ini beside the executable, or
// the built-in http URL when the key is absent, or "" when there is no
// directory to look in.
std::string ReadConfiguredStatisticsUrl() {
  wchar_t exePath[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::wstring ini(exePath, length);
  const size_t slash = ini.rfind(L'\\');
  if (slash == std::wstring::npos) return std::string();
  ini = ini.substr(0, slash + 1) + L"debugset.ini";
  const std::wstring fallback = StrConv::FromAnsi(kBuiltinStatisticsUrl);
  wchar_t value[260] = {};
  ::GetPrivateProfileStringW(L"NetWork", L"log_statistics_path", fallback.c_str(), value, 260, ini.c_str());
  return StrConv::ToAnsi(value);
}
}  // namespace

std::string ComposeStatisticsUrl(bool https, const std::string& configured, const std::string& clientVersion) {
  std::string url = https ? kBuiltinStatisticsHttpsUrl : kBuiltinStatisticsUrl;
  if (!configured.empty()) url = configured;
  return url + "?clienttype=8&devuid=&channel=00000000&version=" + clientVersion;
}

CReportData::CReportData() : m_uploadHost(L"dump.nimbrel.com"), m_deviceId(L"[n/a]") {}

HttpTransport& CReportData::Transport() { return m_transport != nullptr ? *m_transport : WinInetTransport(); }

std::string CReportData::BuildStatisticsUrl() {
  return ComposeStatisticsUrl(m_statHttps != 0, ReadConfiguredStatisticsUrl(), StrConv::ToAnsi(m_clientVersion));
}

void CReportData::SplitUrl(const wchar_t* url, std::wstring& host, std::wstring& path, int& port) {
  if (url == nullptr) return;
  const std::wstring text(url);
  const size_t scheme = text.find(L"//");
  const size_t start = scheme == std::wstring::npos ? 0 : scheme + 2;
  const size_t slash = text.find(L'/', start);
  if (slash == std::wstring::npos) return;
  const size_t colon = text.find(L':', start);
  if (colon != std::wstring::npos && colon < slash) {
    host = text.substr(start, colon - start);
    port = _wtoi(text.substr(colon + 1, slash - colon - 1).c_str());
  } else {
    host = text.substr(start, slash - start);
  }
  path = text.substr(slash + 1);
}

int CReportData::PostCrashStatistics() {
  m_uploadPort = BeginsWithHttps(m_uploadUrl) ? 443 : 80;
  SplitUrl(m_uploadUrl.c_str(), m_uploadHost, m_uploadPath, m_uploadPort);

  std::wstring host, path;
  int port = m_statHttps != 0 ? 443 : 80;
  const std::wstring url = StrConv::FromAnsi(BuildStatisticsUrl());
  SplitUrl(url.c_str(), host, path, port);

  const std::string text = StrConv::ToUtf8(m_statText);
  std::vector<BYTE> body(text.size(), 0);
  Rc4Encipher(text.data(), static_cast<int>(text.size()), body.data());

  int status = 200;
  HttpTransport& transport = Transport();
  bool ok = transport.Post(host, port, path, body.data(), static_cast<int>(body.size()), m_statHttps != 0, 0, status);
  if (m_statHttps != 0 && !ok && status == 0) {
    Log(2, L"post crash statisitc failed with https, rollback to http");
    ok = transport.Post(host, 80, path, body.data(), static_cast<int>(body.size()), false, 0, status);
    Log(2, tp::wformat(L"post crash statisitc with http success=%d http code=%d", ok ? 1 : 0, status));
  } else {
    Log(2, tp::wformat(L"post crash statisitc return https=%d success=%d http code=%d", m_statHttps, ok ? 1 : 0,
                       status));
  }
  return 0;
}

void CReportData::UploadReport() {
  const std::vector<std::wstring> members{m_crashLogPath, m_dumpFilePath};
  const std::wstring archivePath = GetReportDirectory() + L"ExceptionReport.tgz";
  try {
    // An archive that could not be written this time is not replaced by
    // whatever older file still stands under its name: nothing is posted.
    if (WriteReportArchive(archivePath, members)) {
      uint32_t length = 0;
      std::unique_ptr<BYTE[]> bytes = ReadWholeFile(archivePath, length);
      const bool https = BeginsWithHttps(m_uploadUrl);
      DumpUploader uploader(Transport());
      uploader.SetIdentity(m_deviceId, L"8", L"");
      uploader.UploadDump(m_uploadHost, static_cast<unsigned short>(m_uploadPort), bytes.get(), length, https);
    }
  } catch (...) {
    // Reading or hashing failed: this report is not sent; nothing to tell.
  }
  ::DeleteFileW(archivePath.c_str());
}
