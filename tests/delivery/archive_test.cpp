#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "delivery/report_archive.h"
#include "test_files.h"

namespace {
struct TarEntry {
  std::string header;
  std::string data;
};

std::string Field(const std::string& header, size_t offset, size_t length) { return header.substr(offset, length); }

unsigned long Octal(const std::string& header, size_t offset, size_t length) {
  return std::strtoul(Field(header, offset, length).c_str(), nullptr, 8);
}

// Splits an uncompressed archive into its members, checking the framing on
// the way: whole blocks, two zero blocks at the end and nothing after them.
std::vector<TarEntry> SplitTar(const std::string& tar) {
  std::vector<TarEntry> entries;
  EXPECT_EQ(0u, tar.size() % 512);
  size_t at = 0;
  while (at + 512 <= tar.size()) {
    std::string header = tar.substr(at, 512);
    if (header == std::string(512, '\0')) break;
    const unsigned long size = Octal(header, 124, 12);
    const size_t blocks = (size + 511) / 512;
    TarEntry entry{header, tar.substr(at + 512, blocks * 512)};
    entries.push_back(entry);
    at += 512 + blocks * 512;
  }
  EXPECT_EQ(tar.size(), at + 1024) << "two zero blocks end the archive";
  if (at + 1024 <= tar.size()) {
    EXPECT_EQ(std::string(1024, '\0'), tar.substr(at, 1024));
  }
  return entries;
}

unsigned Checksum(std::string header) {
  std::memset(&header[148], ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : header) sum += c;
  return sum;
}
}  // namespace

TEST(TarHeaderTest, FieldsAreLaidOutByteForByte) {
  unsigned char block[kTarBlock];
  BuildTarHeader("client_info.txt", 513, 1700000000u, block);
  const std::string h(reinterpret_cast<const char*>(block), sizeof block);
  EXPECT_EQ(std::string("client_info.txt\0", 16), Field(h, 0, 16));
  EXPECT_EQ(std::string(84, '\0'), Field(h, 16, 84));
  EXPECT_EQ(std::string("0100666\0", 8), Field(h, 100, 8));
  EXPECT_EQ(std::string("0000000\0", 8), Field(h, 108, 8));
  EXPECT_EQ(std::string("0000000\0", 8), Field(h, 116, 8));
  EXPECT_EQ(std::string("00000001001\0", 12), Field(h, 124, 12));
  EXPECT_EQ(std::string("14524770400\0", 12), Field(h, 136, 12));
  // six octal digits, then space, then NUL
  char expected[9];
  std::snprintf(expected, sizeof expected, "%06o ", Checksum(h));
  EXPECT_EQ(std::string(expected, 8), Field(h, 148, 8));
  EXPECT_EQ(' ', h[154]);
  EXPECT_EQ('\0', h[155]);
  EXPECT_EQ('0', h[156]);
  EXPECT_EQ(std::string(100, '\0'), Field(h, 157, 100));
  EXPECT_EQ(std::string("ustar\0" "00", 8), Field(h, 257, 8));
  EXPECT_EQ(std::string(512 - 265, '\0'), Field(h, 265, 512 - 265));
}

TEST(TarHeaderTest, NamesLongerThanTheFieldKeepItsNul) {
  unsigned char block[kTarBlock];
  BuildTarHeader(std::string(150, 'n'), 0, 0, block);
  EXPECT_EQ(std::string(99, 'n') + '\0', std::string(reinterpret_cast<const char*>(block), 100));
}

TEST(MemberBlocksTest, DataAlwaysMatchesTheDeclaredSize) {
  struct Case {
    const char* what;
    uint32_t declared;
    size_t available;   // what the source delivers before it ends
    size_t chunk;       // how much one read gives at most
    size_t blocks;
  };
  const Case cases[] = {
      {"empty", 0, 0, 512, 0},
      {"exactly one block", 512, 512, 512, 1},
      {"one byte over", 513, 513, 512, 2},
      {"short reads", 1500, 1500, 7, 3},
      {"grew after its size was taken", 600, 5000, 512, 2},
      {"shrank after its size was taken", 1200, 300, 512, 3},
  };
  for (const Case& c : cases) {
    const std::string source = PatternBytes(c.available);
    size_t position = 0;
    std::string written;
    WriteMemberBlocks(
        c.declared,
        [&](void* buffer, size_t count) {
          size_t n = std::min({count, c.chunk, source.size() - position});
          std::memcpy(buffer, source.data() + position, n);
          position += n;
          return n;
        },
        [&](const unsigned char* block) { written.append(reinterpret_cast<const char*>(block), 512); });
    ASSERT_EQ(c.blocks * 512, written.size()) << c.what;
    const size_t data = std::min<size_t>(c.declared, c.available);
    EXPECT_EQ(source.substr(0, data), written.substr(0, data)) << c.what;
    EXPECT_EQ(std::string(written.size() - data, '\0'), written.substr(data)) << c.what;
  }
}

