#pragma once
// Reading the crashed process from outside: the access masks, typed reads
// that fail on a short read, the logical-address lookup and the
// return-address test.
//
// The algorithms run over `RemoteMemory`, so the same code reads the real
// process through Win32 and a fake memory image in tests. They exist in two
// widths: `Width32` for the 32-bit edition and `Width64` for the x86_64
// edition (64-bit NT headers, 8-byte stack slots); `NativeWidth` is the one
// this build uses on real processes.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The all-access masks of the older headers: newer ones ask for rights that
// older systems refuse outright.
constexpr DWORD kRemoteProcessAccess = 0x1F0FFF;
constexpr DWORD kRemoteThreadAccess = 0x1F03FF;

class RemoteMemory {
 public:
  virtual ~RemoteMemory() = default;
  // True only when all `size` bytes were copied; a short read is a failure
  // and leaves `buffer` unspecified.
  virtual bool Read(uint64_t address, void* buffer, size_t size) = 0;
  // The allocation base of the region holding `address` (0 for free
  // memory); false when the region query itself fails.
  virtual bool QueryAllocationBase(uint64_t address, uint64_t* allocationBase) = 0;
  // The file of the module loaded at `allocationBase`; empty when the
  // allocation is not a module.
  virtual std::wstring ModuleFileName(uint64_t allocationBase) = 0;
};

// The same three fields of NT_TIB in both widths.
struct ThreadBlock32 {
  uint32_t ExceptionList;
  uint32_t StackBase;
  uint32_t StackLimit;
};
struct ThreadBlock64 {
  uint64_t ExceptionList;
  uint64_t StackBase;
  uint64_t StackLimit;
};
static_assert(sizeof(ThreadBlock32) == 12, "NT_TIB head, 32-bit");
static_assert(sizeof(ThreadBlock64) == 24, "NT_TIB head, 64-bit");

struct Width32 {
  using Address = uint32_t;
  using NtHeaders = IMAGE_NT_HEADERS32;
  using ThreadBlock = ThreadBlock32;
  static constexpr DWORD kMachine = IMAGE_FILE_MACHINE_I386;
  static constexpr Address kRegionMask = 0xFFFF0000u;
  static constexpr int kDigits = 8;
};
struct Width64 {
  using Address = uint64_t;
  using NtHeaders = IMAGE_NT_HEADERS64;
  using ThreadBlock = ThreadBlock64;
  static constexpr DWORD kMachine = IMAGE_FILE_MACHINE_AMD64;
  static constexpr Address kRegionMask = ~static_cast<uint64_t>(0xFFFF);
  static constexpr int kDigits = 16;
};
static_assert(sizeof(IMAGE_NT_HEADERS32) == 248, "32-bit NT headers");
static_assert(sizeof(IMAGE_NT_HEADERS64) == 264, "64-bit NT headers");
static_assert(sizeof(IMAGE_DOS_HEADER) == 64, "DOS header");
static_assert(sizeof(IMAGE_SECTION_HEADER) == 40, "section header");

#ifdef _WIN64
using NativeWidth = Width64;
#else
using NativeWidth = Width32;
#endif

// One fixed-size record, read whole or not at all.
template <typename Record>
bool ReadRemote(RemoteMemory& memory, uint64_t address, Record& record) {
  return memory.Read(address, &record, sizeof(Record));
}

// Module base is written once the region query succeeded, the path once
// the module's file name is known; section (counted from 1) and offset only
// on S_OK.
template <typename W>
HRESULT GetLogicalAddressIn(RemoteMemory& memory, typename W::Address address, std::wstring& modulePath,
                            DWORD& section, DWORD& offset, typename W::Address& moduleBase);

// Whether a value found on a stack is plausibly a return address: it lies
// in allocated memory and a call instruction ends right in front of it.
template <typename W>
bool IsReturnAddressIn(RemoteMemory& memory, typename W::Address value);

// Whether the L bytes at `code` are exactly one near call (E8 rel32 or
// FF /2 with its ModRM and SIB lengths). Reads b[0] and, for FF, b[1].
bool IsCallInstruction(const BYTE* code, size_t length);

// The crashed process's memory through ReadProcessMemory, VirtualQueryEx
// and GetModuleFileNameExW on a handle the caller owns.
class Win32RemoteMemory : public RemoteMemory {
 public:
  explicit Win32RemoteMemory(HANDLE process) : m_process(process) {}
  bool Read(uint64_t address, void* buffer, size_t size) override;
  bool QueryAllocationBase(uint64_t address, uint64_t* allocationBase) override;
  std::wstring ModuleFileName(uint64_t allocationBase) override;

 private:
  HANDLE m_process;
};

HANDLE OpenRemoteProcess(DWORD processId);
HANDLE OpenRemoteThread(DWORD threadId);

// The native forms on a process handle.
HRESULT GetLogicalAddress(HANDLE process, ULONG_PTR address, std::wstring& modulePath, DWORD& section,
                          DWORD& offset, ULONG_PTR& moduleBase);
bool IsReturnAddress(ULONG_PTR value, HANDLE process);
