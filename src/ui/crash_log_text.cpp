#include "ui/crash_log_text.h"

#include <cstdio>

#include "base/scoped_handle.h"

bool ReadCrashLogPieces(const std::wstring& path, const std::function<void(const wchar_t*)>& piece) {
  fp::ScopedStdioFile file;
  if (_wfopen_s(file.receive(), path.c_str(), L"rt,ccs=UNICODE") != 0 || !file) return false;
  wchar_t buffer[kCrashLogPieceSize];
  while (std::fgetws(buffer, static_cast<int>(kCrashLogPieceSize), file.get()) != nullptr) piece(buffer);
  return true;
}

std::wstring EditLineEnds::Convert(const wchar_t* piece) {
  std::wstring text;
  for (const wchar_t* p = piece; *p != L'\0'; ++p) {
    if (*p == L'\n' && !m_afterCarriageReturn) text += L'\r';
    text += *p;
    m_afterCarriageReturn = (*p == L'\r');
  }
  return text;
}

std::wstring CaseNumberText(const std::wstring& deviceId) {
  if (deviceId.size() < 42) return std::wstring();
  return L"案例编号：" + deviceId.substr(10, 32);
}
