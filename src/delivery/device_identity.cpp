#include "delivery/device_identity.h"

#include <cstring>

#include "base/str_conv.h"
#include "log/logger.h"

DWORD GetVolumeSerial(wchar_t drive) {
  const wchar_t* forms[] = {L"\\\\.\\%c", L"%c:\\"};
  for (const wchar_t* form : forms) {
    tp::wformat root(form, drive);
    DWORD serial = 0, maximumLength = 0, flags = 0;
    wchar_t fileSystem[32] = {};
    if (::GetVolumeInformationW(root, nullptr, 0, &serial, &maximumLength, &flags, fileSystem, 32)) return serial;
  }
  return 0;
}

bool TakeFirstEthernetAdapter(const IP_ADAPTER_INFO* head, std::wstring* mac, std::wstring* ip) {
  for (const IP_ADAPTER_INFO* adapter = head; adapter != nullptr; adapter = adapter->Next) {
    if (adapter->Type != MIB_IF_TYPE_ETHERNET) continue;
    if (mac != nullptr) {
      // The length comes from the system's list; never read past the
      // address field whatever it claims.
      UINT length = adapter->AddressLength;
      if (length > sizeof adapter->Address) length = sizeof adapter->Address;
      for (UINT i = 0; i < length; ++i) *mac += tp::wformat(L"%02X", static_cast<unsigned>(adapter->Address[i])).c_str();
    }
    if (ip != nullptr) {
      const char* text = adapter->IpAddressList.IpAddress.String;
      *ip = StrConv::FromAnsi(std::string(text, strnlen(text, sizeof adapter->IpAddressList.IpAddress.String)));
    }
    return true;
  }
  return false;
}

bool GetEthernetAdapterInfo(std::wstring* mac, std::wstring* ip) {
  ULONG size = 0;
  if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return false;
  HGLOBAL block = ::GlobalAlloc(GMEM_ZEROINIT, size);
  if (block == nullptr) return false;
  auto* list = static_cast<IP_ADAPTER_INFO*>(block);  // GMEM_FIXED: the handle is the pointer
  if (::GetAdaptersInfo(list, &size) != ERROR_SUCCESS) {
    ::GlobalFree(block);
    return false;
  }
  TakeFirstEthernetAdapter(list, mac, ip);
  ::GlobalFree(block);
  return true;
}

std::wstring GetLocalIpAddress() {
  std::wstring ip;
  GetEthernetAdapterInfo(nullptr, &ip);
  return ip;
}

std::wstring ComposeDeviceId(DWORD serialD, DWORD serialC, const std::wstring& macText) {
  return tp::wformat(L"01%08X%s", static_cast<unsigned>(serialD | serialC), macText.c_str()).c_str();
}

std::wstring GetDeviceId() {
  std::wstring mac;
  GetEthernetAdapterInfo(&mac, nullptr);
  const DWORD serialD = GetVolumeSerial(L'D');
  const DWORD serialC = GetVolumeSerial(L'C');
  return ComposeDeviceId(serialD, serialC, mac);
}
