// The crash log: its layout row by row over a fake source, the line formats
// of both editions, and the real file (byte-order mark, CR LF, replaced not
// appended, the message box when it cannot be created).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>

#include "analysis/crash_log.h"
#include "fixture_files.h"

namespace {

class FakeSource : public CrashLogSource {
 public:
  bool processOpens = true;
  bool threadSnapshot = true;
  bool moduleSnapshot = true;
  unsigned threadCount = 3;
  std::vector<ModuleLine> modules;
  bool throwInModules = false;
  std::vector<DWORD> stacksWritten;
  FaultLocation fault{L"C:\\app\\client.exe", 1, 0x564};

  std::wstring InfoHeader(const std::wstring& infoText) override { return L"[header:" + infoText + L"]"; }
  bool LocateFault(DWORD, ULONG_PTR, FaultLocation& location) override {
    if (!processOpens) return false;
    location = fault;
    return true;
  }
  void WriteCallStack(const CONTEXT*, DWORD, DWORD threadId, TextSink& out) override {
    stacksWritten.push_back(threadId);
    out.Write(L"\nCall stack:\n(frames of " + std::to_wstring(threadId) + L")\n");
  }
  bool CountThreads(DWORD, unsigned& count) override {
    count = threadCount;
    return threadSnapshot;
  }
  bool ListModules(DWORD, const std::function<void()>& begin,
                   const std::function<void(const ModuleLine&)>& each) override {
    if (!moduleSnapshot) return false;
    begin();
    for (const ModuleLine& module : modules) {
      if (throwInModules && &module == &modules.back()) throw std::bad_alloc();
      each(module);
    }
    return true;
  }
};

CrashLogRequest Request(DWORD threadId, DWORD mainThreadId) {
  static const std::wstring info = L"info";
  static const std::wstring closing = L"extra\r\nfulldump=null";
  static const std::wstring tail = L"tail";
  CrashLogRequest request;
  request.exceptionCode = 0xC0000005;
  request.faultAddress = 0x140001564;
  request.processId = 40;
  request.threadId = threadId;
  request.mainThreadId = mainThreadId;
  request.infoText = info;
  request.closingText = closing;
  request.tailText = tail;
  return request;
}

const std::wstring kStars(100, L'*');

TEST(CrashLogLayout, AllRowsInOrder) {
  FakeSource source;
  source.modules = {{L"client.exe", 0x140000000, 0xE1000, 0x00070016, 0x00000008},
                    {L"a_module_name_longer_than_16.dll", 0x7B600000, 0x195000, 0, 0}};
  StringTextSink out;
  EXPECT_TRUE(WriteCrashLogText(out, source, Request(12, 11)));
  const std::wstring expected =
      L"[header:info]"
      L"Fault address: 0000000140001564  0001:00000564 C:\\app\\client.exe    Exception code = 0xC0000005\n"
      L"\nCall stack:\n(frames of 12)\n"
      L"\nMain thread call stack:\n"
      L"\nCall stack:\n(frames of 11)\n"
      L"All 3 thread(s) exist.\n"
      L"\n" + kStars + L"\n"
      L"module name: client.exe       address: 0000000140000000 module size: 000E1000 version: 7.22.0.8\n"
      L"module name: a_module_name_longer_than_16.dll address: 000000007B600000 module size: 00195000 version: "
      L"0.0.0.0\n"
      L"\nextra\r\nfulldump=null\ntail";
  EXPECT_EQ(out.text(), expected);
  EXPECT_EQ(source.stacksWritten, (std::vector<DWORD>{12, 11}));
}

TEST(CrashLogLayout, RowsLeftOutWhenTheirSourceFails) {
  struct Case {
    const char* label;
    DWORD threadId, mainThreadId;
    bool threadSnapshot, moduleSnapshot;
    bool mainBlock, threadLine, stars;
  };
  const Case cases[] = {
      {"same thread: one stack block", 7, 7, true, true, false, true, true},
      {"no thread snapshot", 7, 8, false, true, true, false, true},
      {"no module snapshot", 7, 8, true, false, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeSource source;
    source.threadSnapshot = c.threadSnapshot;
    source.moduleSnapshot = c.moduleSnapshot;
    StringTextSink out;
    EXPECT_TRUE(WriteCrashLogText(out, source, Request(c.threadId, c.mainThreadId)));
    const std::wstring& text = out.text();
    EXPECT_EQ(text.find(L"Main thread call stack:") != std::wstring::npos, c.mainBlock);
    EXPECT_EQ(text.find(L"thread(s) exist.") != std::wstring::npos, c.threadLine);
    EXPECT_EQ(text.find(kStars) != std::wstring::npos, c.stars);
    const std::wstring end = L"\nextra\r\nfulldump=null\ntail";
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
  }
}

TEST(CrashLogLayout, EmptySnapshotsStillWriteTheirRows) {
  FakeSource source;
  source.threadCount = 0;
  StringTextSink out;
  WriteCrashLogText(out, source, Request(1, 1));
  EXPECT_NE(out.text().find(L"All 0 thread(s) exist.\n\n" + kStars + L"\n\nextra"), std::wstring::npos);
}

TEST(CrashLogLayout, ProcessThatCannotBeOpenedLeavesTheHeaderAlone) {
  FakeSource source;
  source.processOpens = false;
  StringTextSink out;
  EXPECT_FALSE(WriteCrashLogText(out, source, Request(1, 2)));
  EXPECT_EQ(out.text(), L"[header:info]");
  EXPECT_TRUE(source.stacksWritten.empty());
}

TEST(CrashLogLayout, ExceptionWritesTheApologyWhereItStopped) {
  FakeSource source;
  source.modules = {{L"a.dll", 0x10000000, 0x1000, 0, 0}, {L"b.dll", 0x20000000, 0x1000, 0, 0}};
  source.throwInModules = true;
  StringTextSink out;
  EXPECT_TRUE(WriteCrashLogText(out, source, Request(1, 1)));
  const std::wstring& text = out.text();
  EXPECT_NE(text.find(L"module name: a.dll"), std::wstring::npos);
  EXPECT_EQ(text.find(L"b.dll"), std::wstring::npos);
  EXPECT_EQ(text.substr(text.size() - 19), L"Sorry, dump failed\n");
  EXPECT_EQ(text.find(L"extra"), std::wstring::npos) << "nothing after the point reached";
}

TEST(CrashLogLayout, HeaderWithoutLineBreakRunsIntoTheFaultLine) {
  FakeSource source;
  StringTextSink out;
  WriteCrashLogText(out, source, Request(1, 1));
  EXPECT_EQ(out.text().find(L"[header:info]Fault address: "), 0u);
}

TEST(CrashLogLines, BothEditions) {
  const FaultLocation located{L"Z:\\app\\sample-client.exe", 1, 0x564};
  const FaultLocation outside{L"", 0, 0};
  EXPECT_EQ(FaultAddressLine(8, 0x00401564, located, 0xC0000005),
            L"Fault address: 00401564  0001:00000564 Z:\\app\\sample-client.exe    Exception code = 0xC0000005\n");
  EXPECT_EQ(FaultAddressLine(16, 0x0000000140001564, located, 0xC0000094),
            L"Fault address: 0000000140001564  0001:00000564 Z:\\app\\sample-client.exe    Exception code = "
            L"0xC0000094\n");
  EXPECT_EQ(FaultAddressLine(16, 0, outside, 0xC0000005),
            L"Fault address: 0000000000000000  0000:00000000     Exception code = 0xC0000005\n");
  const ModuleLine module{L"ntdll.dll", 0x170000000, 0x361000, 0x00060001, 0x1DB11D9B};
  EXPECT_EQ(ModuleListLine(16, module),
            L"module name: ntdll.dll        address: 0000000170000000 module size: 00361000 version: 6.1.7601.7579\n");
  const ModuleLine module32{L"ntdll.dll", 0x7C900000, 0xAF000, 0x00050001, 0x0A280B00};
  EXPECT_EQ(ModuleListLine(8, module32),
            L"module name: ntdll.dll        address: 7C900000 module size: 000AF000 version: 5.1.2600.2816\n");
}

// The real writer, with the box replaced so no one has to close it.
struct ShownBox {
  static int count;
  static std::wstring text, caption;
  static UINT style;
  static int WINAPI Show(HWND owner, LPCWSTR boxText, LPCWSTR boxCaption, UINT boxStyle) {
    ++count;
    text = boxText ? boxText : L"(null)";
    caption = boxCaption ? boxCaption : L"(null)";
    style = boxStyle;
    EXPECT_EQ(owner, nullptr);
    return IDOK;
  }
};
int ShownBox::count = 0;
std::wstring ShownBox::text, ShownBox::caption;
UINT ShownBox::style = 0;

class CrashLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCrashLogMessageBoxFunction(&ShownBox::Show);
    ShownBox::count = 0;
  }
  void TearDown() override { SetCrashLogMessageBoxFunction(nullptr); }

