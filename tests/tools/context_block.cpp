// Plays a crashed client whose hand-over is wrong in one chosen way: the
// registers point anywhere, the process or a thread is gone, or no
// exception pointers are given. It is the "crashed" process itself (alive
// while Faultpost reads it), with a parked worker thread whose stack is the
// "other thread's stack".
//   context_block.exe --name=N [--sp=WHERE] [--fp=WHERE] [--pid=self|exited]
//                     [--tid=self|worker|exited|bogus] [--main=self|worker|exited|bogus]
//                     [--pointers=self|zero] [--code=HEX] --app=FAULTPOST -- COMMAND LINE...
// WHERE: keep (as captured), stack (the captured stack pointer), zero,
// kernel, noaccess (a PAGE_NOACCESS page), free (an unallocated address),
// worker (the worker's stack), heap.
// Prints "exit code N" and exits with Faultpost's exit code.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "intake/exception_context.h"

namespace {

volatile LONG g_workerReady = 0;
ULONG_PTR g_workerStack = 0;

DWORD WINAPI Worker(LPVOID) {
  volatile ULONG_PTR local = 0;
  g_workerStack = reinterpret_cast<ULONG_PTR>(&local);
  ::InterlockedExchange(&g_workerReady, 1);
  ::Sleep(INFINITE);
  return static_cast<DWORD>(local);
}

DWORD WINAPI Nothing(LPVOID) { return 0; }

ULONG_PTR Where(const std::wstring& where, ULONG_PTR captured, ULONG_PTR stack) {
  if (where == L"zero") return 0;
  if (where == L"stack") return stack;
#ifdef _WIN64
  if (where == L"kernel") return 0xFFFF800000001000ull;
  if (where == L"free") return 0x3F0000000ull;
#else
  if (where == L"kernel") return 0x80001000u;
  if (where == L"free") return 0x6F000000u;
#endif
  if (where == L"noaccess") {
    void* page = ::VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    return reinterpret_cast<ULONG_PTR>(page) + 0x800;
  }
  if (where == L"heap") return reinterpret_cast<ULONG_PTR>(::HeapAlloc(::GetProcessHeap(), 0, 4096)) + 64;
  if (where == L"worker") return g_workerStack - 0x40;
  return captured;
}

void SetRegisters(CONTEXT& context, const std::wstring& sp, const std::wstring& fp) {
#ifdef _WIN64
  const ULONG_PTR stack = context.Rsp;
  context.Rsp = Where(sp, context.Rsp, stack);
  context.Rbp = Where(fp, context.Rbp, stack);
#else
  const ULONG_PTR stack = context.Esp;
  context.Esp = static_cast<DWORD>(Where(sp, context.Esp, stack));
  context.Ebp = static_cast<DWORD>(Where(fp, context.Ebp, stack));
#endif
}

DWORD ExitedThreadId() {
  DWORD id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, Nothing, nullptr, 0, &id);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  return id;
}

}  // namespace

int wmain() {
  std::wstring line = ::GetCommandLineW();
  size_t separator = line.find(L" -- ");
  if (separator == std::wstring::npos) return 250;
  std::wstring childLine = line.substr(separator + 4);
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(line.substr(0, separator).c_str(), &argc);
  std::wstring name, app, sp = L"keep", fp = L"keep", pid = L"self", tid = L"self", main = L"self",
                           pointers = L"self";
  DWORD code = 0xC0000005;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto take = [&](const wchar_t* prefix, std::wstring& value) {
      size_t n = wcslen(prefix);
      if (a.compare(0, n, prefix) != 0) return false;
      value = a.substr(n);
      return true;
    };
    std::wstring codeText;
    if (take(L"--name=", name) || take(L"--app=", app) || take(L"--sp=", sp) || take(L"--fp=", fp) ||
        take(L"--pid=", pid) || take(L"--tid=", tid) || take(L"--main=", main) || take(L"--pointers=", pointers))
      continue;
    if (take(L"--code=", codeText)) code = static_cast<DWORD>(wcstoul(codeText.c_str(), nullptr, 16));
  }
  ::LocalFree(argv);

  DWORD workerId = 0;
  ::CloseHandle(::CreateThread(nullptr, 0, Worker, nullptr, 0, &workerId));
  while (!g_workerReady) ::Sleep(10);

  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TExceptionContext),
                                        name.c_str());
  if (mapping == nullptr) return 251;
  auto* record =
      static_cast<TExceptionContext*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(TExceptionContext)));
  if (record == nullptr) return 251;
  ::ZeroMemory(record, sizeof *record);

  static CONTEXT captured;
  captured.ContextFlags = CONTEXT_FULL;
  ::RtlCaptureContext(&captured);
  static EXCEPTION_RECORD exception;
  exception.ExceptionCode = code;
#ifdef _WIN64
  exception.ExceptionAddress = reinterpret_cast<void*>(captured.Rip);
#else
  exception.ExceptionAddress = reinterpret_cast<void*>(captured.Eip);
#endif
  record->ExceptionCode = code;
  record->ExceptionAddress = reinterpret_cast<ULONG_PTR>(exception.ExceptionAddress);
  record->ThreadContext = captured;
  SetRegisters(record->ThreadContext, sp, fp);
  record->MainThreadContext = record->ThreadContext;
  record->ExceptionRecord = exception;
  static EXCEPTION_POINTERS own = {&exception, &record->ThreadContext};
  record->ExceptionPointers = pointers == L"zero" ? 0 : reinterpret_cast<ULONG_PTR>(&own);

  auto threadOf = [&](const std::wstring& which) -> DWORD {
    if (which == L"worker") return workerId;
    if (which == L"exited") return ExitedThreadId();
    if (which == L"bogus") return 0xFFFFFFF0u;
    return ::GetCurrentThreadId();
  };
  record->ThreadId = threadOf(tid);
  record->MainThreadId = threadOf(main);
  record->ProcessId = ::GetCurrentProcessId();
  if (pid == L"exited") {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION gone = {};
    std::wstring gonLine = L"\"" + std::wstring(self) + L"\"";  // no " -- ": ends at once
    if (::CreateProcessW(self, &gonLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &gone)) {
      ::WaitForSingleObject(gone.hProcess, 30000);
      record->ProcessId = gone.dwProcessId;
      record->ThreadId = gone.dwThreadId;
      record->MainThreadId = gone.dwThreadId;
      ::CloseHandle(gone.hThread);
      ::CloseHandle(gone.hProcess);
    }
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(app.c_str(), &childLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 251;
  ::CloseHandle(process.hThread);
  if (::WaitForSingleObject(process.hProcess, 240000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 252);
    std::printf("exit code 252\n");
    return 252;
  }
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hProcess);
  ::UnmapViewOfFile(record);
  ::CloseHandle(mapping);
  std::printf("exit code %ld\n", static_cast<long>(exitCode));
  std::fflush(stdout);
  ::ExitProcess(exitCode);  // the worker sleeps forever
}
