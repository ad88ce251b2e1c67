#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "delivery/file_wrapper.h"
#include "delivery/report_crypto.h"
#include "test_files.h"

namespace {
std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text.push_back(kDigits[c >> 4]);
    text.push_back(kDigits[c & 15]);
  }
  return text;
}

std::string Md5(const std::string& data) {
  std::string out;
  EXPECT_EQ(0, Md5Hex(data.data(), static_cast<uint32_t>(data.size()), out));
  return out;
}

std::string Encipher(const std::string& text) {
  std::string out(text.size(), '\0');
  Rc4Encipher(text.data(), static_cast<int>(text.size()), &out[0]);
  return out;
}

std::string Body(size_t length) {
  std::string body(length, '\0');
  for (size_t i = 0; i < length; ++i) body[i] = static_cast<char>(i % 251);
  return body;
}
}  // namespace

TEST(Md5HexTest, KnownDigestsAreLowerCaseHex) {
  struct Case { std::string data; const char* digest; };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
      {std::string("\0\xff\x80", 3), nullptr},
  };
  for (const Case& c : cases) {
    const std::string digest = Md5(c.data);
    ASSERT_EQ(32u, digest.size());
    EXPECT_EQ(std::string::npos, digest.find_first_not_of("0123456789abcdef")) << digest;
    if (c.digest) {
      EXPECT_EQ(c.digest, digest);
    }
  }
}

TEST(Rc4EncipherTest, UsesTheKeyTextItselfAsItsBytes) {
  const std::string text = "client=sample@#version=7.22.0.8";
  // Reference stream from an independent RC4 over the 32 ASCII key bytes.
  EXPECT_EQ("c41886467fee842ea90790b5a419f1ceac57138a0f5c384786b1ba75d57f50", Hex(Encipher(text)));
  // The key decoded from hex would give this other stream instead.
  EXPECT_NE("6e1979706feaf4b8b0a30011ac690b8d0a1367961f089e501587655bb408af", Hex(Encipher(text)));
}

TEST(Rc4EncipherTest, EveryCallStartsTheKeyStreamAfresh) {
  const std::string text = Body(3000);
  const std::string once = Encipher(text);
  EXPECT_EQ(once, Encipher(text));
  EXPECT_NE(text, once);
  EXPECT_EQ(text, Encipher(once));
}

TEST(Rc4EncipherTest, NothingToEncipherWritesNothing) {
  char output[4] = {'x', 'y', 'z', 'w'};
  Rc4Encipher("abcd", 0, output);
  EXPECT_EQ(std::string("xyzw"), std::string(output, 4));
}

TEST(RequestSignTest, SignTextPiecesAndDigests) {
  const std::string small = Body(100);
  const std::string large = Body(100000);
  const BYTE* smallBytes = reinterpret_cast<const BYTE*>(small.data());
  const BYTE* largeBytes = reinterpret_cast<const BYTE*>(large.data());
  struct Case {
    const BYTE* body; uint32_t length; int32_t time; const wchar_t* cookie;
    std::string text; const char* sign;
  };
  const Case cases[] = {
      // the whole of a short body is digested; no cookie, no leading '^'
      {smallBytes, 100, 1700000000, L"", "7acedd1a84a4cfcb6e7a16003242945e^dev-1^8^1700000000",
       "af26b658f25a29463092b62a44b816e2"},
      // only the first 512 bytes of a long one; a cookie leads; a negative time keeps its sign
      {largeBytes, 100000, -5, L"abc", "abc^f7ee145f039055a238206abf1e95355f^dev-1^8^-5",
       "19e75246ca9ab07526d918b740eb7cba"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, BuildSignText(c.body, c.length, c.time, c.cookie, L"dev-1", L"8"));
    EXPECT_EQ(c.sign, MakeRequestSign(c.body, c.length, c.time, c.cookie, L"dev-1", L"8"));
  }
}

TEST(RequestSignTest, OnlyTheFirst512BodyBytesCount) {
  std::string a = Body(5000), b = Body(5000);
  b[512] ^= 0x55;
  b[4999] ^= 0x55;
  auto sign = [](const std::string& body) {
    return MakeRequestSign(reinterpret_cast<const BYTE*>(body.data()), static_cast<uint32_t>(body.size()), 42, L"",
                           L"id", L"8");
  };
  EXPECT_EQ(sign(a), sign(b));
  b[511] ^= 0x55;
  EXPECT_NE(sign(a), sign(b));
}

TEST(RequestSignTest, IdentityTextsGoInAsUtf8) {
  const std::string text = BuildSignText(reinterpret_cast<const BYTE*>(""), 0, 0, L"", L"\u8bbe\u5907", L"");
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e^\xe8\xae\xbe\xe5\xa4\x87^^0", text);
}

TEST(ReadWholeFileTest, ReadsEveryByteAndReportsEachFailure) {
  ScratchDirectory dir;
  const std::string content = Body(70000);
  WriteBytes(dir.File(L"archive.tgz"), content);
  WriteBytes(dir.File(L"empty"), "");

  uint32_t length = 99;
  auto bytes = ReadWholeFile(dir.File(L"archive.tgz"), length);
  ASSERT_EQ(content.size(), length);
  EXPECT_EQ(content, std::string(reinterpret_cast<const char*>(bytes.get()), length));

  EXPECT_NO_THROW(ReadWholeFile(dir.File(L"empty"), length));
  EXPECT_EQ(0u, length);

  auto message = [&](const std::wstring& path) {
    try {
      ReadWholeFile(path, length);
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ("stat", message(dir.File(L"missing")));
  // Held open without sharing by someone else: the status is there, the open fails.
  HANDLE held = ::CreateFileW(dir.File(L"archive.tgz").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ("fopen", message(dir.File(L"archive.tgz")));
  ::CloseHandle(held);
}

TEST(FileWrapperTest, ClosesItsStreamAlsoWhenLeftByAnException) {
  ScratchDirectory dir;
  const std::wstring path = dir.File(L"held.txt");
  WriteBytes(path, "x");
  try {
    CFileWrapper file(_wfopen(path.c_str(), L"rb"));
    ASSERT_NE(nullptr, file.get());
    throw std::runtime_error("leave");
  } catch (const std::runtime_error&) {
  }
  // Deleting succeeds only when no stream holds the file any more.
  EXPECT_TRUE(::DeleteFileW(path.c_str()));
}
