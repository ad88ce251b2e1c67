// Starts a program with an exact command line (argument 0 included, so it
// can name another program than the one started) and extra environment
// variables, waits for it, and exits with its exit code.
//   launch.exe [--env=NAME=VALUE]... [--timeout-ms=N] --app=PATH --cmd-hex=HEX(UTF-8 COMMAND LINE)
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hex_command_line.h"

int wmain() {
  std::wstring line = ::GetCommandLineW();
  std::wstring childLine;
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(line.c_str(), &argc);
  std::wstring app;
  DWORD timeout = 120000;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a.rfind(L"--cmd-hex=", 0) == 0) {
      childLine = FromHex(a.substr(10));
    } else if (a.rfind(L"--app=", 0) == 0) {
      app = a.substr(6);
    } else if (a.rfind(L"--timeout-ms=", 0) == 0) {
      timeout = static_cast<DWORD>(_wtoi(a.c_str() + 13));
    } else if (a.rfind(L"--env=", 0) == 0) {
      std::wstring pair = a.substr(6);
      size_t eq = pair.find(L'=');
      if (eq != std::wstring::npos) ::SetEnvironmentVariableW(pair.substr(0, eq).c_str(), pair.substr(eq + 1).c_str());
    }
  }
  ::LocalFree(argv);
  if (app.empty()) return 250;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(app.c_str(), &childLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fwprintf(stderr, L"launch: cannot start %ls (%lu)\n", app.c_str(), ::GetLastError());
    return 251;
  }
  ::CloseHandle(process.hThread);
  if (::WaitForSingleObject(process.hProcess, timeout) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 252);
    ::CloseHandle(process.hProcess);
    std::fwprintf(stderr, L"launch: time-out\n");
    return 252;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  std::printf("exit code %ld\n", static_cast<long>(code));
  return static_cast<int>(code);
}
