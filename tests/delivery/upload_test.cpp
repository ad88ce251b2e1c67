#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "app/paths.h"
#include "delivery/dump_uploader.h"
#include "delivery/report_crypto.h"
#include "delivery/report_data.h"
#include "delivery/statistics.h"
#include "fake_transport.h"
#include "test_files.h"

using Lines = std::vector<std::wstring>;

TEST(ParseServerTimeTest, OnlyAStrictObjectWithA32BitIntegerIsATime) {
  struct Case { const char* body; bool ok; int32_t time; };
  const Case cases[] = {
      {"{\"dumptimestamp\":1700000000}", true, 1700000000},
      {" { \"other\" : [1,2], \"dumptimestamp\" : -42 } ", true, -42},
      {"{\"dumptimestamp\":2147483647}", true, INT32_MAX},
      {"{\"dumptimestamp\":-2147483648}", true, INT32_MIN},
      {"{\"dumptimestamp\":2147483648}", false, 0},
      {"{\"dumptimestamp\":-2147483649}", false, 0},          // below the range: fails, does not throw
      {"{\"dumptimestamp\":-99999999999999999999}", false, 0},
      {"{\"dumptimestamp\":99999999999999999999}", false, 0},
      {"{\"dumptimestamp\":\"1700000000\"}", false, 0},
      {"{\"dumptimestamp\":1700000000.0}", false, 0},
      {"{\"dumptimestamp\":17e8}", false, 0},
      {"{\"dumptimestamp\":true}", false, 0},
      {"{\"dumptimestamp\":null}", false, 0},
      {"{\"dumptimestamp\":[1700000000]}", false, 0},
      {"{\"time\":1700000000}", false, 0},
      {"[1700000000]", false, 0},
      {"[{\"dumptimestamp\":1700000000}]", false, 0},
      {"1700000000", false, 0},
      {"{\"dumptimestamp\":1700000000 /* served */}", false, 0},
      {"// time\n{\"dumptimestamp\":1700000000}", false, 0},
      {"{\"note\":\"a/b \\\"/*\\\"\", \"dumptimestamp\":7}", true, 7},   // slashes inside strings
      {"{\"dumptimestamp\":17000", false, 0},
      {"", false, 0},
      {"<html>502</html>", false, 0},
  };
  for (const Case& c : cases) {
    int32_t time = 12345;
    bool ok = false;
    EXPECT_NO_THROW(ok = ParseServerTime(c.body, time)) << c.body;
    EXPECT_EQ(c.ok, ok) << c.body;
    EXPECT_EQ(c.ok ? c.time : 12345, time) << c.body;
  }
}

TEST(DumpUploaderTest, IdentityIsCutTo64Characters) {
  DumpUploader uploader;
  const std::wstring seventy(70, L'd');
  EXPECT_EQ(0, uploader.SetIdentity(seventy, L"8", L""));
  EXPECT_EQ(std::wstring(64, L'd'), uploader.m_deviceId);
  uploader.SetIdentity(std::wstring(64, L'e'), L"8", L"");
  EXPECT_EQ(std::wstring(64, L'e'), uploader.m_deviceId);
  uploader.SetIdentity(L"[n/a]", L"8", L"c");
  EXPECT_EQ(L"[n/a]", uploader.m_deviceId);
  EXPECT_EQ(L"8", uploader.m_deviceType);
  EXPECT_EQ(L"c", uploader.m_cookie);
}

TEST(DumpUploaderTest, DumpResourceEndsWithVersionAndAmpersand) {
  EXPECT_EQ(L"/rest/2.0/cumulo/dump?method=set&device_id=[n/a]&device_type=8&time=-7&sign=abc&version=7.22.0.8&",
            BuildDumpResource(L"[n/a]", L"8", -7, L"abc"));
}

namespace {
struct ExchangeCase {
  const char* what;
  bool https;
  std::vector<Answer> gets, posts;
  // expected requests as "GET|POST scheme port"
  std::vector<std::string> requests;
  bool servedTime;  // the time in the dump post is the one served (1234567)
  Lines log;
};

std::string Describe(const Request& r) {
  return std::string(r.post ? "POST " : "GET ") + (r.https ? "https " : "http ") + std::to_string(r.port);
}
}  // namespace

