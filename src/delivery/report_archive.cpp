#include "delivery/report_archive.h"

#include <io.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/str_conv.h"
#include "delivery/file_wrapper.h"

void BuildTarHeader(const std::string& name, uint32_t size, uint32_t mtime, unsigned char (&block)[kTarBlock]) {
  std::memset(block, 0, sizeof block);
  char* header = reinterpret_cast<char*>(block);
  std::memcpy(header, name.data(), name.size() < 99 ? name.size() : 99);
  std::memcpy(header + 100, "0100666", 8);
  std::memcpy(header + 108, "0000000", 8);
  std::memcpy(header + 116, "0000000", 8);
  std::snprintf(header + 124, 12, "%011o", static_cast<unsigned>(size));
  std::snprintf(header + 136, 12, "%011o", static_cast<unsigned>(mtime));
  std::memset(header + 148, ' ', 8);
  header[156] = '0';
  std::memcpy(header + 257, "ustar", 6);
  std::memcpy(header + 263, "00", 2);
  unsigned sum = 0;
  for (unsigned char byte : block) sum += byte;
  // Six digits, a space, and the terminating NUL as the eighth byte.
  std::snprintf(header + 148, 8, "%06o ", sum);
}

void WriteMemberBlocks(uint32_t declaredSize, const ReadSome& read, const WriteBlock& write) {
  unsigned char block[kTarBlock];
  uint32_t remaining = declaredSize;
  bool sourceEnded = false;
  while (remaining > 0) {
    std::memset(block, 0, sizeof block);
    const size_t wanted = remaining < kTarBlock ? remaining : kTarBlock;
    size_t filled = 0;
    while (!sourceEnded && filled < wanted) {
      const size_t got = read(block + filled, wanted - filled);
      if (got == 0) sourceEnded = true;
      filled += got;
    }
    write(block);
    remaining -= static_cast<uint32_t>(wanted);
  }
}

bool QueryFileStatus32(const std::wstring& path, int32_t& size, int32_t& mtime) {
  struct _stat64 status;
  if (_wstat64(path.c_str(), &status) != 0) return false;
  if (status.st_size < 0 || status.st_size > 0x7FFFFFFF) return false;
  if (status.st_mtime < INT32_MIN || status.st_mtime > INT32_MAX) return false;
  size = static_cast<int32_t>(status.st_size);
  mtime = static_cast<int32_t>(status.st_mtime);
  return true;
}

std::wstring ArchiveMemberName(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

namespace {
class GzStream {
 public:
  explicit GzStream(const std::wstring& path) : m_file(gzopen_w(path.c_str(), "wb")) {}
  ~GzStream() {
    if (m_file != nullptr) gzclose(m_file);
  }
  GzStream(const GzStream&) = delete;
  GzStream& operator=(const GzStream&) = delete;
  bool valid() const { return m_file != nullptr; }
  void WriteBlock(const unsigned char* block) { gzwrite(m_file, block, static_cast<unsigned>(kTarBlock)); }

 private:
  gzFile m_file;
};
}  // namespace

bool WriteReportArchive(const std::wstring& archivePath, const std::vector<std::wstring>& members) {
  // The wide open: a report directory under a user name outside the ANSI
  // code page must still get its archive.
  GzStream archive(archivePath);
  if (!archive.valid()) return false;
  for (const std::wstring& member : members) {
    if (_waccess(member.c_str(), 0) != 0) continue;
    int32_t size = 0, mtime = 0;
    if (!QueryFileStatus32(member, size, mtime)) continue;
    // Opened before its header goes out: a member that cannot be read is
    // left out whole instead of leaving a header without its data.
    CFileWrapper file(_wfopen(member.c_str(), L"rb"));
    if (file.get() == nullptr) continue;
    unsigned char header[kTarBlock];
    BuildTarHeader(StrConv::ToAnsi(ArchiveMemberName(member)), static_cast<uint32_t>(size), static_cast<uint32_t>(mtime),
                   header);
    archive.WriteBlock(header);
    WriteMemberBlocks(
        static_cast<uint32_t>(size),
        [&](void* buffer, size_t count) { return std::fread(buffer, 1, count, file.get()); },
        [&](const unsigned char* block) { archive.WriteBlock(block); });
  }
  unsigned char zero[kTarBlock] = {};
  archive.WriteBlock(zero);
  archive.WriteBlock(zero);
  return true;
}
