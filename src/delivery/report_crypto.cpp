#include "delivery/report_crypto.h"

#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>

// The one-shot MD5 and RC4 calls are what the service side expects to be
// reproduced; OpenSSL 3 only marks them deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>
#include <openssl/rc4.h>

#include "base/str_conv.h"
#include "delivery/file_wrapper.h"
#include "delivery/report_archive.h"

const char kStatisticsKey[33] = "3C9A5E0B71D4F8266E0AB3C59D17F24E";

void Rc4Encipher(const void* input, int length, void* output) {
  if (length <= 0) return;
  RC4_KEY key;
  RC4_set_key(&key, 32, reinterpret_cast<const unsigned char*>(kStatisticsKey));
  RC4(&key, static_cast<size_t>(length), static_cast<const unsigned char*>(input),
      static_cast<unsigned char*>(output));
}

std::unique_ptr<BYTE[]> ReadWholeFile(const std::wstring& path, uint32_t& length) {
  int32_t statusSize = 0, mtime = 0;
  if (!QueryFileStatus32(path, statusSize, mtime)) throw std::runtime_error("stat");
  CFileWrapper file(_wfopen(path.c_str(), L"rb"));
  if (file.get() == nullptr) throw std::runtime_error("fopen");
  const uint32_t size = static_cast<uint32_t>(statusSize);
  std::unique_ptr<BYTE[]> buffer(new BYTE[size == 0 ? 1 : size]);
  if (std::fread(buffer.get(), 1, size, file.get()) != size) throw std::runtime_error("fread");
  length = size;
  return buffer;
}

int Md5Hex(const void* data, uint32_t length, std::string& output) {
  MD5_CTX context;
  if (MD5_Init(&context) != 1) throw std::logic_error("md5_init");
  if (MD5_Update(&context, data, length) != 1) throw std::logic_error("md5_update");
  unsigned char digest[MD5_DIGEST_LENGTH];
  if (MD5_Final(digest, &context) != 1) throw std::logic_error("md5_final");
  static const char kDigits[] = "0123456789abcdef";
  output.clear();
  output.reserve(2 * MD5_DIGEST_LENGTH);
  for (unsigned char byte : digest) {
    output.push_back(kDigits[byte >> 4]);
    output.push_back(kDigits[byte & 0x0F]);
  }
  return 0;
}

std::string BuildSignText(const BYTE* body, uint32_t length, int32_t time, const std::wstring& cookie,
                          const std::wstring& deviceId, const std::wstring& deviceType) {
  const uint32_t digested = length < 512u ? length : 512u;
  std::string bodyDigest;
  Md5Hex(body, digested, bodyDigest);
  char timeText[16];
  std::snprintf(timeText, sizeof timeText, "%ld", static_cast<long>(time));
  const std::string cookieText = StrConv::ToUtf8(cookie);
  std::string text;
  if (!cookieText.empty()) text = cookieText + "^";
  text += bodyDigest + "^" + StrConv::ToUtf8(deviceId) + "^" + StrConv::ToUtf8(deviceType) + "^" + timeText;
  return text;
}

std::string MakeRequestSign(const BYTE* body, uint32_t length, int32_t time, const std::wstring& cookie,
                            const std::wstring& deviceId, const std::wstring& deviceType) {
  const std::string text = BuildSignText(body, length, time, cookie, deviceId, deviceType);
  std::string sign;
  Md5Hex(text.data(), static_cast<uint32_t>(text.size()), sign);
  return sign;
}
