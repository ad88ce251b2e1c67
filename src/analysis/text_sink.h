#pragma once
// Where report text goes: the crash log stream, or a string in tests. Text
// is written piece by piece as each value becomes known, so whatever was
// reached stays in the file when writing stops early.
#include <cstdio>
#include <string>

class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void Write(const wchar_t* text) = 0;
  void Write(const std::wstring& text) { Write(text.c_str()); }
};

// A wide stream opened by the caller; the stream's text mode turns each
// line feed into carriage return + line feed.
class StreamTextSink : public TextSink {
 public:
  explicit StreamTextSink(FILE* stream) : m_stream(stream) {}
  using TextSink::Write;
  void Write(const wchar_t* text) override { std::fputws(text, m_stream); }

 private:
  FILE* m_stream;
};

class StringTextSink : public TextSink {
 public:
  using TextSink::Write;
  void Write(const wchar_t* text) override { m_text += text; }
  const std::wstring& text() const { return m_text; }

 private:
  std::wstring m_text;
};
