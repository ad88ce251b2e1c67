#pragma once
// The human-readable crash log: information header, fault address, call
// stacks of the crashing and the main thread, thread count, module list
// with versions, and the two closing texts. UTF-16LE with a byte-order mark,
// CR LF line ends.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "analysis/text_sink.h"

// False when the log cannot be created (after a message box the user must
// close) or the crashed process cannot be opened (the log then holds the
// header alone); true otherwise, also when writing stopped early.
bool WriteCrashLog(DWORD exceptionCode, ULONG_PTR faultAddress, DWORD processId, DWORD threadId,
                   const CONTEXT* threadContext, DWORD mainThreadId, const CONTEXT* mainThreadContext,
                   const std::wstring& path, const std::wstring& infoText, const std::wstring& closingText,
                   const std::wstring& tailText);

// Test hook for the box shown when the log cannot be created; the default
// is MessageBoxW.
using CrashLogMessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
void SetCrashLogMessageBoxFunction(CrashLogMessageBoxFunction show);

// The layout over any source of the crashed process's facts, so tests can
// feed every case.
struct CrashLogRequest {
  DWORD exceptionCode = 0;
  ULONG_PTR faultAddress = 0;
  DWORD processId = 0;
  DWORD threadId = 0;
  const CONTEXT* threadContext = nullptr;
  DWORD mainThreadId = 0;
  const CONTEXT* mainThreadContext = nullptr;
  // Views of the caller's texts: nothing is copied before the log is open.
  std::wstring_view infoText;
  std::wstring_view closingText;
  std::wstring_view tailText;
};

struct FaultLocation {
  std::wstring modulePath;
  DWORD section = 0;
  DWORD offset = 0;
};

struct ModuleLine {
  std::wstring name;
  ULONG_PTR base = 0;
  DWORD size = 0;
  DWORD fileVersionMS = 0;
  DWORD fileVersionLS = 0;
};

class CrashLogSource {
 public:
  virtual ~CrashLogSource() = default;
  virtual std::wstring InfoHeader(const std::wstring& infoText) = 0;
  // False when the process cannot be opened; a failed lookup is no failure
  // (the location then holds what was found).
  virtual bool LocateFault(DWORD processId, ULONG_PTR address, FaultLocation& location) = 0;
  virtual void WriteCallStack(const CONTEXT* context, DWORD processId, DWORD threadId, TextSink& out) = 0;
  // False when no snapshot could be taken.
  virtual bool CountThreads(DWORD processId, unsigned& count) = 0;
  // `begin` runs once the snapshot was taken, before the first module.
  virtual bool ListModules(DWORD processId, const std::function<void()>& begin,
                           const std::function<void(const ModuleLine&)>& each) = 0;
};

bool WriteCrashLogText(TextSink& out, CrashLogSource& source, const CrashLogRequest& request);

// The two lines with addresses, in the width of the edition (`digits` 8 or
// 16).
std::wstring FaultAddressLine(int digits, ULONG_PTR faultAddress, const FaultLocation& location,
                              DWORD exceptionCode);
std::wstring ModuleListLine(int digits, const ModuleLine& module);
