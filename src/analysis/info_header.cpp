#include "analysis/info_header.h"

#include <vector>

#include "base/regexp.h"

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
