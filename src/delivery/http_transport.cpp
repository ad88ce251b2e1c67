#include "delivery/http_transport.h"

#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/scoped_handle.h"
#include "base/str_conv.h"

const char kMultipartBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
const char kMultipartClosing[] = "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
const char kAcceptHeader[] = "Accept: */*\r\n";
const char kContentTypeHeader[] = "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n";

std::string MultipartPartHeader(int partSelector) {
  const char* disposition = partSelector == 1 ? "Content-Disposition: form-data; name=\"file\"; filename=\"filename\""
                                              : "Content-Disposition: form-data; name=\"userfile\"; filename=\"file\"";
  return std::string("--") + kMultipartBoundary + "\r\n" + disposition +
         "\r\nContent-Type: application/octet-stream\r\n\r\n";
}

std::string BuildMultipartBody(int partSelector, const void* data, int length) {
  std::string body = MultipartPartHeader(partSelector);
  if (length > 0) body.append(static_cast<const char*>(data), static_cast<size_t>(length));
  body += kMultipartClosing;
  return body;
}

std::string ContentLengthHeader(int total) {
  char text[64];
  std::snprintf(text, sizeof text, "Content-Length: %d\r\n", total);
  return text;
}

std::string PostRequestTarget(const std::string& path) {
  return (!path.empty() && path[0] == '/') ? path : "/" + path;
}

DWORD PostRequestFlags(bool https) {
  DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
  if (https) flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
  return flags;
}

DWORD GetRequestFlags(bool https) {
  DWORD flags = INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_TRANSFER_BINARY;
  if (https) flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
  return flags;
}

std::wstring BuildGetUrl(const std::wstring& host, int port, const std::wstring& path, bool https) {
  wchar_t url[2048];
  if (https) {
    if (port == 443) _snwprintf(url, 2047, L"https://%s%s", host.c_str(), path.c_str());
    else _snwprintf(url, 2047, L"https://%s:%d%s", host.c_str(), port, path.c_str());
  } else {
    if (port == 80) _snwprintf(url, 2047, L"http://%s%s", host.c_str(), path.c_str());
    else _snwprintf(url, 2047, L"http://%s:%d%s", host.c_str(), port, path.c_str());
  }
  url[2047] = L'\0';
  return url;
}

namespace {
void SetTimeout(HINTERNET handle, DWORD option) {
  DWORD milliseconds = 5000;
  ::InternetSetOptionW(handle, option, &milliseconds, sizeof milliseconds);
}

bool AddHeader(HINTERNET request, const std::string& header, DWORD modifiers) {
  return ::HttpAddRequestHeadersA(request, header.c_str(), static_cast<DWORD>(header.size()), modifiers) != FALSE;
}

bool WriteAll(HINTERNET request, const void* data, DWORD length) {
  if (length == 0) return true;
  DWORD written = 0;
  return ::InternetWriteFile(request, data, length, &written) != FALSE;
}
}  // namespace

bool PostMultipart(const std::wstring& host, int port, const std::wstring& path, const void* data, int length,
                   bool https, int partSelector, int& status) {
  fp::ScopedInternetHandle root(::InternetOpenA("Faultpost", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root) return false;
  SetTimeout(root.get(), INTERNET_OPTION_CONNECT_TIMEOUT);
  SetTimeout(root.get(), INTERNET_OPTION_SEND_TIMEOUT);
  SetTimeout(root.get(), INTERNET_OPTION_RECEIVE_TIMEOUT);

  const std::string hostText = StrConv::ToAnsi(host);
  fp::ScopedInternetHandle connection(::InternetConnectA(root.get(), hostText.c_str(),
                                                         static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                                         INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;

  const std::string target = PostRequestTarget(StrConv::ToAnsi(path));
  const char* acceptTypes[] = {"*/*", nullptr};
  fp::ScopedInternetHandle request(::HttpOpenRequestA(connection.get(), "POST", target.c_str(), "HTTP/1.0", nullptr,
                                                      acceptTypes, PostRequestFlags(https), 0));
  if (https && request) {
    DWORD securityFlags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ::InternetSetOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, sizeof securityFlags);
  }
  if (!request) return false;
  // Wine keeps the time-outs of the root handle from the request; set on
  // the request as well, they bound its send and its wait for the reply.
  SetTimeout(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT);
  SetTimeout(request.get(), INTERNET_OPTION_SEND_TIMEOUT);
  SetTimeout(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT);

  if (!AddHeader(request.get(), kAcceptHeader, HTTP_ADDREQ_FLAG_REPLACE)) return false;
  if (!AddHeader(request.get(), kContentTypeHeader, HTTP_ADDREQ_FLAG_ADD_IF_NEW)) return false;
  const int total = (length > 0 ? length : 0) + kMultipartOverhead;
  if (!AddHeader(request.get(), ContentLengthHeader(total), HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD))
    return false;

  INTERNET_BUFFERSA buffers = {};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = static_cast<DWORD>(total);
  if (!::HttpSendRequestExA(request.get(), &buffers, nullptr, 0, 0)) return false;

  // The part framing and the data go out as three writes of the caller's
  // buffers: the same body bytes, without holding a second copy of an
  // archive that can be tens of megabytes.
  const std::string partHeader = MultipartPartHeader(partSelector);
  if (!WriteAll(request.get(), partHeader.data(), static_cast<DWORD>(partHeader.size())) ||
      !WriteAll(request.get(), data, static_cast<DWORD>(length > 0 ? length : 0)) ||
      !WriteAll(request.get(), kMultipartClosing, kMultipartClosingLength))
    return false;
  ::HttpEndRequestA(request.get(), nullptr, HSR_INITIATE, 0);

  status = 0;
  char code[8] = {};
  DWORD codeLength = sizeof code;
  if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, code, &codeLength, nullptr)) return false;
  // A connection closed before any status line comes back from the stack
  // as a "successful" code 0: that is no answer, and the caller's fallback
  // must see it as one.
  const int value = std::atoi(code);
  if (value < 100 || value > 999) return false;
  status = value;
  return true;
}

