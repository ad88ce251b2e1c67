#pragma once
// The device identifier and the local IPv4 address, from the volume serials
// of D: and C: and the first Ethernet adapter. No failure reaches the
// caller: a value that cannot be read contributes nothing.
#include <windows.h>
#include <iphlpapi.h>

#include <string>

DWORD GetVolumeSerial(wchar_t drive);
// Appends the first Ethernet adapter's address to `mac` and replaces `ip`
// with its first IP address (either may be null). True when the adapter
// list was read, also when it holds no Ethernet adapter.
bool GetEthernetAdapterInfo(std::wstring* mac, std::wstring* ip);
std::wstring GetLocalIpAddress();
std::wstring GetDeviceId();

// The rules over plain data, so tests can feed any case.
// "01%08X%s": the OR of the two serials and the MAC text.
std::wstring ComposeDeviceId(DWORD serialD, DWORD serialC, const std::wstring& macText);
// Walks an adapter list for the first entry of type MIB_IF_TYPE_ETHERNET;
// false when there is none (the outputs are then left as they were).
bool TakeFirstEthernetAdapter(const IP_ADAPTER_INFO* head, std::wstring* mac, std::wstring* ip);
