#pragma once
#include <string>

// The client's information line; braces mark the four groups: OS version,
// IM version, IP and account id.
extern const wchar_t kInfoLinePattern[];

// The IM version (second group), or "0,0,0,0" when the line does not match.
std::wstring ExtractClientVersion(const std::wstring& infoLine);