TEST(DumpUploaderTest, FallbackToHttpOnlyAfterAnHttpsAttemptWentOutUnanswered) {
  const std::string served = "{\"dumptimestamp\":1234567}";
  const std::vector<ExchangeCase> cases = {
      {"http, all answered", false, {Answer::Status(200, served)}, {Answer::Status(200)},
       {"GET http 8080", "POST http 8080"}, true,
       {L"D|get server time succeed https=0", L"V|post dump succeed https=0"}},
      {"https, all answered", true, {Answer::Status(200, served)}, {Answer::Status(200)},
       {"GET https 8080", "POST https 8080"}, true,
       {L"D|get server time succeed https=1", L"V|post dump succeed https=1"}},
      {"https unanswered, http answers both", true, {Answer::Silent(), Answer::Status(200, served)},
       {Answer::Silent(), Answer::Status(200)},
       {"GET https 8080", "GET http 80", "POST https 8080", "POST http 80"}, true,
       {L"D|get server time success with http", L"D|post dump failed https=1 http code=0",
        L"D|post dump succeed with http"}},
      {"https unanswered, http refused too", true, {Answer::Silent(), Answer::NotSentOut()},
       {Answer::Silent(), Answer::NotSentOut()},
       {"GET https 8080", "GET http 80", "POST https 8080", "POST http 80"}, false,
       {L"D|get server time failed with http http code=0", L"D|post dump failed https=1 http code=0",
        L"D|post dump failed with http http code=0"}},
      {"https never went out: no fallback", true, {Answer::NotSentOut()}, {Answer::NotSentOut()},
       {"GET https 8080", "POST https 8080"}, false,
       {L"D|get server time failed https=1 http code=200", L"D|post dump failed https=1 http code=200"}},
      {"http unanswered: no fallback", false, {Answer::Silent()}, {Answer::Silent()},
       {"GET http 8080", "POST http 8080"}, false,
       {L"D|get server time failed https=0 http code=0", L"D|post dump failed https=0 http code=0"}},
      {"error codes count as answered", true, {Answer::Status(404)}, {Answer::Status(500)},
       {"GET https 8080", "POST https 8080"}, false,
       {L"D|get server time failed https=1 http code=404", L"V|post dump succeed https=1"}},
      {"unreadable time reply", false, {Answer::Status(200, "{\"dumptimestamp\":\"1234567\"}")},
       {Answer::Status(403)}, {"GET http 8080", "POST http 8080"}, false,
       {L"D|get server time failed https=0 http code=200", L"V|post dump succeed https=0"}},
  };
  const std::string archive = PatternBytes(3000);
  for (const ExchangeCase& c : cases) {
    FakeTransport transport;
    transport.gets.assign(c.gets.begin(), c.gets.end());
    transport.posts.assign(c.posts.begin(), c.posts.end());
    LogCapture log;
    DumpUploader uploader(transport);
    uploader.SetIdentity(L"dev-1", L"8", L"");
    const int32_t before = LocalClockTime();
    uploader.UploadDump(L"127.0.0.1", 8080, reinterpret_cast<const BYTE*>(archive.data()),
                        static_cast<uint32_t>(archive.size()), c.https);
    const int32_t after = LocalClockTime();

    std::vector<std::string> seen;
    for (const Request& r : transport.requests) seen.push_back(Describe(r));
    EXPECT_EQ(c.requests, seen) << c.what;
    EXPECT_EQ(c.log, log.Lines()) << c.what;

    // Every post carries the same resource, signed over the time that was used.
    std::wstring firstPost;
    for (const Request& r : transport.requests) {
      if (!r.post) {
        EXPECT_EQ(kServerTimeResource, r.path);
        EXPECT_EQ(L"Cookie:OVSESS=", r.header);
        continue;
      }
      EXPECT_EQ(1, r.partSelector);
      EXPECT_EQ(archive, r.data);
      if (firstPost.empty()) firstPost = r.path;
      EXPECT_EQ(firstPost, r.path) << c.what;
    }
    const size_t at = firstPost.find(L"&time=");
    ASSERT_NE(std::wstring::npos, at) << c.what;
    const int32_t time = _wtoi(firstPost.c_str() + at + 6);
    if (c.servedTime) {
      EXPECT_EQ(1234567, time) << c.what;
    } else {
      EXPECT_LE(before, time) << c.what;
      EXPECT_GE(after, time) << c.what;
    }
    const std::string sign = MakeRequestSign(reinterpret_cast<const BYTE*>(archive.data()),
                                             static_cast<uint32_t>(archive.size()), time, L"", L"dev-1", L"8");
    EXPECT_EQ(BuildDumpResource(L"dev-1", L"8", time, std::wstring(sign.begin(), sign.end())), firstPost) << c.what;
  }
}

