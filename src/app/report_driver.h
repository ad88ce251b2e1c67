#pragma once
#include <windows.h>

#include <functional>
#include <string>

// One report pass: 0 when it reached an outcome, -1 when it ended early.
// `restart` is written only when an outcome was reached.
int ReportCrash(HINSTANCE instance, UINT* restart);

// The full-dump ring of four names in the report directory: the first free
// index (4 when all exist), the name after it to delete, and the name to
// write. `exists` answers for an index.
struct FullDumpChoice {
  std::wstring path;
  std::wstring deleteFirst;
};
FullDumpChoice ChooseFullDumpPath(const std::wstring& reportDirectory,
                                  const std::function<bool(const std::wstring&)>& exists);
std::wstring ChooseFullDumpPath(const std::wstring& reportDirectory);

// "@#exception_code=0x%08x@#exception_addr=0x%08x" (16 digits for an x64
// address, which must not be cut).
std::wstring StatisticsSuffix(DWORD exceptionCode, ULONG_PTR exceptionAddress);
