#pragma once
// The two exchanges with the dump upload service: its current time, then
// the signed post of the report archive; each with at most one retry over
// plain http on port 80 when an https attempt went out but got no status.
#include <windows.h>

#include <cstdint>
#include <string>

class HttpTransport;

extern const wchar_t kServerTimeResource[];
extern const char kUploadVersion[];

// A strict JSON object whose "dumptimestamp" is an integer in the signed
// 32-bit range; anything else (string, real, comment, out of range) fails
// and leaves time alone.
bool ParseServerTime(const std::string& body, int32_t& time);

// The dump post's request target, values as they are (no escaping).
std::wstring BuildDumpResource(const std::wstring& deviceId, const std::wstring& deviceType, int32_t time,
                               const std::wstring& sign);

// The local clock as the service's time stands in: low 32 bits.
int32_t LocalClockTime();

class DumpUploader {
 public:
  DumpUploader();
  explicit DumpUploader(HttpTransport& transport) : m_transport(transport) {}

  int SetIdentity(const std::wstring& deviceId, const std::wstring& deviceType, const std::wstring& cookie);
  void UploadDump(const std::wstring& host, unsigned short port, const BYTE* bytes, uint32_t length, bool https);
  bool RequestServerTime(const std::wstring& host, unsigned short port, const std::wstring& resource, bool https,
                         int32_t& time, int& status);

  std::wstring m_deviceId;    // at most 64 characters
  std::wstring m_deviceType;
  std::wstring m_cookie;      // the OVSESS cookie value

 private:
  HttpTransport& m_transport;
};
