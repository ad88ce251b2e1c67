#include "log/logger.h"

#include <share.h>
#include <time.h>

#include <cstdarg>
#include <cwchar>
#include <new>

#include "log/contexts.h"

namespace tp {

namespace {
// Constructed before the entry runs, destroyed after the logger (which is
// created later, on first use, and so destroyed earlier).
ld_mem_log g_memoryLog;

class critical_section_guard {
 public:
  explicit critical_section_guard(CRITICAL_SECTION& cs) : m_cs(cs) { ::EnterCriticalSection(&m_cs); }
  ~critical_section_guard() { ::LeaveCriticalSection(&m_cs); }

 private:
  CRITICAL_SECTION& m_cs;
};
}  // namespace

ld_mem_log& memory_log() { return g_memoryLog; }

logger::logger() { ::InitializeCriticalSection(&m_lock); }

logger::~logger() {
  while (!m_devices.empty()) remove_device(m_devices.begin()->first);
  ::DeleteCriticalSection(&m_lock);
}

void logger::write(int type, const wchar_t* text, bool flush) {
  if (text == nullptr || type < 0 || type > 31) return;
  critical_section_guard guard(m_lock);
  const unsigned int bit = 1u << type;
  for (auto& [device, entry] : m_devices) {
    if ((entry.type_mask & bit) == 0) continue;
    const wchar_t* line = text;
    while (*line != L'\0') {
      const wchar_t* end = line;
      while (*end != L'\0' && *end != L'\n') ++end;
      for (auto& context : entry.contexts) {
        std::wstring piece = context->format(type);
        device->write(piece.c_str(), static_cast<int>(piece.size()), context->kind);
      }
      device->write(line, static_cast<int>(end - line), 0);
      device->write(L"\n", 1, 0);
      line = (*end == L'\n') ? end + 1 : end;
    }
    if (flush) device->flush();
  }
}

void logger::add_device(log_device* device, unsigned int type_mask, bool owned) {
  if (device == nullptr || m_devices.count(device) != 0) return;
  device_entry& entry = m_devices[device];
  entry.type_mask = type_mask;
  entry.owned = owned;
  device->open();
}

void logger::add_context(log_device* device, log_context* context) {
  auto it = m_devices.find(device);
  if (it == m_devices.end()) {
    delete context;  // nothing takes ownership, so nothing may leak
    return;
  }
  it->second.contexts.emplace_back(context);
}

void logger::remove_device(log_device* device) {
  auto it = m_devices.find(device);
  if (it == m_devices.end()) return;
  device->close();
  if (it->second.owned) delete device;
  m_devices.erase(it);  // deletes the contexts with the entry
}

logger& get_logger() {
  // A function-local static: the compiler guards its one-time construction.
  static logger instance;
  return instance;
}

void attach_layout(logger& log, log_device* device, line_layout layout) {
  if (layout == line_layout::debug_output) {
    log.add_context(device, new lc_type(L"VIDE"));
    log.add_context(device, new lc_indent());
    return;
  }
  log.add_context(device, new lc_time(layout == line_layout::console ? L"%H:%M:%S" : L"%Y-%m-%d %H:%M:%S", true));
  log.add_context(device, new lc_text(L" "));
  log.add_context(device, new lc_tid());
  log.add_context(device, new lc_text(L" "));
  log.add_context(device, new lc_type(L"VIDE"));
  log.add_context(device, new lc_indent());
}

void setup_logging() {
  wchar_t exePath[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  std::wstring path(exePath);
  std::wstring directory, fileName;
  size_t slash = path.rfind(L'\\');
  if (slash != std::wstring::npos && slash != 0) {
    directory = path.substr(0, slash);
    fileName = path.substr(slash + 1);
  }
  std::wstring baseName = fileName;
  size_t dot = fileName.rfind(L'.');
  if (dot != std::wstring::npos && dot != 0) baseName = fileName.substr(0, dot);

  std::wstring iniPath = wformat(L"%s\\%s.ini", directory.c_str(), baseName.c_str()).c_str();
  UINT flags = ::GetPrivateProfileIntW(L"Config", L"DebugOutput", 0, iniPath.c_str());
  logger& log = get_logger();

  if (flags & 1) {
    std::wstring name = wformat(L"%s_%I64d.log", baseName.c_str(), static_cast<long long>(_time64(nullptr))).c_str();
    auto* file = new ld_file(directory + L"\\" + name);
    log.add_device(file, 0xFF, true);
    attach_layout(log, file, line_layout::file);
  }
  if (flags & 2) {
    auto* console = new ld_console();
    console->set_colour(kind_time, FOREGROUND_GREEN);
    console->set_colour(kind_type, FOREGROUND_RED);
    console->set_colour(kind_tid, FOREGROUND_GREEN | FOREGROUND_BLUE);
    log.add_device(console, 0xFF, true);
    attach_layout(log, console, line_layout::console);
  }
  if (flags & 4) {
    auto* debug = new ld_debug_output();
    log.add_device(debug, 0xFF, true);
    attach_layout(log, debug, line_layout::debug_output);
  }
  log.add_device(&g_memoryLog, 0xFF, false);
  attach_layout(log, &g_memoryLog, line_layout::file);
}

// --- devices ---------------------------------------------------------------

bool ld_console::open() {
  if (::AllocConsole()) m_allocated = true;
  m_output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (m_output == nullptr || m_output == INVALID_HANDLE_VALUE) return false;
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (::GetConsoleScreenBufferInfo(m_output, &info)) m_defaultAttributes = info.wAttributes;
  return true;
}

bool ld_console::close() {
  if (m_allocated) {
    ::FreeConsole();
    m_output = nullptr;
  }
  return true;
}

int ld_console::write(const wchar_t* text, int length, int kind) {
  if (m_output == nullptr || m_output == INVALID_HANDLE_VALUE) return 0;
  auto it = m_colours.find(kind);
  ::SetConsoleTextAttribute(m_output, it != m_colours.end() ? it->second : m_defaultAttributes);
  DWORD written = 0;
  ::WriteConsoleW(m_output, text, static_cast<DWORD>(length), &written, nullptr);
  return static_cast<int>(written);
}

int ld_debug_output::write(const wchar_t* text, int length, int) {
  std::wstring piece(text, static_cast<size_t>(length));
  ::OutputDebugStringW(piece.c_str());
  return length;
}

bool ld_file::open() {
  // The repair pass starts within the same second as the report pass that
  // started it, so both get the same name: appending keeps the report
  // pass's lines instead of truncating them away.
  m_stream = ::_wfsopen(m_path.c_str(), L"at", _SH_DENYWR);
  return m_stream != nullptr;
}

bool ld_file::close() {
  if (m_stream == nullptr) return false;
  std::fclose(m_stream);
  m_stream = nullptr;
  return true;
}

int ld_file::write(const wchar_t* text, int length, int) {
  if (m_stream == nullptr) return 0;
  // The file is byte-oriented text: characters up to U+00FF are single
  // bytes. Anything above would be dropped by the runtime's conversion, so
  // it is kept readable and lossless as a \uXXXX escape instead.
  std::string bytes;
  bytes.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    wchar_t c = text[i];
    if (c <= 0xFF) {
      bytes.push_back(static_cast<char>(c));
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      bytes += escape;
    }
  }
  std::fwrite(bytes.data(), 1, bytes.size(), m_stream);  // text mode: LF becomes CR LF
  return length;
}

bool ld_file::flush() { return m_stream != nullptr && std::fflush(m_stream) == 0; }

// --- wformat -----------------------------------------------------------------

wformat::wformat(const wchar_t* format, ...) : m_text(m_inline), m_capacity(1024) {
  m_inline[0] = L'\0';
  if (format == nullptr) return;
  va_list args;
  va_start(args, format);
  va_list counting;
  va_copy(counting, args);
  int count = _vscwprintf(format, counting);
  va_end(counting);
  unsigned needed = count < 0 ? 0 : static_cast<unsigned>(count) + 1;
  if (needed > m_capacity) {
    wchar_t* heap = new (std::nothrow) wchar_t[needed];
    if (heap != nullptr) {
      m_text = heap;
      m_capacity = needed;
    }
  }
  _vsnwprintf(m_text, m_capacity - 1, format, args);
  m_text[m_capacity - 1] = L'\0';
  va_end(args);
}

wformat::~wformat() {
  if (m_text != m_inline) delete[] m_text;
}

}  // namespace tp