  static std::string Bytes(const std::wstring& path) {
    std::ifstream in(Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string Utf16(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  }
  TempDirectory directory;
};

TEST_F(CrashLogFile, CannotBeCreated) {
  const std::wstring path = directory.path() + L"missing\\client_info.txt";
  CONTEXT context = {};
  EXPECT_FALSE(WriteCrashLog(1, 0, ::GetCurrentProcessId(), ::GetCurrentThreadId(), &context,
                             ::GetCurrentThreadId(), &context, path, L"", L"", L""));
  EXPECT_EQ(ShownBox::count, 1);
  EXPECT_EQ(ShownBox::style, static_cast<UINT>(MB_OK | MB_ICONERROR));
  // This test program carries no string table: both texts are empty.
  EXPECT_EQ(ShownBox::text, L"");
  EXPECT_EQ(ShownBox::caption, L"");
  EXPECT_FALSE(FileExists(path));
}

TEST_F(CrashLogFile, ProcessGoneLeavesBomAndHeader) {
  const std::wstring path = directory.path() + L"client_info.txt";
  TouchFile(path, std::string(5000, 'x'));  // replaced, not appended to
  CONTEXT context = {};
  // Process id 0 is the idle process: it can never be opened.
  EXPECT_FALSE(WriteCrashLog(1, 0, 0, 1, &context, 1, &context, path, L"free text\nline two", L"c", L"t"));
  EXPECT_EQ(ShownBox::count, 0);
  EXPECT_EQ(Bytes(path), "\xFF\xFE" + Utf16(L"free text\r\nline two"));
}

TEST_F(CrashLogFile, OwnProcessWithLineEnds) {
  const std::wstring path = directory.path() + L"own.txt";
  CONTEXT context = {};
  context.ContextFlags = CONTEXT_FULL;
  ::RtlCaptureContext(&context);
  ASSERT_TRUE(WriteCrashLog(0xC0000005, reinterpret_cast<ULONG_PTR>(&WriteCrashLog), ::GetCurrentProcessId(),
                            ::GetCurrentThreadId(), &context, ::GetCurrentThreadId(), &context, path,
                            L"OS VERSION: a  IM VERSION: b  IP: 1.2.3.4  OrvelID: c", L"extra\r\nfulldump=null",
                            L"tail"));
  const std::string bytes = Bytes(path);
  ASSERT_GT(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(bytes.find(Utf16(L"OS VERSION: a    IM VERSION: b    IP: 1.2.3.4    OrvelID: c    \r\nSN: 01")), 2u);
  EXPECT_NE(bytes.find(Utf16(L"\r\n\r\nFault address: ")), std::string::npos);
  EXPECT_NE(bytes.find(Utf16(L"Exception code = 0xC0000005\r\n")), std::string::npos);
  EXPECT_NE(bytes.find(Utf16(L"\r\nCall stack:\r\nAddress   Offset    Frame     Function      SourceFile\r\n")),
            std::string::npos);
  EXPECT_NE(bytes.find(Utf16(L"All ")), std::string::npos);
  EXPECT_NE(bytes.find(Utf16(L"module name: analysis_tests.exe")), std::string::npos);
  // A CR LF inside a passed text reaches the file as CR CR LF.
  const std::string end = Utf16(L"\r\n\r\nextra\r\r\nfulldump=null\r\ntail");
  ASSERT_GE(bytes.size(), end.size());
  EXPECT_EQ(bytes.substr(bytes.size() - end.size()), end);
  for (size_t i = 2; i + 3 < bytes.size(); i += 2) {
    if (bytes[i] == '\n' && bytes[i + 1] == 0) {
      ASSERT_EQ(bytes[i - 2], '\r') << "bare line feed at byte " << i;
    }
  }
}

}  // namespace
