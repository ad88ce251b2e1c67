#include "delivery/dump_uploader.h"

#include <time.h>

#include <limits>

#include <json/json.h>

#include "base/str_conv.h"
#include "delivery/http_transport.h"
#include "delivery/report_crypto.h"
#include "log/logger.h"

const wchar_t kServerTimeResource[] = L"/rest/2.0/cumulo/dumptimestamp?method=get";
const char kUploadVersion[] = "7.22.0.8";

namespace {
void Log(int type, const wchar_t* text) { tp::get_logger().write(type, text, true); }
}  // namespace

namespace {
// JSON has no '/' outside its strings, so one there starts a comment. The
// classic reader skips comments between object members even in strict
// mode; a reply with one is not the plain document the service sends.
bool HasComment(const std::string& body) {
  bool inString = false;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '/') {
      return true;
    }
  }
  return false;
}
}  // namespace

bool ParseServerTime(const std::string& body, int32_t& time) {
  if (HasComment(body)) return false;
  // The strict reader of the classic interface: no comments, an object or
  // an array at the root.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Json::Reader reader(Json::Features::strictMode());
#pragma GCC diagnostic pop
  Json::Value root;
  if (!reader.parse(body, root, true)) return false;
  if (!root.isObject()) return false;
  const Json::Value* member = root.find("dumptimestamp", "dumptimestamp" + 13);
  // Only a number without fraction or exponent is read as an integer type;
  // the range is checked here rather than left to the narrowing accessor,
  // which throws below the signed 32-bit range.
  if (member == nullptr || member->type() != Json::intValue) return false;
  const Json::LargestInt value = member->asLargestInt();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return false;
  time = static_cast<int32_t>(value);
  return true;
}

std::wstring BuildDumpResource(const std::wstring& deviceId, const std::wstring& deviceType, int32_t time,
                               const std::wstring& sign) {
  const std::wstring version = StrConv::FromAnsi(kUploadVersion);
  return tp::wformat(L"/rest/2.0/cumulo/dump?method=set&device_id=%s&device_type=%s&time=%ld&sign=%s&version=%s&",
                     deviceId.c_str(), deviceType.c_str(), static_cast<long>(time), sign.c_str(), version.c_str())
      .c_str();
}

int32_t LocalClockTime() { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(_time64(nullptr)))); }

DumpUploader::DumpUploader() : m_transport(WinInetTransport()) {}

int DumpUploader::SetIdentity(const std::wstring& deviceId, const std::wstring& deviceType,
                              const std::wstring& cookie) {
  m_deviceId = deviceId.size() >= 64 ? deviceId.substr(0, 64) : deviceId;
  m_deviceType = deviceType;
  m_cookie = cookie;
  return 0;
}

bool DumpUploader::RequestServerTime(const std::wstring& host, unsigned short port, const std::wstring& resource,
                                     bool https, int32_t& time, int& status) {
  std::string body;
  if (!m_transport.Get(host, port, resource, https, L"Cookie:OVSESS=" + m_cookie, status, body)) return false;
  return ParseServerTime(body, time);
}

void DumpUploader::UploadDump(const std::wstring& host, unsigned short port, const BYTE* bytes, uint32_t length,
                              bool https) {
  int status = 200;
  int32_t time = 0;
  if (RequestServerTime(host, port, kServerTimeResource, https, time, status)) {
    Log(2, tp::wformat(L"get server time succeed https=%d", https ? 1 : 0));
  } else if (https && status == 0) {
    if (RequestServerTime(host, 80, kServerTimeResource, false, time, status)) {
      Log(2, L"get server time success with http");
    } else {
      time = LocalClockTime();
      Log(2, tp::wformat(L"get server time failed with http http code=%d", status));
    }
  } else {
    time = LocalClockTime();
    Log(2, tp::wformat(L"get server time failed https=%d http code=%d", https ? 1 : 0, status));
  }

  const std::wstring sign = StrConv::FromAnsi(MakeRequestSign(bytes, length, time, m_cookie, m_deviceId, m_deviceType));
  const std::wstring resource = BuildDumpResource(m_deviceId, m_deviceType, time, sign);

  status = 200;
  if (m_transport.Post(host, port, resource, bytes, static_cast<int>(length), https, 1, status)) {
    Log(0, tp::wformat(L"post dump succeed https=%d", https ? 1 : 0));
    return;
  }
  Log(2, tp::wformat(L"post dump failed https=%d http code=%d", https ? 1 : 0, status));
  if (https && status == 0) {
    if (m_transport.Post(host, 80, resource, bytes, static_cast<int>(length), false, 1, status))
      Log(2, L"post dump succeed with http");
    else
      Log(2, tp::wformat(L"post dump failed with http http code=%d", status));
  }
}
