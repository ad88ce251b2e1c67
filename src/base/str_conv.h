#pragma once
#include <string>

// Conversions between UTF-16 and the ANSI code page or UTF-8. The narrow
// result is sized for the whole converted text (never a fixed buffer).
namespace StrConv {
std::string ToAnsi(const std::wstring& text);
std::string ToUtf8(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);
std::wstring FromUtf8(const std::string& text);
}  // namespace StrConv

namespace fp {
// Reads a fixed-size UTF-16 field up to its first NUL and never past its
// end, also when the writer left no NUL in it.
template <size_t N>
std::wstring FieldText(const wchar_t (&field)[N]) {
  size_t length = 0;
  while (length < N && field[length] != L'\0') ++length;
  return std::wstring(field, length);
}
}  // namespace fp
