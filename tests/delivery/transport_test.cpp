#include <gtest/gtest.h>
#include <winsock2.h>
#include <wininet.h>

#include <string>

#include "delivery/http_transport.h"

TEST(MultipartTest, BodiesForBothPartSelectors) {
  const std::string closing = "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  ASSERT_EQ(40u, closing.size());
  struct Case { int selector; std::string disposition; };
  const Case cases[] = {
      {1, "Content-Disposition: form-data; name=\"file\"; filename=\"filename\""},
      {0, "Content-Disposition: form-data; name=\"userfile\"; filename=\"file\""},
  };
  for (const Case& c : cases) {
    const std::string header = "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n" + c.disposition +
                               "\r\nContent-Type: application/octet-stream\r\n\r\n";
    ASSERT_EQ(144u, header.size());
    EXPECT_EQ(header, MultipartPartHeader(c.selector));
    const std::string data("\0binary\r\n--\xff", 12);
    EXPECT_EQ(header + data + closing, BuildMultipartBody(c.selector, data.data(), static_cast<int>(data.size())));
    EXPECT_EQ(header + closing, BuildMultipartBody(c.selector, nullptr, 0));
  }
  EXPECT_EQ(184, kMultipartOverhead);
  EXPECT_EQ(closing, std::string(kMultipartClosing));
}

TEST(MultipartTest, RequestHeaders) {
  EXPECT_STREQ("Accept: */*\r\n", kAcceptHeader);
  EXPECT_STREQ("Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n", kContentTypeHeader);
  EXPECT_EQ("Content-Length: 184\r\n", ContentLengthHeader(184));
  EXPECT_EQ("Content-Length: 52429000\r\n", ContentLengthHeader(52429000));
}

TEST(RequestTargetTest, PathAlwaysStartsWithSlash) {
  struct Case { const char* path; const char* target; };
  const Case cases[] = {
      {"statistics?clienttype=8", "/statistics?clienttype=8"},
      {"/rest/2.0/cumulo/dump?method=set&", "/rest/2.0/cumulo/dump?method=set&"},
      {"", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.target, PostRequestTarget(c.path));
}

TEST(RequestFlagsTest, SecureFlagsOnlyForHttps) {
  const DWORD post = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
  const DWORD secure = INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
  EXPECT_EQ(post, PostRequestFlags(false));
  EXPECT_EQ(post | secure, PostRequestFlags(true));
  EXPECT_EQ(0x102u, GetRequestFlags(false));
  EXPECT_EQ(0x102u | secure, GetRequestFlags(true));
}

TEST(GetUrlTest, DefaultPortsAreLeftOut) {
  struct Case { bool https; int port; const wchar_t* url; };
  const Case cases[] = {
      {true, 443, L"https://dump.example/rest/t?method=get"},
      {true, 80, L"https://dump.example:80/rest/t?method=get"},
      {true, 8443, L"https://dump.example:8443/rest/t?method=get"},
      {false, 80, L"http://dump.example/rest/t?method=get"},
      {false, 443, L"http://dump.example:443/rest/t?method=get"},
      {false, 8080, L"http://dump.example:8080/rest/t?method=get"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.url, BuildGetUrl(L"dump.example", c.port, L"/rest/t?method=get", c.https));
}

namespace {
// A loopback port nobody listens on: bound, then released.
int ClosedPort() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::closesocket(s);
  return ntohs(address.sin_port);
}
}  // namespace

TEST(TransportStatusTest, RefusedConnectionLeavesThePresetStatus) {
  const int port = ClosedPort();
  ASSERT_NE(0, port);
  for (bool https : {false, true}) {
    int status = 200;
    EXPECT_FALSE(PostMultipart(L"127.0.0.1", port, L"/x", "abc", 3, https, 1, status));
    EXPECT_EQ(200, status) << "https=" << https;
    std::string body = "untouched";
    status = 200;
    EXPECT_FALSE(HttpGet(L"127.0.0.1", port, L"/x", https, L"Cookie:OVSESS=", status, body));
    EXPECT_EQ(200, status) << "https=" << https;
    EXPECT_EQ("untouched", body);
  }
}
