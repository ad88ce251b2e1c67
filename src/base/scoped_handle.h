#pragma once
// One owner type for every kind of system resource, with the invalid value
// and the release function in the type, so a resource is released on every
// path simply by leaving the scope.
#include <windows.h>
#include <wininet.h>
#include <cstdio>
#include <utility>

namespace fp {

template <typename Traits>
class ScopedResource {
 public:
  using value_type = typename Traits::value_type;

  ScopedResource() noexcept : m_value(Traits::invalid()) {}
  explicit ScopedResource(value_type value) noexcept : m_value(value) {}
  ~ScopedResource() { reset(); }

  ScopedResource(const ScopedResource&) = delete;
  ScopedResource& operator=(const ScopedResource&) = delete;
  ScopedResource(ScopedResource&& other) noexcept : m_value(other.release()) {}
  ScopedResource& operator=(ScopedResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  value_type get() const noexcept { return m_value; }
  bool valid() const noexcept { return m_value != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  void reset(value_type value = Traits::invalid()) noexcept {
    if (valid()) Traits::release(m_value);
    m_value = value;
  }
  value_type release() noexcept { return std::exchange(m_value, Traits::invalid()); }
  // For out-parameters of the Win32 style; drops what was held first.
  value_type* receive() noexcept { reset(); return &m_value; }

 private:
  value_type m_value;
};

struct KernelHandleTraits {  // OpenProcess, OpenThread, CreateFileMappingW: null on failure
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return nullptr; }
  static void release(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFileW, CreateToolhelp32Snapshot: INVALID_HANDLE_VALUE on failure
  using value_type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void release(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct MappedViewTraits {
  using value_type = void*;
  static void* invalid() noexcept { return nullptr; }
  static void release(void* view) noexcept { ::UnmapViewOfFile(view); }
};
struct ModuleTraits {
  using value_type = HMODULE;
  static HMODULE invalid() noexcept { return nullptr; }
  static void release(HMODULE m) noexcept { ::FreeLibrary(m); }
};
struct InternetHandleTraits {
  using value_type = HINTERNET;
  static HINTERNET invalid() noexcept { return nullptr; }
  static void release(HINTERNET h) noexcept { ::InternetCloseHandle(h); }
};
struct StdioFileTraits {
  using value_type = FILE*;
  static FILE* invalid() noexcept { return nullptr; }
  static void release(FILE* f) noexcept { std::fclose(f); }
};
struct RegKeyTraits {
  using value_type = HKEY;
  static HKEY invalid() noexcept { return nullptr; }
  static void release(HKEY k) noexcept { ::RegCloseKey(k); }
};

using ScopedHandle = ScopedResource<KernelHandleTraits>;
using ScopedFileHandle = ScopedResource<FileHandleTraits>;
using ScopedMappedView = ScopedResource<MappedViewTraits>;
using ScopedModule = ScopedResource<ModuleTraits>;
using ScopedInternetHandle = ScopedResource<InternetHandleTraits>;
using ScopedStdioFile = ScopedResource<StdioFileTraits>;
using ScopedRegKey = ScopedResource<RegKeyTraits>;

// Runs a callable when the scope ends, for the clean-ups that are not a
// single handle (symbol handler sessions, restored state).
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) noexcept : m_f(std::move(f)) {}
  ~ScopeExit() { if (m_armed) m_f(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void dismiss() noexcept { m_armed = false; }

 private:
  F m_f;
  bool m_armed = true;
};
template <typename F>
ScopeExit<F> scope_exit(F f) { return ScopeExit<F>(std::move(f)); }

}  // namespace fp