TEST(ReportArchiveTest, MembersInListOrderWithTheirSizesAndTimes) {
  ScratchDirectory dir;
  const std::vector<std::pair<std::wstring, size_t>> files = {
      {L"client_info.txt", 513}, {L"Nimbrel.dmp", 512}, {L"empty.txt", 0}, {L"large.bin", 300000}};
  std::vector<std::wstring> members;
  for (const auto& [name, size] : files) {
    WriteBytes(dir.File(name), PatternBytes(size, static_cast<unsigned>(size)));
    members.push_back(dir.File(name));
  }
  // A fixed modification time, so the header's mtime can be checked exactly.
  HANDLE file = ::CreateFileW(members[0].c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  ULONGLONG ticks = (1600000000ULL + 11644473600ULL) * 10000000ULL;
  FILETIME when{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  ::SetFileTime(file, nullptr, nullptr, &when);
  ::CloseHandle(file);

  const std::wstring archive = dir.File(L"ExceptionReport.tgz");
  ASSERT_TRUE(WriteReportArchive(archive, members));
  const std::string tar = Gunzip(archive);
  const std::vector<TarEntry> entries = SplitTar(tar);
  ASSERT_EQ(files.size(), entries.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string name(files[i].first.begin(), files[i].first.end());
    const std::string& h = entries[i].header;
    EXPECT_EQ(name, std::string(h.c_str()));
    EXPECT_EQ(files[i].second, Octal(h, 124, 12)) << name;
    EXPECT_EQ(Checksum(h), Octal(h, 148, 6)) << name;
    const std::string content = PatternBytes(files[i].second, static_cast<unsigned>(files[i].second));
    EXPECT_EQ(content, entries[i].data.substr(0, content.size())) << name;
    EXPECT_EQ(std::string(entries[i].data.size() - content.size(), '\0'), entries[i].data.substr(content.size()));
  }
  EXPECT_EQ(1600000000ul, Octal(entries[0].header, 136, 12));
  EXPECT_EQ(512u, entries[1].data.size());
  EXPECT_EQ(1024u, entries[0].data.size());
  EXPECT_EQ(0u, entries[2].data.size());
}

TEST(ReportArchiveTest, EmptyOrMissingMembersLeaveOnlyTheEndBlocks) {
  ScratchDirectory dir;
  const std::wstring archive = dir.File(L"ExceptionReport.tgz");
  const std::vector<std::vector<std::wstring>> lists = {
      {}, {dir.File(L"client_info.txt"), dir.File(L"Nimbrel.dmp")}};
  for (const auto& list : lists) {
    ASSERT_TRUE(WriteReportArchive(archive, list));
    EXPECT_EQ(std::string(1024, '\0'), Gunzip(archive));
    // a gzip stream, not a bare tar
    const std::string raw = ReadBytes(archive);
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ('\x1f', raw[0]);
    EXPECT_EQ('\x8b', raw[1]);
  }
}

TEST(ReportArchiveTest, SkipsWhatCannotBeReadAndKeepsTheRest) {
  ScratchDirectory dir;
  WriteBytes(dir.File(L"client_info.txt"), "log");
  WriteBytes(dir.File(L"locked.dmp"), PatternBytes(2000));
  WriteBytes(dir.File(L"Nimbrel.dmp"), "dump");
  HANDLE held = ::CreateFileW(dir.File(L"locked.dmp").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  const std::wstring archive = dir.File(L"out.tgz");
  ASSERT_TRUE(WriteReportArchive(archive, {dir.File(L"client_info.txt"), dir.File(L"gone.txt"),
                                           dir.File(L"locked.dmp"), dir.File(L"Nimbrel.dmp")}));
  ::CloseHandle(held);
  const std::vector<TarEntry> entries = SplitTar(Gunzip(archive));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("client_info.txt", std::string(entries[0].header.c_str()));
  EXPECT_EQ("Nimbrel.dmp", std::string(entries[1].header.c_str()));
  EXPECT_EQ("dump", entries[1].data.substr(0, 4));
}

TEST(ReportArchiveTest, ReplacesAnEarlierArchiveAndFailsWhenItCannotBeCreated) {
  ScratchDirectory dir;
  const std::wstring archive = dir.File(L"ExceptionReport.tgz");
  WriteBytes(dir.File(L"a.txt"), PatternBytes(5000));
  WriteBytes(archive, PatternBytes(100000));
  ASSERT_TRUE(WriteReportArchive(archive, {dir.File(L"a.txt")}));
  ASSERT_TRUE(WriteReportArchive(archive, {dir.File(L"a.txt")}));
  EXPECT_EQ(1u, SplitTar(Gunzip(archive)).size());

  EXPECT_FALSE(WriteReportArchive(dir.File(L"no such folder\\x.tgz"), {dir.File(L"a.txt")}));
  EXPECT_FALSE(FileExists(dir.File(L"no such folder\\x.tgz")));
}

TEST(ReportArchiveTest, MemberNamesAreBaseNames) {
  EXPECT_EQ(L"client_info.txt", ArchiveMemberName(L"C:\\users\\x\\Temp\\orvel\\Nimbrel\\client_info.txt"));
  EXPECT_EQ(L"Nimbrel.dmp", ArchiveMemberName(L"Nimbrel.dmp"));
  EXPECT_EQ(L"", ArchiveMemberName(L"C:\\dir\\"));
}
