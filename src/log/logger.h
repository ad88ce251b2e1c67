#pragma once
// The diagnostic log: one process-wide logger, a table of output devices,
// and per device an ordered list of line contexts written before each line.
#include <windows.h>

#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace tp {

class log_device {
 public:
  virtual bool open() = 0;
  virtual bool close() = 0;
  // text need not be terminated; kind is the producing context's kind, or 0
  // for message text and the line end.
  virtual int write(const wchar_t* text, int length, int kind) = 0;
  virtual bool flush() = 0;
  virtual ~log_device() = default;
};

class log_context {
 public:
  explicit log_context(int kind_value) : kind(kind_value) {}
  virtual ~log_context() = default;
  virtual std::wstring format(int type) = 0;
  const int kind;
};

struct device_entry {
  unsigned int type_mask = 0;
  std::list<std::unique_ptr<log_context>> contexts;
  bool owned = false;
};

class logger {
 public:
  logger();
  ~logger();
  logger(const logger&) = delete;
  logger& operator=(const logger&) = delete;

  void write(int type, const wchar_t* text, bool flush);
  void add_device(log_device* device, unsigned int type_mask, bool owned);
  void add_context(log_device* device, log_context* context);
  void remove_device(log_device* device);

 private:
  std::map<log_device*, device_entry> m_devices;
  CRITICAL_SECTION m_lock;
};

logger& get_logger();
void setup_logging();

// The line prefix each kind of device gets; the memory log uses the file's.
enum class line_layout { file, console, debug_output };
void attach_layout(logger& log, log_device* device, line_layout layout);

// The static memory log every run keeps; exposed so tests can read it.
class ld_mem_log;
ld_mem_log& memory_log();

class ld_console : public log_device {
 public:
  bool open() override;
  bool close() override;
  int write(const wchar_t* text, int length, int kind) override;
  bool flush() override { return true; }
  void set_colour(int kind, WORD attributes) { m_colours[kind] = attributes; }

 private:
  HANDLE m_output = nullptr;
  std::map<int, WORD> m_colours;
  WORD m_defaultAttributes = 0;
  bool m_allocated = false;
};

class ld_debug_output : public log_device {
 public:
  bool open() override { return true; }
  bool close() override { return true; }
  int write(const wchar_t* text, int length, int kind) override;
  bool flush() override { return true; }
};

class ld_file : public log_device {
 public:
  explicit ld_file(std::wstring path) : m_path(std::move(path)) {}
  // Destruction does not close: the logger's remove_device does.
  bool open() override;
  bool close() override;
  int write(const wchar_t* text, int length, int kind) override;
  bool flush() override;
  const std::wstring& path() const { return m_path; }

 private:
  FILE* m_stream = nullptr;
  std::wstring m_path;
};

class ld_mem_log : public log_device {
 public:
  ld_mem_log() { m_buffer.reserve(1000000); }
  bool open() override { return true; }
  bool close() override { return true; }
  int write(const wchar_t* text, int length, int) override {
    m_buffer.append(text, static_cast<size_t>(length));
    return length;
  }
  bool flush() override { return true; }
  const std::wstring& text() const { return m_buffer; }
  void clear() { m_buffer.clear(); }

 private:
  std::wstring m_buffer;
};

// printf-style wide text; up to 1023 characters without touching the heap.
class wformat {
 public:
  explicit wformat(const wchar_t* format, ...);
  ~wformat();
  wformat(const wformat&) = delete;
  wformat& operator=(const wformat&) = delete;
  operator const wchar_t*() const { return m_text; }
  const wchar_t* c_str() const { return m_text; }
  unsigned capacity() const { return m_capacity; }
  bool on_heap() const { return m_text != m_inline; }

 private:
  wchar_t* m_text;
  unsigned m_capacity;
  wchar_t m_inline[1024];
};

}  // namespace tp
