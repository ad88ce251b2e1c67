#pragma once
// The small pieces both delivery exchanges share: the statistics cipher, the
// whole-file read of the archive, MD5 text and the upload request's sign.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

// The statistics key: its 32 characters are the key bytes as they stand.
extern const char kStatisticsKey[33];

// RC4 from the start of the key stream on every call; output must hold
// length bytes and be a different buffer from input.
void Rc4Encipher(const void* input, int length, void* output);

// Throws std::runtime_error ("stat", "fopen", "fread").
std::unique_ptr<BYTE[]> ReadWholeFile(const std::wstring& path, uint32_t& length);

// 32 lower-case hex digits of the MD5 of data. Returns 0; throws
// std::logic_error when the digest library reports a failure.
int Md5Hex(const void* data, uint32_t length, std::string& output);

// The text the sign is the digest of:
// [cookie '^'] md5(first 512 body bytes) '^' device id '^' device type '^' time.
std::string BuildSignText(const BYTE* body, uint32_t length, int32_t time, const std::wstring& cookie,
                          const std::wstring& deviceId, const std::wstring& deviceType);
std::string MakeRequestSign(const BYTE* body, uint32_t length, int32_t time, const std::wstring& cookie,
                            const std::wstring& deviceId, const std::wstring& deviceType);
