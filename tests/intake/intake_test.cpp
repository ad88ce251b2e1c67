#include <gtest/gtest.h>
#include <windows.h>

#include "base/str_conv.h"
#include "intake/sharing_memory.h"

namespace {

std::wstring UniqueName(const wchar_t* base) {
  static int counter = 0;
  return std::wstring(base) + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

TEST(SharingMemory, NameNobodyCreatedReadsAsAllZero) {
  KELP::CSharingMemory<TExceptionContext> block;
  ASSERT_TRUE(block.Open(UniqueName(L"Nobody").c_str()));
  ASSERT_NE(block.Get(), nullptr);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(block.Get());
  for (size_t i = 0; i < sizeof(TExceptionContext); ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(block.Get()->ExceptionCode, 0u);
}

TEST(SharingMemory, SeesWhatTheClientWroteAndReopensCleanly) {
  const std::wstring first = UniqueName(L"Client"), second = UniqueName(L"Client");
  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TExceptionContext),
                                        first.c_str());
  ASSERT_NE(mapping, nullptr);
  auto* written = static_cast<TExceptionContext*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  written->ExceptionCode = 0xC0000005;
  written->ProcessId = 42;

  KELP::CSharingMemory<TExceptionContext> block;
  EXPECT_FALSE(block.Open(nullptr));
  EXPECT_EQ(block.Get(), nullptr);
  ASSERT_TRUE(block.Open(first.c_str()));
  EXPECT_EQ(block.Get()->ExceptionCode, 0xC0000005u);
  EXPECT_EQ(block.Get()->ProcessId, 42u);
  ::UnmapViewOfFile(written);
  ::CloseHandle(mapping);
  EXPECT_EQ(block.Get()->ProcessId, 42u) << "our mapping keeps the block alive";

  ASSERT_TRUE(block.Open(second.c_str())) << "open again closes the old mapping first";
  EXPECT_EQ(block.Get()->ExceptionCode, 0u);
  block.Close();
  EXPECT_EQ(block.Get(), nullptr);
  block.Close();
  EXPECT_EQ(block.Get(), nullptr);
}

TEST(SharingMemory, TextsStopAtTheirFieldEvenWithoutANul) {
  TExceptionContext record = {};
  for (wchar_t& c : record.LogTail) c = L'T';
  for (wchar_t& c : record.InfoLine) c = L'I';
  EXPECT_EQ(fp::FieldText(record.LogTail), std::wstring(260, L'T'));
  EXPECT_EQ(fp::FieldText(record.InfoLine), std::wstring(1024, L'I'));
  EXPECT_EQ(fp::FieldText(record.DumpFile), L"");
  record.ExtraInfo[0] = L'a';
  record.ExtraInfo[1] = L'\0';
  record.ExtraInfo[2] = L'b';
  EXPECT_EQ(fp::FieldText(record.ExtraInfo), L"a");
}

}  // namespace
