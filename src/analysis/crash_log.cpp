#include "analysis/crash_log.h"

#include <tlhelp32.h>

#include <cstdio>

#include "analysis/info_header.h"
#include "analysis/remote_process.h"
#include "analysis/stack_walk.h"
#include "app/paths.h"
#include "base/scoped_handle.h"
#include "base/str_conv.h"
#include "log/logger.h"
#include "ui/resource.h"

namespace {
CrashLogMessageBoxFunction g_messageBox = ::MessageBoxW;

std::wstring ResourceString(UINT id) {
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

class Win32CrashLogSource : public CrashLogSource {
 public:
  std::wstring InfoHeader(const std::wstring& infoText) override { return BuildInfoHeader(infoText); }

  bool LocateFault(DWORD processId, ULONG_PTR address, FaultLocation& location) override {
    fp::ScopedHandle process(OpenRemoteProcess(processId));
    if (!process) return false;
    ULONG_PTR base = 0;
    GetLogicalAddress(process.get(), address, location.modulePath, location.section, location.offset, base);
    return true;
  }

  void WriteCallStack(const CONTEXT* context, DWORD processId, DWORD threadId, TextSink& out) override {
    ::WriteCallStack(context, processId, threadId, out);
  }

  bool CountThreads(DWORD processId, unsigned& count) override {
    // A thread snapshot holds the threads of every process.
    fp::ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, processId));
    if (!snapshot) return false;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
      if (entry.th32OwnerProcessID == processId) ++count;
    }
    return true;
  }

  bool ListModules(DWORD processId, const std::function<void()>& begin,
                   const std::function<void(const ModuleLine&)>& each) override {
    fp::ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!snapshot) return false;
    begin();
    MODULEENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Module32FirstW(snapshot.get(), &entry); more; more = ::Module32NextW(snapshot.get(), &entry)) {
      const ModuleVersionInfo version = ReadModuleVersionInfo(fp::FieldText(entry.szExePath));
      ModuleLine line;
      line.name = fp::FieldText(entry.szModule);
      line.base = reinterpret_cast<ULONG_PTR>(entry.hModule);
      line.size = entry.modBaseSize;
      line.fileVersionMS = version.FixedInfo.dwFileVersionMS;
      line.fileVersionLS = version.FixedInfo.dwFileVersionLS;
      each(line);
    }
    return true;
  }
};
}  // namespace

void SetCrashLogMessageBoxFunction(CrashLogMessageBoxFunction show) { g_messageBox = show ? show : ::MessageBoxW; }

std::wstring FaultAddressLine(int digits, ULONG_PTR faultAddress, const FaultLocation& location,
                              DWORD exceptionCode) {
  const wchar_t* format = digits == 16 ? L"Fault address: %016I64X  %04X:%08X %s    Exception code = 0x%08X\n"
                                       : L"Fault address: %08I64X  %04X:%08X %s    Exception code = 0x%08X\n";
  const unsigned long long address =
      digits == 16 ? static_cast<unsigned long long>(faultAddress) : static_cast<uint32_t>(faultAddress);
  return tp::wformat(format, address, location.section, location.offset, location.modulePath.c_str(),
                     static_cast<unsigned>(exceptionCode))
      .c_str();
}

std::wstring ModuleListLine(int digits, const ModuleLine& module) {
  const wchar_t* format = digits == 16
                              ? L"module name: %-16s address: %016I64X module size: %08X version: %d.%d.%d.%d\n"
                              : L"module name: %-16s address: %08I64X module size: %08X version: %d.%d.%d.%d\n";
  const unsigned long long base =
      digits == 16 ? static_cast<unsigned long long>(module.base) : static_cast<uint32_t>(module.base);
  return tp::wformat(format, module.name.c_str(), base, static_cast<unsigned>(module.size),
                     HIWORD(module.fileVersionMS), LOWORD(module.fileVersionMS), HIWORD(module.fileVersionLS),
                     LOWORD(module.fileVersionLS))
      .c_str();
}

bool WriteCrashLogText(TextSink& out, CrashLogSource& source, const CrashLogRequest& request) {
  try {
    out.Write(source.InfoHeader(std::wstring(request.infoText)));
    FaultLocation location;
    if (!source.LocateFault(request.processId, request.faultAddress, location)) return false;
    out.Write(FaultAddressLine(NativeWidth::kDigits, request.faultAddress, location, request.exceptionCode));
    source.WriteCallStack(request.threadContext, request.processId, request.threadId, out);
    if (request.threadId != request.mainThreadId) {
      out.Write(L"\nMain thread call stack:\n");
      source.WriteCallStack(request.mainThreadContext, request.processId, request.mainThreadId, out);
    }
    unsigned threads = 0;
    if (source.CountThreads(request.processId, threads)) out.Write(tp::wformat(L"All %u thread(s) exist.\n", threads));
    source.ListModules(
        request.processId, [&] { out.Write(L"\n" + std::wstring(100, L'*') + L"\n"); },
        [&](const ModuleLine& module) { out.Write(ModuleListLine(NativeWidth::kDigits, module)); });
    out.Write(L"\n");
    out.Write(std::wstring(request.closingText));
    out.Write(L"\n");
    out.Write(std::wstring(request.tailText));
  } catch (...) {
    out.Write(L"Sorry, dump failed\n");
  }
  return true;
}

bool WriteCrashLog(DWORD exceptionCode, ULONG_PTR faultAddress, DWORD processId, DWORD threadId,
                   const CONTEXT* threadContext, DWORD mainThreadId, const CONTEXT* mainThreadContext,
                   const std::wstring& path, const std::wstring& infoText, const std::wstring& closingText,
                   const std::wstring& tailText) {
  fp::ScopedStdioFile log;
  if (_wfopen_s(log.receive(), path.c_str(), L"wt,ccs=UNICODE") != 0 || !log) {
    g_messageBox(nullptr, ResourceString(IDS_CREATE_REPORT_FAILED).c_str(), ResourceString(IDS_APP_CAPTION).c_str(),
                 MB_OK | MB_ICONERROR);
    return false;
  }
  CrashLogRequest request;
  request.exceptionCode = exceptionCode;
  request.faultAddress = faultAddress;
  request.processId = processId;
  request.threadId = threadId;
  request.threadContext = threadContext;
  request.mainThreadId = mainThreadId;
  request.mainThreadContext = mainThreadContext;
  request.infoText = infoText;
  request.closingText = closingText;
  request.tailText = tailText;
  StreamTextSink out(log.get());
  Win32CrashLogSource source;
  return WriteCrashLogText(out, source, request);
}
