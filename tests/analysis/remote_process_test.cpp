// The logical-address lookup, the call-form test and the return-address
// test, on fake memory images of both widths and on this process itself.
#include <gtest/gtest.h>

#include "analysis/remote_process.h"
#include "analysis/fake_memory.h"

namespace {

// Addresses that look like each width's own processes.
template <typename W>
struct Layout;
template <>
struct Layout<Width32> {
  static constexpr uint64_t kModule = 0x00400000;
  static constexpr uint64_t kHeap = 0x00600000;
  static constexpr uint64_t kFree = 0x00900000;
  static constexpr uint64_t kKernel = 0x80001000;
};
template <>
struct Layout<Width64> {
  static constexpr uint64_t kModule = 0x140000000;
  static constexpr uint64_t kHeap = 0x000001A0000000;
  static constexpr uint64_t kFree = 0x000002A0000000;
  static constexpr uint64_t kKernel = 0xFFFF800000001000;
};

template <typename W>
class RemoteProcessTest : public ::testing::Test {
 protected:
  using Address = typename W::Address;
  static constexpr uint64_t kModule = Layout<W>::kModule;

  RemoteProcessTest() : memory(UserLimit<W>()) {
    // .text at 0x1000 (0x800 used of 0x1000 raw), .bss-like .data at 0x3000
    // whose raw size exceeds its virtual size.
    MapImage<W>(memory, kModule, 0x6000, {{0x1000, 0x800, 0x1000}, {0x3000, 0x100, 0x400}}, L"C:\\app\\client.exe");
    memory.Map(Layout<W>::kHeap, 0x2000);
  }

  HRESULT LookUp(uint64_t address) {
    section = 0xEEEE;
    offset = 0xEEEEEEEE;
    base = static_cast<Address>(0xEEEE);
    path.clear();
    return GetLogicalAddressIn<W>(memory, static_cast<Address>(address), path, section, offset, base);
  }

