#pragma once
// The report archive: a ustar archive written block by block straight into
// a gzip stream, so no uncompressed tar ever reaches the disk.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr size_t kTarBlock = 512;

// The 512-byte header of a regular file: base name, "0100666", zero ids,
// size and mtime in octal, "%06o " checksum, ustar magic "00".
void BuildTarHeader(const std::string& name, uint32_t size, uint32_t mtime, unsigned char (&block)[kTarBlock]);

// Writes exactly declaredSize bytes of member data as 512-byte blocks (the
// last one zero-filled), whatever the source delivers: a file that grew
// since its size was taken is cut at that size, one that shrank or failed
// to read is padded with zeros, so header and data always agree.
using ReadSome = std::function<size_t(void* buffer, size_t count)>;
using WriteBlock = std::function<void(const unsigned char* block)>;
void WriteMemberBlocks(uint32_t declaredSize, const ReadSome& read, const WriteBlock& write);

// Size and modification time as signed 32-bit values; false when the file
// has no status or either does not fit (a file of 2 GiB or more).
bool QueryFileStatus32(const std::wstring& path, int32_t& size, int32_t& mtime);

// The text after the last backslash, or the whole path.
std::wstring ArchiveMemberName(const std::wstring& path);

// false only when the archive file could not be created. Members that do
// not exist, whose status cannot be read or that cannot be opened are left
// out.
bool WriteReportArchive(const std::wstring& archivePath, const std::vector<std::wstring>& members);