bool PostStatisticsForm(const std::wstring& host, int port, const std::wstring& path, const void* data, int length,
                        bool https, int& status) {
  return PostMultipart(host, port, path, data, length, https, 0, status);
}

bool HttpGet(const std::wstring& host, int port, const std::wstring& path, bool https, const std::wstring& header,
             int& status, std::string& body) {
  fp::ScopedInternetHandle root(::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  const std::wstring url = BuildGetUrl(host, port, path, https);
  if (!root) return false;
  SetTimeout(root.get(), INTERNET_OPTION_CONNECT_TIMEOUT);
  SetTimeout(root.get(), INTERNET_OPTION_RECEIVE_TIMEOUT);
  if (https) {
    DWORD securityFlags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ::InternetSetOptionW(root.get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, sizeof securityFlags);
  }
  ::OutputDebugStringW((L"GET " + url).c_str());
  // The URL open in steps (connect, open, send, end) is the same request,
  // but gives the request handle its own time-outs (Wine does not carry the
  // root handle's receive time-out over to the request of the one-call URL
  // open, so a server that never answers would hold the pass), and shows
  // whether a failure came before the request went out or after.
  fp::ScopedInternetHandle connection(::InternetConnectW(root.get(), host.c_str(), static_cast<INTERNET_PORT>(port),
                                                         nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  fp::ScopedInternetHandle request(::HttpOpenRequestW(connection.get(), L"GET", path.c_str(), L"HTTP/1.1", nullptr,
                                                      acceptTypes, GetRequestFlags(https), 0));
  if (!request) return false;
  SetTimeout(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT);
  SetTimeout(request.get(), INTERNET_OPTION_SEND_TIMEOUT);
  SetTimeout(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT);
  INTERNET_BUFFERSW buffers = {};
  buffers.dwStructSize = sizeof buffers;
  buffers.lpcszHeader = header.c_str();
  buffers.dwHeadersLength = 0;  // declared length 0, as the URL open is given it
  if (!::HttpSendRequestExW(request.get(), &buffers, nullptr, 0, 0)) return false;
  status = 0;
  if (!::HttpEndRequestW(request.get(), nullptr, 0, 0)) return false;

  DWORD code = 0;
  DWORD codeLength = sizeof code;
  if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &codeLength, nullptr))
    return false;
  status = static_cast<int>(code);
  if (status != 200) return false;

  std::string text;
  char chunk[256];
  for (;;) {
    std::memset(chunk, 0, sizeof chunk);
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), chunk, sizeof chunk, &read)) break;
    text.append(chunk, read);
    if (read != sizeof chunk || text.size() >= kMaxReplyBody) break;
  }
  wchar_t trace[1024];
  _snwprintf(trace, 1023, L"====%S", text.c_str());
  trace[1023] = L'\0';
  ::OutputDebugStringW(trace);
  body = std::move(text);
  return true;
}

namespace {
class WinInet : public HttpTransport {
 public:
  bool Post(const std::wstring& host, int port, const std::wstring& path, const void* data, int length, bool https,
            int partSelector, int& status) override {
    return PostMultipart(host, port, path, data, length, https, partSelector, status);
  }
  bool Get(const std::wstring& host, int port, const std::wstring& path, bool https, const std::wstring& header,
           int& status, std::string& body) override {
    return HttpGet(host, port, path, https, header, status, body);
  }
};
}  // namespace

HttpTransport& WinInetTransport() {
  static WinInet transport;
  return transport;
}
