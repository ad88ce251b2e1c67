#pragma once
// A scratch directory per test under the temp path, removed afterwards,
// and small file helpers.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

class ScratchDirectory {
 public:
  ScratchDirectory() {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    wchar_t name[64];
    _snwprintf(name, 63, L"fpdelivery_%lu_%u\\", ::GetCurrentProcessId(), ++counter);
    name[63] = 0;
    m_path = std::wstring(base) + name;
    ::CreateDirectoryW(m_path.c_str(), nullptr);
  }
  ~ScratchDirectory() {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((m_path + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring entry = data.cFileName;
        if (entry != L"." && entry != L"..") ::DeleteFileW((m_path + entry).c_str());
      } while (::FindNextFileW(find, &data));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(m_path.c_str());
  }
  const std::wstring& path() const { return m_path; }
  std::wstring File(const std::wstring& name) const { return m_path + name; }

 private:
  std::wstring m_path;
};

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

inline std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return bytes;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

inline bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The uncompressed bytes of a gzip file (zlib's reader).
inline std::string Gunzip(const std::wstring& path) {
  std::string bytes;
  gzFile file = gzopen_w(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  char chunk[4096];
  int got;
  while ((got = gzread(file, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(got));
  gzclose(file);
  return bytes;
}

inline std::string PatternBytes(size_t length, unsigned seed = 7) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
  return bytes;
}
