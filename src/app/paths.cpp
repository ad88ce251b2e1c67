#include "app/paths.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "base/scoped_handle.h"
#include "log/logger.h"

std::wstring GetTempBase() { return TempBaseFrom(::GetTempPathW); }

std::wstring TempBaseFrom(const std::function<DWORD(DWORD, LPWSTR)>& getTempPath) {
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length = getTempPath(MAX_PATH, &buffer[0]);
  if (length > MAX_PATH) {
    // The answer is the room needed (terminator included); ask again with it
    // instead of building on a buffer that was never filled.
    buffer.assign(length, L'\0');
    length = getTempPath(length, &buffer[0]);
    if (length >= buffer.size()) length = 0;
  }
  if (length == 0) return L"d:\\";
  buffer.resize(length);
  return buffer;
}

std::wstring GetReportDirectory() {
  std::wstring directory = GetTempBase() + L"orvel\\Nimbrel\\";
  ::SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
  return directory;
}

std::wstring GetModuleDirectory(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  if (::GetModuleFileNameW(module, path, MAX_PATH) == 0) return L"[n/a]";
  std::wstring text(path);
  size_t slash = text.rfind(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  return text.substr(0, slash + 1);
}

std::wstring GetExeDirectory() { return GetModuleDirectory(::GetModuleHandleW(nullptr)); }

bool FullDumpWanted(UINT createFullDump, std::wstring codeList, DWORD exceptionCode) {
  for (auto& c : codeList) c = static_cast<wchar_t>(std::towlower(c));
  std::wstring code = tp::wformat(L"0x%08x", static_cast<unsigned>(exceptionCode)).c_str();
  return createFullDump != 0 && (codeList.empty() || codeList.find(code) != std::wstring::npos);
}

bool ShouldWriteFullDump(DWORD exceptionCode) {
  std::wstring settings = GetExeDirectory() + L"DebugSet.ini";
  wchar_t list[1024] = {};
  ::GetPrivateProfileStringW(L"ComSet", L"FullDumpExceptionCode", L"", list, 1024, settings.c_str());
  UINT create = ::GetPrivateProfileIntW(L"ComSet", L"CreateFullDump", 0, settings.c_str());
  return FullDumpWanted(create, list, exceptionCode);
}

namespace {
// version.dll is reached only at run time, loaded and released around each
// use, so Faultpost has no static import of it.
template <typename Fn>
Fn VersionFunction(fp::ScopedModule& library, const char* name) {
  library.reset(::LoadLibraryW(L"version.dll"));
  if (!library) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library.get(), name)));
}
}  // namespace

HRESULT LoadVersionBlock(const std::wstring& path, VersionBlock& block) {
  if (path.empty()) return E_FAIL;
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  fp::ScopedModule library;
  auto getSize = VersionFunction<SizeFn>(library, "GetFileVersionInfoSizeW");
  if (getSize == nullptr) return E_FAIL;
  DWORD handle = 0;
  DWORD size = getSize(path.c_str(), &handle);
  if (size == 0) return E_FAIL;
  auto buffer = std::make_shared<std::vector<BYTE>>(size);
  auto getInfo = reinterpret_cast<InfoFn>(
      reinterpret_cast<void*>(::GetProcAddress(library.get(), "GetFileVersionInfoW")));
  if (getInfo == nullptr || !getInfo(path.c_str(), 0, size, buffer->data())) return E_FAIL;
  block = std::move(buffer);
  return S_OK;
}

HRESULT QueryVersionValue(const VersionBlock& block, const wchar_t* subBlock, void** value, UINT* length) {
  if (!block || value == nullptr) return E_FAIL;
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  fp::ScopedModule library;
  auto query = VersionFunction<QueryFn>(library, "VerQueryValueW");
  if (query == nullptr) return E_FAIL;
  UINT ignored = 0;
  return query(block->data(), subBlock, value, length ? length : &ignored) ? S_OK : E_FAIL;
}

ModuleVersionInfo ReadModuleVersionInfo(const std::wstring& path) {
  ModuleVersionInfo info = {};
  VersionBlock block;
  if (FAILED(LoadVersionBlock(path, block))) return info;
  void* value = nullptr;
  UINT length = 0;
  if (FAILED(QueryVersionValue(block, L"\\", &value, &length)) || value == nullptr) return info;
  std::memcpy(&info.FixedInfo, value, sizeof info.FixedInfo);
  value = nullptr;
  if (FAILED(QueryVersionValue(block, L"\\VarFileInfo\\Translation", &value, &length)) || value == nullptr)
    return info;
  if (length >= 4) {
    const WORD* entries = static_cast<const WORD*>(value);
    for (UINT i = 0; i < length / 4; ++i) {
      tp::wformat key(L"\\StringFileInfo\\%04x%04x\\ProductName", entries[2 * i], entries[2 * i + 1]);
      void* name = nullptr;
      UINT nameLength = 0;
      if (SUCCEEDED(QueryVersionValue(block, key, &name, &nameLength)) && name != nullptr) {
        const wchar_t* text = static_cast<const wchar_t*>(name);
        // The length bounds the read: a resource without its NUL must not
        // make us read past the block.
        info.ProductName.assign(text, nameLength > 0 ? wcsnlen(text, nameLength) : std::wcslen(text));
        break;
      }
    }
  }
  return info;
}

HRESULT RestrictDllSearchPath() {
  fp::ScopedModule kernel(::LoadLibraryW(L"Kernel32.dll"));
  if (!kernel) return E_FAIL;
  using SetDirsFn = BOOL(WINAPI*)(DWORD);
  auto setDirs = reinterpret_cast<SetDirsFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel.get(), "SetDefaultDllDirectories")));
  if (setDirs == nullptr) return E_FAIL;
  return setDirs(0xC00) ? S_OK : E_FAIL;
}
