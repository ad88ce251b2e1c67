#include "analysis/remote_process.h"

#include <psapi.h>

#include <algorithm>

template <typename W>
HRESULT GetLogicalAddressIn(RemoteMemory& memory, typename W::Address address, std::wstring& modulePath,
                            DWORD& section, DWORD& offset, typename W::Address& moduleBase) {
  using Address = typename W::Address;
  uint64_t allocationBase = 0;
  if (!memory.QueryAllocationBase(address, &allocationBase)) return E_FAIL;
  const Address base = static_cast<Address>(allocationBase);
  moduleBase = base;
  if (base == 0) return E_FAIL;
  modulePath = memory.ModuleFileName(base);
  if (modulePath.empty()) return E_FAIL;

  IMAGE_DOS_HEADER dos;
  if (!ReadRemote(memory, base, dos)) return E_FAIL;
  const Address ntAddress = static_cast<Address>(base + static_cast<Address>(dos.e_lfanew));
  typename W::NtHeaders nt;
  if (!ReadRemote(memory, ntAddress, nt)) return E_FAIL;
  // The optional header follows the signature and the file header in both
  // widths, so the table lies at the same distance past its size.
  const Address table = static_cast<Address>(ntAddress + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                                             nt.FileHeader.SizeOfOptionalHeader);
  const Address rva = static_cast<Address>(address - base);
  for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER header;
    if (!ReadRemote(memory, static_cast<Address>(table + i * sizeof(IMAGE_SECTION_HEADER)), header)) return E_FAIL;
    // Uninitialised data can make the raw size the larger one.
    const DWORD extent = std::max(header.Misc.VirtualSize, header.SizeOfRawData);
    if (rva >= header.VirtualAddress && rva < static_cast<Address>(header.VirtualAddress + extent)) {
      section = static_cast<DWORD>(i + 1);
      offset = static_cast<DWORD>(rva - header.VirtualAddress);
      return S_OK;
    }
  }
  return E_FAIL;
}

bool IsCallInstruction(const BYTE* code, size_t length) {
  if (length < 2) return false;
  if (code[0] == 0xE8 && length == 5) return true;
  if (code[0] != 0xFF) return false;
  const BYTE modrm = code[1];
  const int mod = modrm >> 6, reg = (modrm >> 3) & 7, rm = modrm & 7;
  if (reg != 2) return false;
  size_t expected;
  if (mod == 3) {
    expected = 2;
  } else if (mod == 0 && rm == 5) {
    expected = 6;
  } else {
    expected = 2;
    if (rm == 4) expected += 1;
    if (mod == 1) expected += 1;
    if (mod == 2) expected += 4;
  }
  return length == expected;
}

// 64-bit code needs no rules of its own here: a REX prefix stands in front
// of the FF opcode, so a REX-prefixed call (41 FF D0, 41 FF 14 24) ends in
// exactly the shorter form that is tested for L - 1 bytes, and FF 15 with a
// 32-bit displacement is the same 6 bytes whether it is absolute or
// RIP-relative.
template <typename W>
bool IsReturnAddressIn(RemoteMemory& memory, typename W::Address value) {
  if (value <= 0xFFFF) return false;
  uint64_t allocationBase = 0;
  if (!memory.QueryAllocationBase(value & W::kRegionMask, &allocationBase) || allocationBase == 0) return false;
  BYTE code[7];
  if (!memory.Read(static_cast<typename W::Address>(value - 7), code, sizeof code)) return false;
  for (size_t length = 7; length >= 2; --length) {
    if (IsCallInstruction(code + 7 - length, length)) return true;
  }
  return false;
}

template HRESULT GetLogicalAddressIn<Width32>(RemoteMemory&, uint32_t, std::wstring&, DWORD&, DWORD&, uint32_t&);
template HRESULT GetLogicalAddressIn<Width64>(RemoteMemory&, uint64_t, std::wstring&, DWORD&, DWORD&, uint64_t&);
template bool IsReturnAddressIn<Width32>(RemoteMemory&, uint32_t);
template bool IsReturnAddressIn<Width64>(RemoteMemory&, uint64_t);

namespace {
bool FitsNative(uint64_t address) { return address <= static_cast<uint64_t>(~static_cast<ULONG_PTR>(0)); }
}  // namespace

bool Win32RemoteMemory::Read(uint64_t address, void* buffer, size_t size) {
  if (!FitsNative(address)) return false;
  SIZE_T read = 0;
  return ::ReadProcessMemory(m_process, reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(address)), buffer, size,
                             &read) != 0 &&
         read == size;
}

bool Win32RemoteMemory::QueryAllocationBase(uint64_t address, uint64_t* allocationBase) {
  if (!FitsNative(address)) return false;
  MEMORY_BASIC_INFORMATION info = {};
  if (::VirtualQueryEx(m_process, reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(address)), &info, sizeof info) !=
      sizeof info)
    return false;
  *allocationBase = reinterpret_cast<ULONG_PTR>(info.AllocationBase);
  return true;
}

std::wstring Win32RemoteMemory::ModuleFileName(uint64_t allocationBase) {
  if (!FitsNative(allocationBase)) return std::wstring();
  wchar_t path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameExW(m_process, reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(allocationBase)),
                                        path, MAX_PATH);
  if (length == 0) return std::wstring();
  // Up to the first NUL, never past the buffer.
  return std::wstring(path, wcsnlen(path, MAX_PATH));
}

HANDLE OpenRemoteProcess(DWORD processId) { return ::OpenProcess(kRemoteProcessAccess, FALSE, processId); }
HANDLE OpenRemoteThread(DWORD threadId) { return ::OpenThread(kRemoteThreadAccess, FALSE, threadId); }

HRESULT GetLogicalAddress(HANDLE process, ULONG_PTR address, std::wstring& modulePath, DWORD& section, DWORD& offset,
                          ULONG_PTR& moduleBase) {
  Win32RemoteMemory memory(process);
  NativeWidth::Address base = moduleBase;
  HRESULT result = GetLogicalAddressIn<NativeWidth>(memory, address, modulePath, section, offset, base);
  moduleBase = static_cast<ULONG_PTR>(base);
  return result;
}

bool IsReturnAddress(ULONG_PTR value, HANDLE process) {
  Win32RemoteMemory memory(process);
  return IsReturnAddressIn<NativeWidth>(memory, value);
}
