#pragma once
// A transport that records each request and answers from a script, so the
// delivery decisions (fallbacks, ports, log lines) can be driven without a
// network. Answer kinds follow the real transport's status rule.
#include <deque>
#include <string>
#include <vector>

#include "delivery/http_transport.h"
#include "log/contexts.h"
#include "log/logger.h"

struct Answer {
  enum Kind { NotSent, NoStatus, Code } kind = Code;
  int code = 200;
  std::string body;
  static Answer NotSentOut() { return {NotSent, 0, ""}; }
  static Answer Silent() { return {NoStatus, 0, ""}; }
  static Answer Status(int code, std::string body = "") { return {Code, code, std::move(body)}; }
};

struct Request {
  bool post = false;
  std::wstring host;
  int port = 0;
  std::wstring path;
  bool https = false;
  int partSelector = -1;
  std::string data;
  std::wstring header;
};

class FakeTransport : public HttpTransport {
 public:
  std::deque<Answer> posts, gets;
  std::vector<Request> requests;

  bool Post(const std::wstring& host, int port, const std::wstring& path, const void* data, int length, bool https,
            int partSelector, int& status) override {
    Request r;
    r.post = true;
    r.host = host;
    r.port = port;
    r.path = path;
    r.https = https;
    r.partSelector = partSelector;
    if (length > 0) r.data.assign(static_cast<const char*>(data), static_cast<size_t>(length));
    requests.push_back(r);
    return Apply(posts, status, nullptr);
  }
  bool Get(const std::wstring& host, int port, const std::wstring& path, bool https, const std::wstring& header,
           int& status, std::string& body) override {
    Request r;
    r.host = host;
    r.port = port;
    r.path = path;
    r.https = https;
    r.header = header;
    requests.push_back(r);
    return Apply(gets, status, &body) && status == 200;
  }

 private:
  static bool Apply(std::deque<Answer>& script, int& status, std::string* body) {
    Answer answer = script.empty() ? Answer::Status(200, "{\"dumptimestamp\":1}") : script.front();
    if (!script.empty()) script.pop_front();
    if (answer.kind == Answer::NotSent) return false;
    status = 0;
    if (answer.kind == Answer::NoStatus) return false;
    status = answer.code;
    if (body != nullptr) {
      if (answer.code != 200) return false;
      *body = answer.body;
    }
    return true;
  }
};

// Collects the log lines written while it lives, each as "<type letter>|<text>".
class LogCapture {
 public:
  LogCapture() {
    tp::get_logger().add_device(&m_device, 0xFF, false);
    tp::get_logger().add_context(&m_device, new tp::lc_type(L"VIDE"));
  }
  ~LogCapture() { tp::get_logger().remove_device(&m_device); }
  std::vector<std::wstring> Lines() const {
    std::vector<std::wstring> lines;
    const std::wstring& text = m_device.text();
    size_t start = 0, end;
    while ((end = text.find(L'\n', start)) != std::wstring::npos) {
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

 private:
  tp::ld_mem_log m_device;
};
