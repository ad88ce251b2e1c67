#pragma once
#include <functional>
#include <string>

// The client's information line; braces mark the four groups: OS version,
// IM version, IP and account id.
extern const wchar_t kInfoLinePattern[];

// The IM version (second group), or "0,0,0,0" when the line does not match.
std::wstring ExtractClientVersion(const std::wstring& infoLine);

// The opening block of the crash log: a line that follows the pattern is
// rebuilt in a fixed layout with the device identifier under it ("[n/a]" as
// the IP becomes the bracketed local address); any other text is kept as it
// came.
std::wstring BuildInfoHeader(const std::wstring& infoLine);
// The same over any source of the two machine values.
std::wstring BuildInfoHeader(const std::wstring& infoLine, const std::function<std::wstring()>& localIpAddress,
                             const std::function<std::wstring()>& deviceId);
