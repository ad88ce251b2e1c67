// Plays a faulty client: creates the named hand-over block with chosen
// contents, starts Faultpost with the given command line and waits for it.
//   block_writer.exe --name=N [--zero] [--code=HEX] [--unterminated] [--self]
//                    --app=FAULTPOST --cmd-hex=HEX
// --self fills process and thread ids with this process's own (alive while
// Faultpost reads it); --unterminated fills every text field completely,
// leaving no NUL anywhere in it.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>


#include "hex_command_line.h"
#include "intake/exception_context.h"

template <size_t N>
void Fill(wchar_t (&field)[N], wchar_t c) {
  for (size_t i = 0; i < N; ++i) field[i] = c;
}

int wmain() {
  std::wstring line = ::GetCommandLineW();
  std::wstring childLine;
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(line.c_str(), &argc);
  std::wstring name, app;
  DWORD code = 0xC0000005;
  bool zero = false, unterminated = false, self = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a.rfind(L"--name=", 0) == 0) name = a.substr(7);
    else if (a.rfind(L"--app=", 0) == 0) app = a.substr(6);
    else if (a.rfind(L"--cmd-hex=", 0) == 0) childLine = FromHex(a.substr(10));
    else if (a.rfind(L"--code=", 0) == 0) code = static_cast<DWORD>(wcstoul(a.c_str() + 7, nullptr, 16));
    else if (a == L"--zero") zero = true;
    else if (a == L"--unterminated") unterminated = true;
    else if (a == L"--self") self = true;
  }
  ::LocalFree(argv);
  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TExceptionContext),
                                        name.c_str());
  if (mapping == nullptr) return 251;
  auto* record = static_cast<TExceptionContext*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(TExceptionContext)));
  if (record == nullptr) return 251;
  ::ZeroMemory(record, sizeof *record);
  if (!zero) {
    record->ExceptionCode = code;
    record->ExceptionAddress = 0x1234;
    record->ExceptionRecord.ExceptionCode = code;
    if (self) {
      record->ProcessId = ::GetCurrentProcessId();
      record->ThreadId = ::GetCurrentThreadId();
      record->MainThreadId = ::GetCurrentThreadId();
    }
    if (unterminated) {
      Fill(record->DumpFile, L'\0');  // keep the default dump and log paths usable
      Fill(record->LogTail, L'T');
      Fill(record->InfoLine, L'I');
      Fill(record->ExtraInfo, L'E');
      Fill(record->StatisticsText, L'S');
    }
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(app.c_str(), &childLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 251;
  ::CloseHandle(process.hThread);
  if (::WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 252);
    return 252;
  }
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hProcess);
  ::UnmapViewOfFile(record);
  ::CloseHandle(mapping);
  std::printf("exit code %ld\n", static_cast<long>(exitCode));
  return static_cast<int>(exitCode);
}
