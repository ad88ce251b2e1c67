// The information line: which texts follow the pattern, how a matching one
// is rebuilt, and that any other text is kept as it came.
#include <gtest/gtest.h>

#include "analysis/info_header.h"

namespace {

struct Machine {
  std::wstring ip = L"10.0.0.7";
  int ipAsked = 0;
  std::wstring Header(const std::wstring& line) {
    return BuildInfoHeader(
        line, [this] { ++ipAsked; return ip; }, [] { return std::wstring(L"0143000000001B2C3D4E5F"); });
  }
};

TEST(InfoHeader, RebuiltOrKept) {
  const std::wstring kept = L"(kept)";
  struct Case {
    const char* label;
    std::wstring line;
    std::wstring header;  // kept: the line unchanged
  };
  const Case cases[] = {
      {"two spaces each, [n/a] replaced",
       L"OS VERSION: Win_10  IM VERSION: 7.22.0.8  IP: [n/a]  OrvelID: 100200300",
       L"OS VERSION: Win_10    IM VERSION: 7.22.0.8    IP: [10.0.0.7]    OrvelID: 100200300    \nSN: "
       L"0143000000001B2C3D4E5F\n\n"},
      {"[N/A] in another letter case replaced too",
       L"OS VERSION: a IM VERSION: b  IP: [N/a] OrvelID: c",
       L"OS VERSION: a    IM VERSION: b    IP: [10.0.0.7]    OrvelID: c    \nSN: 0143000000001B2C3D4E5F\n\n"},
      {"another IP kept without brackets",
       L"OS VERSION: a     IM VERSION: b      IP: 192.168.0.3   OrvelID: c",
       L"OS VERSION: a    IM VERSION: b    IP: 192.168.0.3    OrvelID: c    \nSN: 0143000000001B2C3D4E5F\n\n"},
      {"trailing blanks and line breaks dropped",
       L"OS VERSION: a IM VERSION: b  IP: 1.2.3.4 OrvelID: c \r\n \n\r",
       L"OS VERSION: a    IM VERSION: b    IP: 1.2.3.4    OrvelID: c    \nSN: 0143000000001B2C3D4E5F\n\n"},
      {"one space before IP", L"OS VERSION: a IM VERSION: b IP: [n/a] OrvelID: c", kept},
      {"field names in lower case", L"os version: a  im version: b  ip: [n/a]  orvelid: c", kept},
      {"account id with a space", L"OS VERSION: a  IM VERSION: b  IP: x  OrvelID: c d", kept},
      {"OS version with a space", L"OS VERSION: Windows 10  IM VERSION: b  IP: x  OrvelID: c", kept},
      {"IM version with a space", L"OS VERSION: a  IM VERSION: 7 22  IP: x  OrvelID: c", kept},
      {"text before the first field", L" OS VERSION: a  IM VERSION: b  IP: x  OrvelID: c", kept},
      {"other text after the account id", L"OS VERSION: a  IM VERSION: b  IP: x  OrvelID: c\r\nmore", kept},
      {"empty", L"", kept},
      {"free text without a line break", L"client says hello", kept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Machine machine;
    EXPECT_EQ(machine.Header(c.line), c.header == kept ? c.line : c.header);
  }
}

TEST(InfoHeader, UnknownAddressWithoutAdapterGivesEmptyBrackets) {
  Machine machine;
  machine.ip.clear();
  const std::wstring header = machine.Header(L"OS VERSION: a  IM VERSION: b  IP: [n/a]  OrvelID: c");
  EXPECT_NE(header.find(L"    IP: []    OrvelID: c    \nSN: "), std::wstring::npos);
  EXPECT_EQ(machine.ipAsked, 1);
}

TEST(InfoHeader, LocalAddressIsAskedOnlyForThePlaceholder) {
  Machine machine;
  machine.Header(L"OS VERSION: a  IM VERSION: b  IP: 1.2.3.4  OrvelID: c");
  EXPECT_EQ(machine.ipAsked, 0);
}

TEST(InfoHeader, ClientVersionFromTheSamePattern) {
  EXPECT_EQ(ExtractClientVersion(L"OS VERSION: a  IM VERSION: 7.22.0.8  IP: [n/a]  OrvelID: c"), L"7.22.0.8");
  EXPECT_EQ(ExtractClientVersion(L"OS VERSION: a IM VERSION: 7.22.0.8 IP: [n/a] OrvelID: c"), L"0,0,0,0");
}

TEST(InfoHeader, RealMachineValues) {
  // The same line as the sample client writes, with the machine's own
  // address and identifier filled in.
  const std::wstring header = BuildInfoHeader(L"OS VERSION: a  IM VERSION: b  IP: [n/a]  OrvelID: c");
  EXPECT_EQ(header.rfind(L"OS VERSION: a    IM VERSION: b    IP: [", 0), 0u);
  EXPECT_NE(header.find(L"\nSN: 01"), std::wstring::npos);
  EXPECT_EQ(header.substr(header.size() - 2), L"\n\n");
}

}  // namespace