TEST(SplitUrlTest, HostPathAndPort) {
  struct Case { const wchar_t* url; const wchar_t* host; const wchar_t* path; int port; };
  const Case cases[] = {
      {L"https://dump.example/", L"dump.example", L"", 1},
      {L"http://127.0.0.1:8080/", L"127.0.0.1", L"", 8080},
      {L"http://stat.example/statistics?clienttype=8&version=1", L"stat.example", L"statistics?clienttype=8&version=1", 1},
      {L"HTTPS://Host:444/a/b", L"Host", L"a/b", 444},
      {L"host.only/path", L"host.only", L"path", 1},
      {L"ftp://h:port/x", L"h", L"x", 0},          // not a number
      {L"http://h:99x/x", L"h", L"x", 99},
      {L"http://h/p:1/q", L"h", L"p:1/q", 1},       // a colon after the first '/' is path
      {L"http://host.example", L"keep", L"keep", 1},// no '/' behind the host: nothing changes
      {L"", L"keep", L"keep", 1},
  };
  CReportData data;
  for (const Case& c : cases) {
    std::wstring host = L"keep", path = L"keep";
    int port = 1;
    data.SplitUrl(c.url, host, path, port);
    EXPECT_EQ(c.host, host) << c.url;
    EXPECT_EQ(c.path, path) << c.url;
    EXPECT_EQ(c.port, port) << c.url;
  }
  std::wstring host = L"keep", path = L"keep";
  int port = 1;
  data.SplitUrl(nullptr, host, path, port);
  EXPECT_EQ(L"keep", host);
}

TEST(StatisticsUrlTest, BuiltInOrConfiguredUrlWithTheFixedQuery) {
  const std::string query = "?clienttype=8&devuid=&channel=00000000&version=";
  struct Case { bool https; const char* configured; const char* version; std::string url; };
  const Case cases[] = {
      {false, "", "0,0,0,0", std::string(kBuiltinStatisticsUrl) + query + "0,0,0,0"},
      {true, "", "7.22.0.8", std::string(kBuiltinStatisticsHttpsUrl) + query + "7.22.0.8"},
      {true, "http://127.0.0.1:81/stat", "1", "http://127.0.0.1:81/stat" + query + "1"},
      {false, "http://h/s?a=1", "1", "http://h/s?a=1" + query + "1"},   // a second '?'
  };
  for (const Case& c : cases) EXPECT_EQ(c.url, ComposeStatisticsUrl(c.https, c.configured, c.version));
  EXPECT_EQ(0, std::string(kBuiltinStatisticsUrl).find("http://"));
  EXPECT_EQ(std::string(kBuiltinStatisticsUrl).substr(7), std::string(kBuiltinStatisticsHttpsUrl).substr(8));
}

namespace {
std::string Decipher(const std::string& data) {
  std::string out(data.size(), '\0');
  Rc4Encipher(data.data(), static_cast<int>(data.size()), &out[0]);
  return out;
}
}  // namespace

TEST(PostCrashStatisticsTest, UploadAddressComesFromTheUploadUrl) {
  struct Case { const wchar_t* url; const wchar_t* host; int port; };
  const Case cases[] = {
      {L"https://dump.example/", L"dump.example", 443},
      {L"https://dump.example:8443/", L"dump.example", 8443},
      {L"http://dump.example/", L"dump.example", 80},
      {L"HTTPS://dump.example/", L"dump.example", 80},
      {L"https://dump.example", L"dump.nimbrel.com", 443},   // no '/': the built-in host stays
  };
  for (const Case& c : cases) {
    FakeTransport transport;
    CReportData data;
    data.UseTransport(transport);
    data.m_uploadUrl = c.url;
    data.PostCrashStatistics();
    EXPECT_EQ(c.host, data.m_uploadHost) << c.url;
    EXPECT_EQ(c.port, data.m_uploadPort) << c.url;
  }
}

TEST(PostCrashStatisticsTest, PostsTheEncipheredTextAndRetriesOnlyAnUnansweredHttps) {
  struct Case {
    const char* what; int statHttps; std::vector<Answer> posts;
    std::vector<std::string> requests; Lines log;
  };
  const std::vector<Case> cases = {
      {"http answered", 0, {Answer::Status(200)}, {"POST http 80"},
       {L"D|post crash statisitc return https=0 success=1 http code=200"}},
      {"http error code", 0, {Answer::Status(500)}, {"POST http 80"},
       {L"D|post crash statisitc return https=0 success=1 http code=500"}},
      {"https answered", 1, {Answer::Status(404)}, {"POST https 443"},
       {L"D|post crash statisitc return https=1 success=1 http code=404"}},
      {"https unanswered", 1, {Answer::Silent(), Answer::Status(200)}, {"POST https 443", "POST http 80"},
       {L"D|post crash statisitc failed with https, rollback to http",
        L"D|post crash statisitc with http success=1 http code=200"}},
      {"https unanswered, http never went out", 1, {Answer::Silent(), Answer::NotSentOut()},
       {"POST https 443", "POST http 80"},
       {L"D|post crash statisitc failed with https, rollback to http",
        L"D|post crash statisitc with http success=0 http code=0"}},
      {"https never went out", 1, {Answer::NotSentOut()}, {"POST https 443"},
       {L"D|post crash statisitc return https=1 success=0 http code=200"}},
      {"http unanswered", 0, {Answer::Silent()}, {"POST http 80"},
       {L"D|post crash statisitc return https=0 success=0 http code=0"}},
  };
  for (const Case& c : cases) {
    FakeTransport transport;
    transport.posts.assign(c.posts.begin(), c.posts.end());
    CReportData data;
    data.UseTransport(transport);
    data.m_uploadUrl = L"http://127.0.0.1:8080/";
    data.m_statHttps = c.statHttps;
    data.m_clientVersion = L"7.22.0.8";
    data.m_statText = L"client=sample@#\u4e2d\u6587@#exception_code=0xc0000005";
    LogCapture log;
    EXPECT_EQ(0, data.PostCrashStatistics());
    std::vector<std::string> seen;
    for (const Request& r : transport.requests) {
      seen.push_back(Describe(r));
      EXPECT_EQ(0, r.partSelector);
      EXPECT_EQ(L"stat.nimbrel.com", r.host) << c.what;   // no debugset.ini beside the test
      EXPECT_EQ(L"statistics?clienttype=8&devuid=&channel=00000000&version=7.22.0.8", r.path);
      EXPECT_EQ("client=sample@#\xe4\xb8\xad\xe6\x96\x87@#exception_code=0xc0000005", Decipher(r.data));
    }
    EXPECT_EQ(c.requests, seen) << c.what;
    EXPECT_EQ(c.log, log.Lines()) << c.what;
  }
}

