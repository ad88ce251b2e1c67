#include "log/contexts.h"

#include <time.h>
#include <windows.h>

#include <cwchar>

namespace tp {

std::map<unsigned long, std::wstring>& thread_names() {
  static std::map<unsigned long, std::wstring> names;
  return names;
}

namespace {
class indent_slot {
 public:
  indent_slot() : m_slot(::TlsAlloc()) {}
  ~indent_slot() {
    if (m_slot != TLS_OUT_OF_INDEXES) ::TlsFree(m_slot);
  }
  DWORD slot() const { return m_slot; }

 private:
  DWORD m_slot;
};

indent_slot& slot() {
  static indent_slot instance;
  return instance;
}
}  // namespace

// The level is the slot's value itself; a thread that never set it reads 0.
int indent_level() {
  DWORD index = slot().slot();
  return index == TLS_OUT_OF_INDEXES ? 0 : static_cast<int>(reinterpret_cast<INT_PTR>(::TlsGetValue(index)));
}

void set_indent_level(int level) {
  DWORD index = slot().slot();
  if (index != TLS_OUT_OF_INDEXES) ::TlsSetValue(index, reinterpret_cast<void*>(static_cast<INT_PTR>(level)));
}

std::wstring format_time_text(const std::wstring& format, const struct tm& local, bool milliseconds,
                              int millisecond) {
  wchar_t buffer[64] = {};
  size_t length = std::wcsftime(buffer, 63, format.c_str(), &local);
  if (milliseconds) {
    wformat ms(L".%03d", millisecond);
    size_t room = 63 - length;
    std::wcsncat(buffer, ms.c_str(), room);
  }
  return buffer;
}

std::wstring lc_time::format(int) {
  __time64_t now = _time64(nullptr);
  struct tm local = {};
  _localtime64_s(&local, &now);
  SYSTEMTIME system = {};
  if (m_milliseconds) ::GetSystemTime(&system);
  return format_time_text(m_format, local, m_milliseconds, system.wMilliseconds);
}

std::wstring lc_type::format(int type) {
  if (type >= 0 && static_cast<size_t>(type) < m_letters.size())
    return std::wstring(1, m_letters[static_cast<size_t>(type)]) + L"|";
  return L"|";
}

std::wstring lc_indent::format(int) {
  int level = indent_level();
  return level > 0 ? std::wstring(static_cast<size_t>(level), L' ') : std::wstring();
}

std::wstring lc_tid::format(int) {
  DWORD tid = ::GetCurrentThreadId();
  auto& names = thread_names();
  auto it = names.find(tid);
  if (it != names.end()) return it->second;
  return wformat(m_format.c_str(), static_cast<unsigned>(tid)).c_str();
}

}  // namespace tp
