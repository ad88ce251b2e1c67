#include "nimbrel_handover.h"

#include <exception>

#include "intake/exception_context.h"

namespace nimbrel {

namespace {
// The filter runs on a crashed thread with no way to receive arguments, so
// the configuration is the one piece of state kept for it.
HandoverConfig* g_config = nullptr;

template <size_t N>
void CopyText(wchar_t (&field)[N], const std::wstring& text) {
  size_t length = text.size() < N - 1 ? text.size() : N - 1;
  text.copy(field, length);
  field[length] = L'\0';
}

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

void CaptureMainThread(TExceptionContext& record, const EXCEPTION_POINTERS* pointers) {
  record.MainThreadId = g_config->mainThreadId;
  if (record.MainThreadId == record.ThreadId) {
    record.MainThreadContext = *pointers->ContextRecord;
    return;
  }
  // Left suspended on purpose: its stack must not change while Faultpost
  // walks it; the process ends after the hand-over anyway.
  HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE,
                               record.MainThreadId);
  if (thread == nullptr) return;
  if (::SuspendThread(thread) != static_cast<DWORD>(-1)) {
    record.MainThreadContext.ContextFlags = CONTEXT_FULL;
    ::GetThreadContext(thread, &record.MainThreadContext);
  }
  ::CloseHandle(thread);
}

LONG WINAPI HandOver(EXCEPTION_POINTERS* pointers) {
  static volatile LONG entered = 0;
  if (::InterlockedExchange(&entered, 1) != 0) {
    // A second crash (or one inside the hand-over) waits for the first.
    ::Sleep(INFINITE);
  }
  const HandoverConfig& config = *g_config;
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  std::wstring blockName = config.blockName.empty()
                               ? L"NimbrelCrash_" + std::to_wstring(::GetCurrentProcessId())
                               : config.blockName;

  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(TExceptionContext), blockName.c_str());
  auto* record = mapping ? static_cast<TExceptionContext*>(
                               ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(TExceptionContext)))
                         : nullptr;
  if (record != nullptr) {
    ::ZeroMemory(record, sizeof *record);
    record->ExceptionPointers = reinterpret_cast<ULONG_PTR>(pointers);
    record->ExceptionCode = code;
    record->ExceptionAddress = reinterpret_cast<ULONG_PTR>(pointers->ExceptionRecord->ExceptionAddress);
    record->ProcessId = ::GetCurrentProcessId();
    record->ThreadId = ::GetCurrentThreadId();
    record->ThreadContext = *pointers->ContextRecord;
    CaptureMainThread(*record, pointers);
    CopyText(record->DumpFile, config.dumpFile);
    CopyText(record->LogFile, config.logFile);
    CopyText(record->LogTail, config.logTail);
    CopyText(record->InfoLine, config.infoLine);
    CopyText(record->ExtraInfo, config.extraInfo);
    CopyText(record->StatisticsText, config.statisticsText);
    record->ExceptionRecord = *pointers->ExceptionRecord;

    std::wstring faultpost = config.faultpostPath;
    if (faultpost.empty()) {
      faultpost = ExecutablePath();
      faultpost = faultpost.substr(0, faultpost.rfind(L'\\') + 1) + L"Faultpost.exe";
    }
    HandoverConfig resolved = config;
    resolved.faultpostPath = faultpost;
    std::wstring commandLine = BuildFaultpostCommandLine(resolved, blockName);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(faultpost.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &process)) {
      ::WaitForSingleObject(process.hProcess, config.waitMilliseconds);
      ::CloseHandle(process.hThread);
      ::CloseHandle(process.hProcess);
    }
    ::UnmapViewOfFile(record);
  }
  if (mapping) ::CloseHandle(mapping);
  // Ending here, not returning to the system, keeps a second reporter (the
  // system's debugger or error dialog) out of it.
  ::TerminateProcess(::GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void OnTerminate() {
  ::RaiseException(kUncaughtCppExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  ::TerminateProcess(::GetCurrentProcess(), kUncaughtCppExceptionCode);
  for (;;) ::Sleep(INFINITE);
}
}  // namespace

std::wstring BuildInfoLine(const std::wstring& osVersion, const std::wstring& imVersion, const std::wstring& ip,
                           const std::wstring& accountId) {
  return L"OS VERSION: " + osVersion + L"  IM VERSION: " + imVersion + L"  IP: " + ip + L"  OrvelID: " + accountId;
}

std::wstring BuildFaultpostCommandLine(const HandoverConfig& config, const std::wstring& blockName) {
  std::wstring line = Quoted(config.argument0.empty() ? config.faultpostPath : config.argument0);
  if (config.useRawArguments) {
    if (!config.rawArguments.empty()) line += L" " + config.rawArguments;
    return line;
  }
  line += L" " + Quoted(blockName) + L" " + Quoted(config.uploadUrl) + L" " +
          Quoted(config.clientPath.empty() ? ExecutablePath() : config.clientPath);
  const std::wstring* optional[] = {&config.showDialog, &config.sendReport, &config.deviceId, &config.statHttps};
  size_t last = 0;
  for (size_t i = 0; i < 4; ++i)
    if (!optional[i]->empty()) last = i + 1;
  for (size_t i = 0; i < last; ++i) line += L" " + Quoted(*optional[i]);
  return line;
}

void InstallCrashHandler(const HandoverConfig& config) {
  delete g_config;
  g_config = new HandoverConfig(config);
  if (g_config->mainThreadId == 0) g_config->mainThreadId = ::GetCurrentThreadId();
  ::SetUnhandledExceptionFilter(HandOver);
  std::set_terminate(OnTerminate);
}

}  // namespace nimbrel
