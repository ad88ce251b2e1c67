#include "base/str_conv.h"

#include <windows.h>

namespace {
std::string Narrow(UINT codePage, const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
  return out;
}
std::wstring Widen(UINT codePage, const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}
}  // namespace

namespace StrConv {
std::string ToAnsi(const std::wstring& text) { return Narrow(CP_ACP, text); }
std::string ToUtf8(const std::wstring& text) { return Narrow(CP_UTF8, text); }
std::wstring FromAnsi(const std::string& text) { return Widen(CP_ACP, text); }
std::wstring FromUtf8(const std::string& text) { return Widen(CP_UTF8, text); }
}  // namespace StrConv
