// The device identifier's composition over plain data, and the real volume
// and adapter queries of the machine the tests run on.
#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <vector>

#include "delivery/device_identity.h"

namespace {

TEST(DeviceId, Composition) {
  struct Case {
    const char* label;
    DWORD serialD, serialC;
    const wchar_t* mac;
    const wchar_t* id;
  };
  const Case cases[] = {
      {"serials sharing bits are ORed, not added", 0xF0F0, 0x0FF0, L"", L"010000FFF0"},
      {"no drive D: gives C: alone", 0, 0x43000000, L"0016A4C8E3F1", L"01430000000016A4C8E3F1"},
      {"upper-case hexadecimal", 0xabcdef01, 0, L"", L"01ABCDEF01"},
      {"no drive readable", 0, 0, L"", L"0100000000"},
      {"eight-byte address", 0x1, 0x2, L"0102030405060708", L"01000000030102030405060708"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ComposeDeviceId(c.serialD, c.serialC, c.mac), c.id);
  }
}

// An adapter list laid out as GetAdaptersInfo returns it.
class AdapterList {
 public:
  AdapterList() { m_entries.reserve(8); }  // no reallocation: entries are linked by address
  IP_ADAPTER_INFO& Add(UINT type, std::vector<BYTE> address, const char* ip) {
    m_entries.emplace_back();
    IP_ADAPTER_INFO& entry = m_entries.back();
    entry = {};
    entry.Type = type;
    entry.AddressLength = static_cast<UINT>(address.size());
    for (size_t i = 0; i < address.size() && i < sizeof entry.Address; ++i) entry.Address[i] = address[i];
    strncpy(entry.IpAddressList.IpAddress.String, ip, sizeof entry.IpAddressList.IpAddress.String - 1);
    return entry;
  }
  const IP_ADAPTER_INFO* Head() {
    for (size_t i = 0; i + 1 < m_entries.size(); ++i) m_entries[i].Next = &m_entries[i + 1];
    return m_entries.empty() ? nullptr : &m_entries.front();
  }

 private:
  std::vector<IP_ADAPTER_INFO> m_entries;
};

TEST(DeviceId, FirstEthernetAdapterBehindOthers) {
  AdapterList list;
  list.Add(71, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}, "192.168.1.20");  // wireless
  list.Add(24, {}, "127.0.0.1");                                         // loopback
  list.Add(MIB_IF_TYPE_ETHERNET, {0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "10.0.0.7");
  list.Add(MIB_IF_TYPE_ETHERNET, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11}, "10.0.0.8");
  std::wstring mac = L"", ip = L"old";
  EXPECT_TRUE(TakeFirstEthernetAdapter(list.Head(), &mac, &ip));
  EXPECT_EQ(mac, L"001B2C3D4E5F");
  EXPECT_EQ(ip, L"10.0.0.7");
}

TEST(DeviceId, NoEthernetAdapterLeavesTheOutputs) {
  AdapterList list;
  list.Add(71, {1, 2, 3, 4, 5, 6}, "192.168.1.20");
  std::wstring mac = L"", ip = L"kept";
  EXPECT_FALSE(TakeFirstEthernetAdapter(list.Head(), &mac, &ip));
  EXPECT_EQ(mac, L"");
  EXPECT_EQ(ip, L"kept");
  EXPECT_FALSE(TakeFirstEthernetAdapter(nullptr, &mac, &ip));
  EXPECT_EQ(ComposeDeviceId(0x43000000, 0, mac).size(), 10u);
}

TEST(DeviceId, AddressLengthAndOptionalOutputs) {
  AdapterList list;
  IP_ADAPTER_INFO& odd = list.Add(MIB_IF_TYPE_ETHERNET, {1, 2, 3, 4, 5, 6, 7, 8}, "10.1.2.3");
  odd.AddressLength = 200;  // never read past the address field
  std::wstring mac = L"pre:";
  EXPECT_TRUE(TakeFirstEthernetAdapter(list.Head(), &mac, nullptr));
  EXPECT_EQ(mac, L"pre:0102030405060708") << "appended, at most the field's 8 bytes";
  std::wstring ip;
  EXPECT_TRUE(TakeFirstEthernetAdapter(list.Head(), nullptr, &ip));
  EXPECT_EQ(ip, L"10.1.2.3");
}

TEST(DeviceId, RealQueriesAreStable) {
  const std::wstring id = GetDeviceId();
  EXPECT_EQ(GetDeviceId(), id);
  ASSERT_GE(id.size(), 10u);
  EXPECT_EQ(id.substr(0, 2), L"01");
  EXPECT_EQ(id.size() % 2, 0u);
  for (wchar_t c : id) EXPECT_TRUE(std::iswdigit(c) || (c >= L'A' && c <= L'F')) << static_cast<int>(c);

  std::wstring mac;
  EXPECT_TRUE(GetEthernetAdapterInfo(&mac, nullptr) || mac.empty());
  EXPECT_EQ(id, ComposeDeviceId(GetVolumeSerial(L'D'), GetVolumeSerial(L'C'), mac));
  EXPECT_NE(GetVolumeSerial(L'C'), 0u) << "the system drive has a serial";
  EXPECT_EQ(GetVolumeSerial(L'Q'), 0u) << "a drive that does not exist contributes nothing";

  const std::wstring ip = GetLocalIpAddress();
  EXPECT_LE(ip.size(), 15u);
  EXPECT_EQ(GetLocalIpAddress(), ip);
}

}  // namespace
