#pragma once
#include <map>
#include <string>

#include "log/logger.h"

namespace tp {

enum context_kind { kind_time = 11, kind_text = 12, kind_type = 13, kind_indent = 14, kind_tid = 15 };

class lc_time : public log_context {
 public:
  explicit lc_time(std::wstring format = L"%H:%M:%S", bool milliseconds = false)
      : log_context(kind_time), m_format(std::move(format)), m_milliseconds(milliseconds) {}
  std::wstring format(int type) override;

 private:
  std::wstring m_format;
  bool m_milliseconds;
};

class lc_text : public log_context {
 public:
  explicit lc_text(std::wstring text = std::wstring()) : log_context(kind_text), m_text(std::move(text)) {}
  std::wstring format(int) override { return m_text; }

 private:
  std::wstring m_text;
};

class lc_type : public log_context {
 public:
  explicit lc_type(std::wstring letters = std::wstring())
      : log_context(kind_type), m_letters(std::move(letters)) {}
  std::wstring format(int type) override;

 private:
  std::wstring m_letters;
};

class lc_indent : public log_context {
 public:
  lc_indent() : log_context(kind_indent) {}
  std::wstring format(int type) override;
};

class lc_tid : public log_context {
 public:
  explicit lc_tid(std::wstring format = L"%04u") : log_context(kind_tid), m_format(std::move(format)) {}
  std::wstring format(int type) override;

 private:
  std::wstring m_format;
};

// Nothing in Faultpost names threads or indents; both stay at their empty
// defaults but are consulted as the line layout requires.
std::map<unsigned long, std::wstring>& thread_names();
int indent_level();
void set_indent_level(int level);

// Builds the time text from already-read clock values, so the layout can be
// checked for any time.
std::wstring format_time_text(const std::wstring& format, const struct tm& local, bool milliseconds,
                              int millisecond);

}  // namespace tp
