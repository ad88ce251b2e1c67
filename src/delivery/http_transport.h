#pragma once
// The two requests Faultpost makes: one multipart POST of a byte buffer and
// one GET whose reply body is read. Each opens and closes its own handles.
//
// Status rule the callers' https-to-http fallback relies on: the preset
// value stays when the request never went out, it becomes 0 once the
// request went out, then the server's code when that can be read.
#include <windows.h>

#include <string>

// --- request composition -------------------------------------------------

extern const char kMultipartBoundary[];       // the boundary parameter
extern const char kMultipartClosing[];        // CR LF delimiter-- CR LF
constexpr int kMultipartPartHeaderLength = 144;
constexpr int kMultipartClosingLength = 40;
constexpr int kMultipartOverhead = kMultipartPartHeaderLength + kMultipartClosingLength;

// Selector 1: name="file" filename="filename"; 0: name="userfile" filename="file".
std::string MultipartPartHeader(int partSelector);
std::string BuildMultipartBody(int partSelector, const void* data, int length);

// The header lines the POST adds, each with CR LF.
extern const char kAcceptHeader[];
extern const char kContentTypeHeader[];
std::string ContentLengthHeader(int total);

// The request target as it goes on the wire: a '/' in front when missing.
std::string PostRequestTarget(const std::string& path);
DWORD PostRequestFlags(bool https);
DWORD GetRequestFlags(bool https);
std::wstring BuildGetUrl(const std::wstring& host, int port, const std::wstring& path, bool https);

// A time reply is a few bytes; a server that streams without end must not
// hold the report pass (or its memory) for ever.
constexpr size_t kMaxReplyBody = 1u << 20;

// --- the requests --------------------------------------------------------

// true exactly when a status code was read back, whatever its value.
bool PostMultipart(const std::wstring& host, int port, const std::wstring& path, const void* data, int length,
                   bool https, int partSelector, int& status);
bool PostStatisticsForm(const std::wstring& host, int port, const std::wstring& path, const void* data, int length,
                        bool https, int& status);
// true with the reply body when the status is 200.
bool HttpGet(const std::wstring& host, int port, const std::wstring& path, bool https, const std::wstring& header,
             int& status, std::string& body);

// The seam the delivery operations send through, so their decisions can be
// driven by tests without a network.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  virtual bool Post(const std::wstring& host, int port, const std::wstring& path, const void* data, int length,
                    bool https, int partSelector, int& status) = 0;
  virtual bool Get(const std::wstring& host, int port, const std::wstring& path, bool https,
                   const std::wstring& header, int& status, std::string& body) = 0;
};
HttpTransport& WinInetTransport();
