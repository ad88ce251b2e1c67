#pragma once
// Small file-system fixtures shared by the test programs.
#include <io.h>
#include <windows.h>

#include <string>

inline std::string Narrow(const std::wstring& text) {
  int size = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  return out;
}

inline bool FileExists(const std::wstring& path) { return _waccess(path.c_str(), 0) == 0; }

inline void TouchFile(const std::wstring& path, const std::string& content = "x") {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  ::CloseHandle(file);
}

// A fresh directory under the temp path, removed with everything in it.
class TempDirectory {
 public:
  TempDirectory() {
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, base);
    static int counter = 0;
    m_path = std::wstring(base) + L"fp-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter) + L"\\";
    ::CreateDirectoryW(m_path.c_str(), nullptr);
  }
  ~TempDirectory() { RemoveTree(m_path); }
  const std::wstring& path() const { return m_path; }

  static void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((dir + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring full = dir + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(full + L"\\");
        } else {
          ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
          ::DeleteFileW(full.c_str());
        }
      } while (::FindNextFileW(find, &data));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(dir.c_str());
  }

 private:
  std::wstring m_path;
};
