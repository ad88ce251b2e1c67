// Stands in for a program Faultpost starts (itself in repair mode, or the
// client): writes the command line it got, UTF-8, to
// recorder-<pid>.txt beside itself, then exits.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring file(path);
  file = file.substr(0, file.rfind(L'\\') + 1) + L"recorder-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  std::wstring line = ::GetCommandLineW();
  int size = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], size, nullptr, nullptr);
  HANDLE out = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(out);
  return 0;
}
