#include "analysis/info_header.h"

#include <wchar.h>

#include <vector>

#include "base/regexp.h"
#include "delivery/device_identity.h"

const wchar_t kInfoLinePattern[] =
    L"^OS VERSION\\: {[^ ]+} +IM VERSION\\: {[^ ]+} + IP\\: {[^ ]+} +OrvelID\\: {[^ \r\n]+}[ \r\n]*$";

std::wstring ExtractClientVersion(const std::wstring& infoLine) {
  std::wstring version = L"0,0,0,0";
  fp::RegExp pattern;
  if (!pattern.Parse(kInfoLinePattern, true)) return version;
  std::vector<fp::RegExpGroup> groups;
  if (!pattern.Match(infoLine.c_str(), groups) || groups.size() != 4) return version;
  const fp::RegExpGroup& im = groups[1];
  if (im.start != nullptr && im.end != nullptr) version.assign(im.start, im.end);
  return version;
}

std::wstring BuildInfoHeader(const std::wstring& infoLine, const std::function<std::wstring()>& localIpAddress,
                             const std::function<std::wstring()>& deviceId) {
  fp::RegExp pattern;
  if (!pattern.Parse(kInfoLinePattern, true)) return infoLine;
  std::vector<fp::RegExpGroup> groups;
  if (!pattern.Match(infoLine.c_str(), groups) || groups.size() != 4) return infoLine;
  std::wstring fields[4];
  for (size_t i = 0; i < 4; ++i) {
    if (groups[i].start != nullptr && groups[i].end != nullptr) fields[i].assign(groups[i].start, groups[i].end);
  }
  std::wstring& ip = fields[2];
  if (_wcsicmp(ip.c_str(), L"[n/a]") == 0) ip = L"[" + localIpAddress() + L"]";
  const std::wstring sn = deviceId();
  return L"OS VERSION: " + fields[0] + L"    IM VERSION: " + fields[1] + L"    IP: " + ip + L"    OrvelID: " +
         fields[3] + L"    \nSN: " + sn + L"\n\n";
}

std::wstring BuildInfoHeader(const std::wstring& infoLine) {
  return BuildInfoHeader(infoLine, GetLocalIpAddress, GetDeviceId);
}
