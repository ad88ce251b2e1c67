// Stands between the crashed sample client and Faultpost for the analysis
// benchmark. Started by the client in Faultpost's place, it measures on the
// same waiting process:
//   - the floor: one bare MiniDumpWriteDump with the exception information
//     Faultpost would pass;
//   - what registering and unregistering a module with the symbol handler
//     costs per frame, beside the symbol and line look-ups alone;
// then runs the real Faultpost (beside it) with the same arguments, waits
// for it and times it. Results go to bench-<pid>.json beside it.
#include <windows.h>
#include <dbghelp.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "intake/exception_context.h"

namespace {
double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring Directory() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path);
  return text.substr(0, text.rfind(L'\\') + 1);
}

std::string Narrow(const std::wstring& text) {
  int size = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  return out;
}
}  // namespace

int wmain() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argc < 4) return 1;
  const std::wstring block = argv[1];
  const std::wstring here = Directory();
  const std::wstring faultpost = here + L"Faultpost.exe";
  std::wstring line = L"\"" + faultpost + L"\"";
  for (int i = 1; i < argc; ++i) line += L" \"" + std::wstring(argv[i]) + L"\"";
  ::LocalFree(argv);

  HANDLE mapping = ::OpenFileMappingW(FILE_MAP_READ, FALSE, block.c_str());
  const auto* context = mapping ? static_cast<const TExceptionContext*>(
                                      ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(TExceptionContext)))
                                : nullptr;
  if (context == nullptr) return 2;

  // The floor.
  HANDLE process = ::OpenProcess(0x1F0FFF, FALSE, context->ProcessId);
  const std::wstring floorPath = here + L"floor.dmp";
  HANDLE file = ::CreateFileW(floorPath.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = context->ThreadId;
  exception.ExceptionPointers = reinterpret_cast<PEXCEPTION_POINTERS>(context->ExceptionPointers);
  exception.ClientPointers = TRUE;
  double start = Now();
  BOOL dumped = ::MiniDumpWriteDump(process, context->ProcessId, file, MiniDumpNormal, &exception, nullptr, nullptr);
  const double floorMs = Now() - start;
  ::CloseHandle(file);

  // The symbol handler, per frame: register + look up + unregister, as the
  // call-stack writer does, against the look-ups alone.
  ::SymSetOptions(SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES);
  start = Now();
  ::SymInitialize(process, nullptr, TRUE);
  const double initializeMs = Now() - start;
  HMODULE modules[1] = {};
  DWORD needed = 0;
  ::EnumProcessModules(process, modules, sizeof modules, &needed);
  wchar_t modulePath[MAX_PATH] = {};
  ::GetModuleFileNameExW(process, modules[0], modulePath, MAX_PATH);
  const std::string image = Narrow(modulePath);
  const DWORD64 pc = context->ThreadContext.Rip;
  const int kFrames = 100;
  alignas(SYMBOL_INFO) char buffer[4096];
  auto lookUp = [&] {
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
    ::ZeroMemory(buffer, sizeof buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = 2000;
    DWORD64 displacement = 0;
    ::SymFromAddr(process, pc, &displacement, symbol);
    IMAGEHLP_LINE64 lineRecord = {};
    lineRecord.SizeOfStruct = sizeof lineRecord;
    DWORD lineDisplacement = 0;
    ::SymGetLineFromAddr64(process, pc, &lineDisplacement, &lineRecord);
  };
  lookUp();  // the invaded module's symbols are read once here
  start = Now();
  for (int i = 0; i < kFrames; ++i) lookUp();
  const double lookUpMs = (Now() - start) / kFrames;
  int registered = 0, fallbacks = 0;
  start = Now();
  for (int i = 0; i < kFrames; ++i) {
    DWORD64 base = ::SymLoadModule64(process, nullptr, image.c_str(), nullptr, 0, 0);
    HMODULE local = nullptr;
    if (base == 0) {
      ++fallbacks;
      local = ::LoadLibraryExW(modulePath, nullptr, DONT_RESOLVE_DLL_REFERENCES);
      base = ::SymLoadModule64(process, nullptr, image.c_str(), nullptr, reinterpret_cast<DWORD64>(modules[0]), 0);
    }
    lookUp();
    if (local) ::FreeLibrary(local);
    if (base) {
      ++registered;
      ::SymUnloadModule64(process, base);
    }
  }
  const double registeredMs = (Now() - start) / kFrames;
  ::SymCleanup(process);
  ::CloseHandle(process);
  ::UnmapViewOfFile(context);
  ::CloseHandle(mapping);

  // The real report pass.
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  start = Now();
  if (!::CreateProcessW(faultpost.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
    return 3;
  ::WaitForSingleObject(child.hProcess, INFINITE);
  const double faultpostMs = Now() - start;
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);

  char json[1024];
  std::snprintf(json, sizeof json,
                "{\"floor_ms\": %.1f, \"floor_ok\": %d, \"sym_initialize_ms\": %.1f, \"lookup_ms_per_frame\": %.3f, "
                "\"register_lookup_unregister_ms_per_frame\": %.3f, \"registered\": %d, \"fallbacks\": %d, "
                "\"faultpost_ms\": %.1f}\n",
                floorMs, dumped ? 1 : 0, initializeMs, lookUpMs, registeredMs, registered, fallbacks, faultpostMs);
  const std::wstring out = here + L"bench-" + std::to_wstring(::GetCurrentProcessId()) + L".json";
  FILE* stream = _wfopen(out.c_str(), L"wb");
  if (stream) {
    std::fputs(json, stream);
    std::fclose(stream);
  }
  return 0;
}
