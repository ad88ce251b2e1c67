// Keeps a file open, as another program that uses it would, so a test can
// see what a repair does with a file in use.
//   file_holder.exe --path=P [--share=r|rd|rwd|none] [--load] [--ms=N]
// --share names the sharing the holder grants (read, delete, write);
// --load maps the file as a loaded module instead (a running program's own
// DLL). Prints "holding" once the file is held, then holds it for N ms
// (default 60000) and exits 0; exits 1 when the file cannot be held.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  std::wstring path, share = L"r";
  bool load = false;
  DWORD ms = 60000;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a.rfind(L"--path=", 0) == 0) path = a.substr(7);
    else if (a.rfind(L"--share=", 0) == 0) share = a.substr(8);
    else if (a == L"--load") load = true;
    else if (a.rfind(L"--ms=", 0) == 0) ms = static_cast<DWORD>(_wtoi(a.c_str() + 5));
  }
  DWORD shareMode = 0;
  if (share.find(L'r') != std::wstring::npos) shareMode |= FILE_SHARE_READ;
  if (share.find(L'w') != std::wstring::npos) shareMode |= FILE_SHARE_WRITE;
  if (share.find(L'd') != std::wstring::npos) shareMode |= FILE_SHARE_DELETE;
  HANDLE file = INVALID_HANDLE_VALUE;
  HMODULE module = nullptr;
  if (load) {
    module = ::LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (module == nullptr) return 1;
  } else {
    file = ::CreateFileW(path.c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
  }
  std::printf("holding\n");
  std::fflush(stdout);
  ::Sleep(ms);
  if (module != nullptr) ::FreeLibrary(module);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return 0;
}
