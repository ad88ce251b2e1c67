#include "app/command_line.h"

#include <windows.h>

namespace {
bool IsBlank(wchar_t c) { return c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r' || c == L' '; }

std::wstring Trimmed(const wchar_t* begin, const wchar_t* end) {
  while (end > begin && IsBlank(end[-1])) --end;
  while (begin < end && IsBlank(*begin)) ++begin;
  return std::wstring(begin, end);
}
}  // namespace

void SplitCommandLineText(const wchar_t* text, ArgumentList& arguments) {
  arguments.clear();
  if (text == nullptr) return;
  const wchar_t* p = text;
  while (*p != L'\0') {
    while (IsBlank(*p)) ++p;
    if (*p == L'\0') break;
    if (*p == L'"') {
      const wchar_t* start = ++p;
      while (*p != L'\0' && *p != L'"') ++p;
      arguments.push_back(Trimmed(start, p));
      if (*p == L'\0') break;  // unterminated: the rest was the last argument
      ++p;
    } else {
      const wchar_t* start = p;
      while (*p != L'\0' && !IsBlank(*p)) ++p;
      arguments.emplace_back(start, p);
    }
  }
}

void SplitCommandLine(ArgumentList& arguments) { SplitCommandLineText(::GetCommandLineW(), arguments); }