TEST(PostCrashStatisticsTest, EmptyTextIsAnEmptyPart) {
  FakeTransport transport;
  CReportData data;
  data.UseTransport(transport);
  data.PostCrashStatistics();
  ASSERT_EQ(1u, transport.requests.size());
  EXPECT_EQ("", transport.requests[0].data);
  const std::wstring& path = transport.requests[0].path;
  EXPECT_EQ(L"&version=", path.substr(path.size() - 9));
}

TEST(UploadReportTest, PostsTheArchiveOfBothFilesAndDeletesIt) {
  ScratchDirectory dir;
  const std::string log = "crash log \xff\xfe text", dump = PatternBytes(70000);
  WriteBytes(dir.File(L"client_info.txt"), log);
  WriteBytes(dir.File(L"Nimbrel.dmp"), dump);
  const std::wstring archive = GetReportDirectory() + L"ExceptionReport.tgz";

  FakeTransport transport;
  transport.gets.push_back(Answer::Status(200, "{\"dumptimestamp\":99}"));
  CReportData data;
  data.UseTransport(transport);
  data.m_crashLogPath = dir.File(L"client_info.txt");
  data.m_dumpFilePath = dir.File(L"Nimbrel.dmp");
  data.m_uploadUrl = L"http://127.0.0.1:8080/";
  data.m_deviceId = std::wstring(70, L'z');
  data.PostCrashStatistics();
  transport.requests.clear();
  data.UploadReport();

  ASSERT_EQ(2u, transport.requests.size());
  const Request& post = transport.requests[1];
  EXPECT_EQ(L"127.0.0.1", post.host);
  EXPECT_EQ(8080, post.port);
  EXPECT_NE(std::wstring::npos, post.path.find(L"device_id=" + std::wstring(64, L'z') + L"&device_type=8&time=99&"));
  // The posted bytes are the archive: unpack them through a file.
  WriteBytes(dir.File(L"posted.tgz"), post.data);
  const std::string tar = Gunzip(dir.File(L"posted.tgz"));
  ASSERT_EQ(512u + 512 + 512 + 70144 + 1024, tar.size());
  EXPECT_EQ("client_info.txt", std::string(tar.c_str()));
  EXPECT_EQ(log, tar.substr(512, log.size()));
  EXPECT_EQ("Nimbrel.dmp", std::string(tar.c_str() + 1024));
  EXPECT_EQ(dump, tar.substr(1536, dump.size()));

  EXPECT_FALSE(FileExists(archive));
  EXPECT_TRUE(FileExists(data.m_crashLogPath));
  EXPECT_TRUE(FileExists(data.m_dumpFilePath));
}

TEST(UploadReportTest, AnArchiveThatCannotBeWrittenSendsNothingOld) {
  const std::wstring archive = GetReportDirectory() + L"ExceptionReport.tgz";
  // An older archive held open without sharing: the new one cannot be made.
  WriteBytes(archive, "stale archive of an earlier crash");
  HANDLE held = ::CreateFileW(archive.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  FakeTransport transport;
  CReportData data;
  data.UseTransport(transport);
  data.m_uploadUrl = L"http://127.0.0.1:8080/";
  data.PostCrashStatistics();
  transport.requests.clear();
  LogCapture log;
  data.UploadReport();
  ::CloseHandle(held);
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_TRUE(log.Lines().empty());
  ::DeleteFileW(archive.c_str());
}