  FakeMemory memory;
  std::wstring path;
  DWORD section = 0, offset = 0;
  Address base = 0;
};

using Widths = ::testing::Types<Width32, Width64>;
TYPED_TEST_SUITE(RemoteProcessTest, Widths);

TYPED_TEST(RemoteProcessTest, LogicalAddressCases) {
  using Address = typename TypeParam::Address;
  const uint64_t module = this->kModule;
  struct Case {
    const char* label;
    uint64_t address;
    HRESULT result;
    uint64_t base;         // expected module base output
    const wchar_t* path;   // expected path output
    DWORD section, offset; // expected on S_OK; untouched otherwise
  };
  const Case cases[] = {
      {"free memory: null call", 0, E_FAIL, 0, L"", 0xEEEE, 0xEEEEEEEE},
      {"free memory above the heap", Layout<TypeParam>::kFree, E_FAIL, 0, L"", 0xEEEE, 0xEEEEEEEE},
      {"heap", Layout<TypeParam>::kHeap + 0x123, E_FAIL, Layout<TypeParam>::kHeap, L"", 0xEEEE, 0xEEEEEEEE},
      {"inside the headers", module + 0x10, E_FAIL, module, L"C:\\app\\client.exe", 0xEEEE, 0xEEEEEEEE},
      {"first byte of .text", module + 0x1000, S_OK, module, L"C:\\app\\client.exe", 1, 0},
      {"inside .text", module + 0x1564, S_OK, module, L"C:\\app\\client.exe", 1, 0x564},
      {"past VirtualSize, inside SizeOfRawData", module + 0x1900, S_OK, module, L"C:\\app\\client.exe", 1, 0x900},
      {"second section", module + 0x3200, S_OK, module, L"C:\\app\\client.exe", 2, 0x200},
      {"between the sections", module + 0x2800, E_FAIL, module, L"C:\\app\\client.exe", 0xEEEE, 0xEEEEEEEE},
      {"past the last section", module + 0x5000, E_FAIL, module, L"C:\\app\\client.exe", 0xEEEE, 0xEEEEEEEE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(this->LookUp(c.address), c.result);
    EXPECT_EQ(this->base, static_cast<Address>(c.base));
    EXPECT_EQ(this->path, c.path);
    EXPECT_EQ(this->section, c.section);
    EXPECT_EQ(this->offset, c.offset);
  }
}

TYPED_TEST(RemoteProcessTest, AddressAboveTheUserRangeWritesNothing) {
  EXPECT_EQ(this->LookUp(Layout<TypeParam>::kKernel), E_FAIL);
  EXPECT_EQ(this->base, static_cast<typename TypeParam::Address>(0xEEEE));
  EXPECT_EQ(this->section, 0xEEEEu);
}

TYPED_TEST(RemoteProcessTest, UnreadableHeadersFailWithBaseAndPathKept) {
  FakeMemory memory(UserLimit<TypeParam>());
  const uint64_t module = this->kModule;
  // e_lfanew pointing past the mapped image: the NT headers cannot be read.
  MapImage<TypeParam>(memory, module, 0x2000, {{0x1000, 0x1000, 0x1000}}, L"C:\\odd.dll", 0x1FF0);
  std::wstring path;
  DWORD section = 7, offset = 7;
  typename TypeParam::Address base = 0;
  EXPECT_EQ(GetLogicalAddressIn<TypeParam>(memory, static_cast<typename TypeParam::Address>(module + 0x1100), path,
                                           section, offset, base),
            E_FAIL);
  EXPECT_EQ(base, static_cast<typename TypeParam::Address>(module));
  EXPECT_EQ(path, L"C:\\odd.dll");
  EXPECT_EQ(section, 7u);
}

TYPED_TEST(RemoteProcessTest, SectionTableEntryThatCannotBeReadFails) {
  FakeMemory memory(UserLimit<TypeParam>());
  const uint64_t module = this->kModule;
  // Claims three sections, but the image ends inside the second entry.
  MapImage<TypeParam>(memory, module, 0x1000, {{0x2000, 0x10, 0x10}, {0x3000, 0x10, 0x10}, {0x400, 0x10, 0x10}},
                      L"C:\\cut.dll");
  FakeMemory cut(UserLimit<TypeParam>());
  const size_t tableEnd = 0x80 + sizeof(typename TypeParam::NtHeaders) + 40 + 20;
  cut.Map(module, tableEnd);
  cut.Map(module + tableEnd, 0x1000 - tableEnd, module, false);
  cut.NameModule(module, L"C:\\cut.dll");
  std::vector<uint8_t> bytes(tableEnd);
  ASSERT_TRUE(memory.Read(module, bytes.data(), bytes.size()));
  cut.Poke(module, bytes.data(), bytes.size());
  std::wstring path;
  DWORD section = 0, offset = 0;
  typename TypeParam::Address base = 0;
  EXPECT_EQ(GetLogicalAddressIn<TypeParam>(cut, static_cast<typename TypeParam::Address>(module + 0x400), path,
                                           section, offset, base),
            E_FAIL);
  // The full image answers the same address from its third entry.
  EXPECT_EQ(GetLogicalAddressIn<TypeParam>(memory, static_cast<typename TypeParam::Address>(module + 0x404), path,
                                           section, offset, base),
            S_OK);
  EXPECT_EQ(section, 3u);
  EXPECT_EQ(offset, 4u);
}

TEST(CallInstruction, Forms) {
  struct Case {
    const char* label;
    std::vector<BYTE> bytes;
    bool call;
  };
  const Case cases[] = {
      {"E8 rel32", {0xE8, 1, 2, 3, 4}, true},
      {"E8 with a sixth byte", {0xE8, 1, 2, 3, 4, 5}, false},
      {"E8 cut short", {0xE8, 1, 2, 3}, false},
      {"FF 15 disp32 (call [abs] / [rip+disp])", {0xFF, 0x15, 1, 2, 3, 4}, true},
      {"FF 15 cut short", {0xFF, 0x15, 1, 2, 3}, false},
      {"FF D0 call eax", {0xFF, 0xD0}, true},
      {"FF D0 with a byte too many", {0xFF, 0xD0, 0x90}, false},
      {"FF 25 disp32 is a jump", {0xFF, 0x25, 1, 2, 3, 4}, false},
      {"FF E0 jmp eax", {0xFF, 0xE0}, false},
      {"FF 1D far call", {0xFF, 0x1D, 1, 2, 3, 4}, false},
      {"FF 10 call [eax]", {0xFF, 0x10}, true},
      {"FF 14 24 call [esp] with SIB", {0xFF, 0x14, 0x24}, true},
      {"FF 14 without its SIB byte", {0xFF, 0x14}, false},
      {"FF 14 SIB fields never examined (base 5)", {0xFF, 0x14, 0x25}, true},
      {"FF 55 08 call [ebp+8]", {0xFF, 0x55, 0x08}, true},
      {"FF 54 24 08 call [esp+8]", {0xFF, 0x54, 0x24, 0x08}, true},
      {"FF 95 disp32 call [ebp+disp32]", {0xFF, 0x95, 1, 2, 3, 4}, true},
      {"FF 94 24 disp32 call [esp+disp32]", {0xFF, 0x94, 0x24, 1, 2, 3, 4}, true},
      {"FF 94 without SIB length", {0xFF, 0x94, 1, 2, 3, 4}, false},
      {"a single byte", {0xFF}, false},
      {"nothing", {}, false},
      {"other opcode", {0x90, 0xD0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsCallInstruction(c.bytes.data(), c.bytes.size()), c.call);
  }
}

TYPED_TEST(RemoteProcessTest, ReturnAddressCases) {
  using Address = typename TypeParam::Address;
  const uint64_t text = this->kModule + 0x1000;
  struct Case {
    const char* label;
    std::vector<uint8_t> code;  // bytes that end right at the candidate
    bool returnAddress;
  };
  const Case cases[] = {
      {"after E8 rel32", {0xE8, 0x10, 0x20, 0x30, 0x40}, true},
      {"after FF 15 disp32", {0xFF, 0x15, 0x10, 0x20, 0x30, 0x40}, true},
      {"after FF D0", {0xFF, 0xD0}, true},
      {"after REX.B FF D0 (call r8)", {0x41, 0xFF, 0xD0}, true},
      {"after REX.W FF 14 24", {0x48, 0xFF, 0x14, 0x24}, true},
      {"after FF 94 24 disp32", {0xFF, 0x94, 0x24, 1, 2, 3, 4}, true},
      {"after FF 25 disp32 (a jump)", {0xFF, 0x25, 0x10, 0x20, 0x30, 0x40}, false},
      {"after plain code", {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90}, false},
  };
  uint64_t slot = text + 0x100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const uint64_t candidate = slot + 7;
    this->memory.Poke(candidate - 7, {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC});
    this->memory.Poke(candidate - c.code.size(), c.code.data(), c.code.size());
    EXPECT_EQ(IsReturnAddressIn<TypeParam>(this->memory, static_cast<Address>(candidate)), c.returnAddress);
    slot += 0x20;
  }
}

TYPED_TEST(RemoteProcessTest, SmallFreeAndKernelValuesAreNoReturnAddresses) {
  using Address = typename TypeParam::Address;
  this->memory.ForgetAccesses();
  EXPECT_FALSE(IsReturnAddressIn<TypeParam>(this->memory, 0xFFFF));
  EXPECT_FALSE(IsReturnAddressIn<TypeParam>(this->memory, 0));
  EXPECT_EQ(this->memory.queries, 0) << "no region is queried below 0x10000";
  EXPECT_TRUE(this->memory.reads.empty());

  // Free memory is answered by the region query alone.
  const uint64_t free = Layout<TypeParam>::kFree + 0x1234;
  EXPECT_FALSE(IsReturnAddressIn<TypeParam>(this->memory, static_cast<Address>(free)));
  EXPECT_TRUE(this->memory.reads.empty());

  if (sizeof(Address) == 8) {
    EXPECT_FALSE(IsReturnAddressIn<TypeParam>(this->memory, static_cast<Address>(Layout<TypeParam>::kKernel)));
    EXPECT_TRUE(this->memory.reads.empty());
  }
}

TYPED_TEST(RemoteProcessTest, RegionIsQueriedAtTheSixtyFourKiBoundary) {
  using Address = typename TypeParam::Address;
  // The candidate's own 64 KiB block is free, but the code bytes in front of
  // it are not: the test goes by the rounded-down block.
  FakeMemory memory(UserLimit<TypeParam>());
  const uint64_t block = Layout<TypeParam>::kHeap;  // 64 KiB aligned
  memory.Map(block - 0x1000, 0x1000, block - 0x10000);
  memory.Poke(block - 2, {0xFF, 0xD0});
  memory.Map(block, 0x10);  // allocated: the candidate counts
  EXPECT_TRUE(IsReturnAddressIn<TypeParam>(memory, static_cast<Address>(block)));

  FakeMemory unallocated(UserLimit<TypeParam>());
  unallocated.Map(block - 0x1000, 0x1000, block - 0x10000);
  unallocated.Poke(block - 2, {0xFF, 0xD0});
  EXPECT_FALSE(IsReturnAddressIn<TypeParam>(unallocated, static_cast<Address>(block)));
}

TYPED_TEST(RemoteProcessTest, SevenByteReadIntoAnUnreadablePageFails) {
  using Address = typename TypeParam::Address;
  FakeMemory memory(UserLimit<TypeParam>());
  const uint64_t page = this->kModule + 0x2000;
  memory.Map(this->kModule, 0x1000);                         // the allocation's first page
  memory.Map(page - 0x1000, 0x1000, this->kModule, false);  // guard page
  memory.Map(page, 0x1000, this->kModule, true);
  memory.Poke(page, {0xFF, 0xD0});
  // A 2-byte call would fit, but the first five preceding bytes lie in the
  // unreadable page.
  EXPECT_FALSE(IsReturnAddressIn<TypeParam>(memory, static_cast<Address>(page + 2)));
  memory.Poke(page + 5, {0xFF, 0xD0});
  EXPECT_TRUE(IsReturnAddressIn<TypeParam>(memory, static_cast<Address>(page + 7)));
}

// The Win32 side on another process (a suspended copy of this program,
// never resumed): a read that runs into a no-access page is a failure, not
// a short success.
TEST(Win32RemoteMemory, ShortReadIsFailure) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(::CreateProcessW(self, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                               &child));
  auto end = [&] {
    ::TerminateProcess(child.hProcess, 0);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
  };
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  // One page high up, with nothing mapped after it. (Wine lets a remote
  // read pass through PAGE_NOACCESS and reserved pages, so the unreadable
  // page is a free one here.)
  BYTE* block = nullptr;
  for (ULONG_PTR hint = 0x300000000ull; block == nullptr && hint < 0x400000000ull; hint += 0x10000000)
    block = static_cast<BYTE*>(::VirtualAllocEx(child.hProcess, reinterpret_cast<void*>(hint), page,
                                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (block == nullptr) {
    end();
    FAIL() << "no memory in the child";
  }
  const BYTE call[] = {0xFF, 0xD0};
  SIZE_T written = 0;
  ::WriteProcessMemory(child.hProcess, block + page - 2, call, 2, &written);
  ::WriteProcessMemory(child.hProcess, block, call, 2, &written);

  Win32RemoteMemory memory(child.hProcess);
  BYTE bytes[7];
  const auto start = reinterpret_cast<ULONG_PTR>(block);
  EXPECT_TRUE(memory.Read(start + page - 7, bytes, 7));
  EXPECT_FALSE(memory.Read(start + page - 3, bytes, 7));
  uint64_t base = 0;
  EXPECT_TRUE(memory.QueryAllocationBase(start + 8, &base));
  EXPECT_EQ(base, start);
  EXPECT_TRUE(IsReturnAddress(start + page, child.hProcess)) << "the call ends right at the free page";
  EXPECT_FALSE(IsReturnAddress(start + 2, child.hProcess)) << "a 2-byte call fits, but the 7 bytes start in the free page before";
  EXPECT_TRUE(memory.ModuleFileName(start).empty());
  ::VirtualFreeEx(child.hProcess, block, 0, MEM_RELEASE);
  EXPECT_TRUE(memory.QueryAllocationBase(start, &base));
  EXPECT_EQ(base, 0u) << "released memory is free";
  end();
}

TEST(Win32RemoteMemory, LogicalAddressOfOwnCode) {
  HANDLE process = ::GetCurrentProcess();
  const auto here = reinterpret_cast<ULONG_PTR>(&IsCallInstruction);
  std::wstring path;
  DWORD section = 0, offset = 0;
  ULONG_PTR base = 0;
  ASSERT_EQ(GetLogicalAddress(process, here, path, section, offset, base), S_OK);
  EXPECT_EQ(base, reinterpret_cast<ULONG_PTR>(::GetModuleHandleW(nullptr)));
  wchar_t own[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, own, MAX_PATH);
  EXPECT_EQ(_wcsicmp(path.c_str(), own), 0);
  EXPECT_EQ(section, 1u) << ".text comes first";
  EXPECT_GT(offset, 0u);
}

}  // namespace
