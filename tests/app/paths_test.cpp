#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <fstream>
#include <set>

#include "app/paths.h"
#include "app/report_driver.h"
#include "fixture_files.h"

namespace {

TEST(FullDumpDecision, SettingsTable) {
  struct Case {
    const char* label;
    UINT create;
    const wchar_t* list;
    DWORD code;
    bool expected;
  } cases[] = {
      {"disabled", 0, L"", 0xC0000005, false},
      {"disabled whatever the list", 0, L"0xc0000005", 0xC0000005, false},
      {"enabled, empty list: every code", 1, L"", 0x80000003, true},
      {"code in capitals, also the X", 1, L"0XC0000005", 0xC0000005, true},
      {"other code not in the list", 1, L"0XC0000005", 0xC00000FD, false},
      {"two codes, any separator", 5, L"0xC0000005;junk 0xc00000fd", 0xC00000FD, true},
      {"substring: one more digit still matches", 1, L"0xc00000051", 0xC0000005, true},
      {"code needs all eight digits", 1, L"0x5", 0x5, false},
      {"eight digits with leading zeros", 1, L"0x00000005", 0x5, true},
  };
  for (const Case& c : cases) EXPECT_EQ(FullDumpWanted(c.create, c.list, c.code), c.expected) << c.label;
}

// ShouldWriteFullDump reads DebugSet.ini beside the running executable,
// which for this test is the test program itself.
class DebugSetFile : public ::testing::Test {
 protected:
  void Write(const char* text) {
    std::ofstream out(Narrow(m_path), std::ios::binary);
    out << text;
  }
  void TearDown() override { ::DeleteFileW(m_path.c_str()); }
  std::wstring m_path = GetExeDirectory() + L"DebugSet.ini";
};

TEST_F(DebugSetFile, ReadsBothKeysOfComSet) {
  ::DeleteFileW(m_path.c_str());
  EXPECT_FALSE(ShouldWriteFullDump(0xC0000005)) << "no settings file: no full dump";
  Write("[ComSet]\r\nCreateFullDump=1\r\n");
  EXPECT_TRUE(ShouldWriteFullDump(0xC0000005));
  Write("[ComSet]\r\nCreateFullDump=1\r\nFullDumpExceptionCode=0XC00000FD,0xC0000094\r\n");
  EXPECT_FALSE(ShouldWriteFullDump(0xC0000005));
  EXPECT_TRUE(ShouldWriteFullDump(0xC00000FD));
  Write("[NetWork]\r\nCreateFullDump=1\r\n");
  EXPECT_FALSE(ShouldWriteFullDump(0xC0000005)) << "only section ComSet counts";
}

TEST(FullDumpRing, GoesRoundAndLeavesAGap) {
  TempDirectory dir;
  const std::wstring base = dir.path();
  std::vector<std::wstring> written;
  for (int report = 0; report < 6; ++report) {
    std::wstring path = ChooseFullDumpPath(base);
    written.push_back(path.substr(base.size()));
    TouchFile(path);
    std::set<std::wstring> present;
    for (int i = 0; i < 4; ++i)
      if (FileExists(base + L"full." + std::to_wstring(i) + L".dmp")) present.insert(std::to_wstring(i));
    EXPECT_LE(present.size(), 3u) << "a gap marks where the next one goes";
  }
  EXPECT_EQ(written, (std::vector<std::wstring>{L"full.0.dmp", L"full.1.dmp", L"full.2.dmp", L"full.3.dmp",
                                                L"full.0.dmp", L"full.1.dmp"}));
}

TEST(FullDumpRing, AllFourPresentOverwritesZeroAndDeletesOne) {
  TempDirectory dir;
  for (int i = 0; i < 4; ++i) TouchFile(dir.path() + L"full." + std::to_wstring(i) + L".dmp");
  EXPECT_EQ(ChooseFullDumpPath(dir.path()), dir.path() + L"full.0.dmp");
  EXPECT_FALSE(FileExists(dir.path() + L"full.1.dmp"));
  EXPECT_TRUE(FileExists(dir.path() + L"full.0.dmp")) << "the one to write is left for the writer";

  FullDumpChoice fresh = ChooseFullDumpPath(L"D:\\r\\", [](const std::wstring&) { return false; });
  EXPECT_EQ(fresh.path, L"D:\\r\\full.0.dmp");
  EXPECT_EQ(fresh.deleteFirst, L"D:\\r\\full.1.dmp");
}

TEST(ReportDirectory, UnderTempAndCreated) {
  std::wstring first = GetReportDirectory();
  EXPECT_EQ(first, GetTempBase() + L"orvel\\Nimbrel\\");
  EXPECT_EQ(GetReportDirectory(), first);
  DWORD attributes = ::GetFileAttributesW(first.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(ReportDirectory, LongTempPathIsUsedWhole) {
  // Windows answers a too-small buffer with the room it needs and leaves the
  // buffer unfilled; the base must then be the whole path, not that buffer.
  std::wstring longPath = L"C:\\Users\\someone\\AppData\\Local\\Temp\\";
  while (longPath.size() < 300) longPath += L"a_rather_long_directory_name\\";
  int calls = 0;
  auto windowsLike = [&](DWORD size, LPWSTR buffer) -> DWORD {
    ++calls;
    if (size <= longPath.size()) return static_cast<DWORD>(longPath.size() + 1);
    longPath.copy(buffer, longPath.size());
    buffer[longPath.size()] = L'\0';
    return static_cast<DWORD>(longPath.size());
  };
  EXPECT_EQ(TempBaseFrom(windowsLike), longPath);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(TempBaseFrom([](DWORD, LPWSTR) -> DWORD { return 0; }), L"d:\\");
  // A path that keeps growing between the two calls is not trusted.
  EXPECT_EQ(TempBaseFrom([](DWORD size, LPWSTR) -> DWORD { return size + 100; }), L"d:\\");
}

TEST(ModuleDirectory, EndsInABackslash) {
  std::wstring dir = GetExeDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), L'\\');
  EXPECT_EQ(GetModuleDirectory(reinterpret_cast<HMODULE>(static_cast<INT_PTR>(0x10))), L"[n/a]");
}

TEST(VersionInfo, ReadsRealFiles) {
  const std::wstring dir = GetExeDirectory();
  ModuleVersionInfo with = ReadModuleVersionInfo(dir + L"version_with_translation.dll");
  EXPECT_EQ(with.FixedInfo.dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(with.FixedInfo.dwFileVersionLS, 0x00030004u);
  EXPECT_EQ(with.FixedInfo.dwProductVersionMS, 0x00050006u);
  EXPECT_EQ(with.FixedInfo.dwProductVersionLS, 0x00070008u);
  EXPECT_EQ(with.ProductName, L"Fixture Product") << "the second translation has the name";

  ModuleVersionInfo without = ReadModuleVersionInfo(dir + L"version_without_translation.dll");
  EXPECT_EQ(without.FixedInfo.dwFileVersionMS, 0x00090008u);
  EXPECT_EQ(without.ProductName, L"") << "no translation table: no name";

  for (const std::wstring& path : {dir + L"no_such_file.dll", std::wstring(), dir + L"DebugSet.none"}) {
    ModuleVersionInfo none = ReadModuleVersionInfo(path);
    EXPECT_EQ(none.FixedInfo.dwSignature, 0u);
    EXPECT_EQ(none.FixedInfo.dwFileVersionMS, 0u);
    EXPECT_EQ(none.ProductName, L"");
  }
  // A program with no version resource at all (this test).
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(ReadModuleVersionInfo(self).FixedInfo.dwFileVersionMS, 0u);
}

TEST(VersionInfo, QueryNeedsABlockAndADestination) {
  void* value = nullptr;
  UINT length = 0;
  EXPECT_EQ(QueryVersionValue(nullptr, L"\\", &value, &length), E_FAIL);
  VersionBlock block;
  ASSERT_EQ(LoadVersionBlock(GetExeDirectory() + L"version_with_translation.dll", block), S_OK);
  EXPECT_EQ(QueryVersionValue(block, L"\\", nullptr, &length), E_FAIL);
  EXPECT_EQ(QueryVersionValue(block, L"\\StringFileInfo\\04090000\\Nothing", &value, &length), E_FAIL);
  EXPECT_EQ(LoadVersionBlock(L"", block), E_FAIL);
}

}  // namespace
