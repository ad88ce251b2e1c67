// The stack walker and the frame lines on fake stacks of both widths: where
// the first frame comes from, how frames are found by scanning, and that
// bad registers end the walk instead of sending it anywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "analysis/fake_memory.h"
#include "analysis/stack_walk.h"

namespace {

template <typename W>
struct StackLayout;
template <>
struct StackLayout<Width32> {
  static constexpr uint64_t kModule = 0x00400000;
  static constexpr uint64_t kStackLimit = 0x0012E000;
  static constexpr uint64_t kStackBase = 0x00130000;
  static constexpr uint64_t kOtherStack = 0x0022E000;
  static constexpr uint64_t kThreadBlock = 0x7FFDE000;
  static constexpr uint64_t kHeap = 0x00600000;
  static constexpr uint64_t kKernel = 0x80001000;
};
template <>
struct StackLayout<Width64> {
  static constexpr uint64_t kModule = 0x140000000;
  static constexpr uint64_t kStackLimit = 0x21E000;
  static constexpr uint64_t kStackBase = 0x220000;
  static constexpr uint64_t kOtherStack = 0x41E000;
  static constexpr uint64_t kThreadBlock = 0x7FFFFFFDE000;
  static constexpr uint64_t kHeap = 0x1A0000000;
  static constexpr uint64_t kKernel = 0xFFFF800000001000;
};

// Answers for a few known addresses; counts registrations so every one is
// seen released again.
class FakeSymbols : public SymbolSource {
 public:
  struct Known {
    std::string name;
    uint64_t displacement;
    std::string file;
    unsigned line;
  };
  std::map<uint64_t, Known> known;
  std::vector<std::pair<std::wstring, uint64_t>> registered;
  int outstanding = 0;

  Registration Register(const std::wstring& path, uint64_t base) override {
    registered.emplace_back(path, base);
    ++outstanding;
    Registration r;
    r.base = base;
    return r;
  }
  bool Symbol(uint64_t pc, std::string& name, uint64_t& displacement) override {
    auto it = known.find(pc);
    if (it == known.end()) return false;
    name = it->second.name;
    displacement = it->second.displacement;
    return true;
  }
  bool Line(uint64_t pc, std::string& file, unsigned& line) override {
    auto it = known.find(pc);
    if (it == known.end() || it->second.file.empty()) return false;
    file = it->second.file;
    line = it->second.line;
    return true;
  }
  void Release(const Registration&) override { --outstanding; }
};

template <typename W>
class StackWalkTest : public ::testing::Test {
 protected:
  using Address = typename W::Address;
  using Frame = typename WalkTypes<W>::Frame;
  using L = StackLayout<W>;
  static constexpr uint64_t kSlot = sizeof(Address);

  StackWalkTest() : memory(UserLimit<W>()) {
    MapImage<W>(memory, L::kModule, 0x8000, {{0x1000, 0x4000, 0x4000}}, L"C:\\app\\client.exe");
    // Ten call sites; each return address is the byte after an E8 call.
    for (int k = 0; k < 10; ++k) memory.Poke(CallSite(k), {0xE8, 0, 0, 0, 0});
    memory.Map(L::kStackLimit, static_cast<size_t>(L::kStackBase - L::kStackLimit));
    memory.Map(L::kOtherStack, 0x2000);
    memory.Map(L::kHeap, 0x1000);
    memory.Map(L::kThreadBlock, 0x1000);
    typename W::ThreadBlock block = {};
    block.StackBase = static_cast<Address>(L::kStackBase);
    block.StackLimit = static_cast<Address>(L::kStackLimit);
    memory.Put(L::kThreadBlock, block);
    locator = [](uint64_t* address) {
      *address = L::kThreadBlock;
      return true;
    };
  }

  static uint64_t CallSite(int k) { return L::kModule + 0x1000 + 0x100 * static_cast<uint64_t>(k); }
  static uint64_t ReturnAddress(int k) { return CallSite(k) + 5; }
  static uint64_t Pc() { return L::kModule + 0x1F00; }
  void Slot(uint64_t address, uint64_t value) { memory.Put(address, static_cast<Address>(value)); }

  Frame StartFrame(const StackRegisters& registers) { return StartStackFrame<W>(registers); }

  BOOL Step(Frame& frame, const StackRegisters& registers) {
    return WalkStackFrameIn<W>(W::kMachine, memory, locator, frame, registers);
  }

  std::wstring Walk(const StackRegisters& registers) {
    StringTextSink out;
    WriteStackFrames<W>(out, W::kMachine, memory, locator, symbols, registers);
    EXPECT_EQ(symbols.outstanding, 0);
    return out.text();
  }

  static std::vector<std::wstring> FrameLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstringstream stream(text);
    std::wstring line;
    while (std::getline(stream, line))
      if (!line.empty() && line != L"Call stack:" && line.rfind(L"Address ", 0) != 0) lines.push_back(line);
    return lines;
  }
  static uint64_t Column(const std::wstring& line, int index) {
    std::wstringstream stream(line);
    std::wstring field;
    for (int i = 0; i <= index; ++i) stream >> field;
    return std::stoull(field, nullptr, 16);
  }

  FakeMemory memory;
  ThreadBlockLocator locator;
  FakeSymbols symbols;
};

using Widths = ::testing::Types<Width32, Width64>;
TYPED_TEST_SUITE(StackWalkTest, Widths);

TYPED_TEST(StackWalkTest, EspOutsideTheStackFallsBackToEbp) {
  using L = StackLayout<TypeParam>;
  const uint64_t slot = this->kSlot;
  const uint64_t ebp = L::kStackLimit + 0x800;
  this->Slot(ebp + slot, this->ReturnAddress(1));
  for (int i = 0; i < 4; ++i) this->Slot(ebp + (2 + i) * slot, 0x11 + i);
  const StackRegisters registers{this->Pc(), L::kKernel, ebp};
  auto frame = this->StartFrame(registers);
  ASSERT_TRUE(this->Step(frame, registers));
  EXPECT_EQ(frame.AddrFrame.Offset, ebp);
  EXPECT_EQ(frame.AddrPC.Offset, this->Pc());
  EXPECT_EQ(frame.AddrReturn.Offset, this->ReturnAddress(1));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(frame.Params[i], 0x11u + i);
  EXPECT_TRUE(frame.Virtual);
  EXPECT_EQ(frame.AddrReturn.Mode, AddrModeFlat);
}

TYPED_TEST(StackWalkTest, OneReturnAddressAboveEspGivesOneLineForEip) {
  using L = StackLayout<TypeParam>;
  const uint64_t sp = L::kStackLimit + 0x400;
  this->Slot(sp + 0x100, this->ReturnAddress(2));
  const std::wstring text = this->Walk({this->Pc(), sp, 0});
  const auto lines = this->FrameLines(text);
  ASSERT_EQ(lines.size(), 1u) << std::string(text.begin(), text.end());
  EXPECT_EQ(this->Column(lines[0], 0), this->Pc());
  EXPECT_EQ(this->Column(lines[0], 2), sp + 0x100 - this->kSlot) << "frame sits one slot below the return slot";
  EXPECT_EQ(text.find(L"\nCall stack:\nAddress   Offset    Frame     Function      SourceFile\n"), 0u);
}

TYPED_TEST(StackWalkTest, UnalignedStartIsRoundedDown) {
  using L = StackLayout<TypeParam>;
  const uint64_t aligned = L::kStackLimit + 0x400;
  this->Slot(aligned + this->kSlot, this->ReturnAddress(3));
  const StackRegisters registers{this->Pc(), aligned + 2, 0};
  auto frame = this->StartFrame(registers);
  ASSERT_TRUE(this->Step(frame, registers));
  EXPECT_EQ(frame.AddrFrame.Offset, aligned);
  EXPECT_EQ(frame.AddrReturn.Offset, this->ReturnAddress(3));
}

TYPED_TEST(StackWalkTest, SlotInFreeMemoryIsSkippedWithoutReadingCode) {
  using L = StackLayout<TypeParam>;
  const uint64_t sp = L::kStackLimit + 0x400;
  const uint64_t freeValue = L::kHeap + 0x100000;
  this->Slot(sp + this->kSlot, freeValue);
  this->Slot(sp + 2 * this->kSlot, this->ReturnAddress(4));
  this->memory.ForgetAccesses();
  EXPECT_EQ(ScanForFrame<TypeParam>(static_cast<typename TypeParam::Address>(sp),
                                    static_cast<typename TypeParam::Address>(L::kStackBase), this->memory),
            sp + this->kSlot);
  EXPECT_FALSE(this->memory.WasRead(freeValue - 7));
  EXPECT_TRUE(this->memory.WasRead(this->ReturnAddress(4) - 7));
}

TYPED_TEST(StackWalkTest, WalkListsEveryReturnAddressButTheLast) {
  using L = StackLayout<TypeParam>;
  const uint64_t slot = this->kSlot;
  const uint64_t sp = L::kStackLimit + 0x200;
  // Live and stale return addresses alike, with other values between.
  const uint64_t slots[] = {sp + 3 * slot, sp + 9 * slot, sp + 10 * slot, sp + 40 * slot, sp + 41 * slot};
  for (size_t i = 0; i < 5; ++i) this->Slot(slots[i], this->ReturnAddress(static_cast<int>(i)));
  this->Slot(sp + 5 * slot, L::kHeap + 8);       // heap pointer: no call before it
  this->Slot(sp + 6 * slot, L::kStackLimit + 8); // stack pointer
  this->Slot(sp + 7 * slot, 0x1234);             // small number
  this->symbols.known[this->Pc()] = {"crash_here", 0x14, "Z:\\src\\a.cpp", 32};
  this->symbols.known[this->ReturnAddress(0)] = {"caller", 0x39, "", 0};

  const auto lines = this->FrameLines(this->Walk({this->Pc(), sp, 0}));
  ASSERT_EQ(lines.size(), 5u);
  const uint64_t expectedPc[] = {this->Pc(), this->ReturnAddress(0), this->ReturnAddress(1), this->ReturnAddress(2),
                                 this->ReturnAddress(3)};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(this->Column(lines[i], 0), expectedPc[i]);
    EXPECT_EQ(this->Column(lines[i], 2), slots[i] - slot);
  }
  EXPECT_NE(lines[0].find(L" C:\\app\\client.exe crash_here+14 Z:\\src\\a.cpp line 32"), std::wstring::npos);
  EXPECT_NE(lines[1].find(L" C:\\app\\client.exe caller+39"), std::wstring::npos);
  EXPECT_EQ(lines[1].find(L" line "), std::wstring::npos) << "no line information, no source text";
  EXPECT_EQ(this->symbols.registered.size(), 5u);
  EXPECT_EQ(this->symbols.registered[0].first, L"C:\\app\\client.exe");
  EXPECT_EQ(this->symbols.registered[0].second, L::kModule);
}

TYPED_TEST(StackWalkTest, BadRegistersEndTheWalkAtOnce) {
  using L = StackLayout<TypeParam>;
  const uint64_t slot = this->kSlot;
  // The other thread's stack is full of plausible return addresses; it must
  // never be scanned for this thread.
  for (int i = 1; i < 8; ++i) this->Slot(L::kOtherStack + 0x100 + i * slot, this->ReturnAddress(i));
  this->memory.Map(L::kHeap + 0x10000, 0x1000, 0, false);
  struct Case {
    const char* label;
    uint64_t sp, fp;
  };
  const Case cases[] = {
      {"both zero", 0, 0},
      {"kernel range", L::kKernel, L::kKernel + 0x100},
      {"unreadable page", L::kHeap + 0x10000, L::kHeap + 0x10010},
      {"another thread's stack", L::kOtherStack + 0x100, L::kOtherStack + 0x180},
      {"just above the stack base", L::kStackBase + slot, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const StackRegisters registers{this->Pc(), c.sp, c.fp};
    auto frame = this->StartFrame(registers);
    EXPECT_FALSE(this->Step(frame, registers));
    EXPECT_EQ(frame.AddrFrame.Offset, 0u);
    EXPECT_EQ(frame.AddrReturn.Offset, 0u);
    EXPECT_TRUE(this->FrameLines(this->Walk(registers)).empty());
  }
}

TYPED_TEST(StackWalkTest, NoBoundsNoStep) {
  using L = StackLayout<TypeParam>;
  const StackRegisters registers{this->Pc(), L::kStackLimit + 0x100, L::kStackLimit + 0x200};
  struct Case {
    const char* label;
    DWORD machine;
    ThreadBlockLocator locator;
    bool segmentedMode;
  };
  const Case cases[] = {
      {"locator fails", TypeParam::kMachine, [](uint64_t*) { return false; }, false},
      {"thread block unreadable", TypeParam::kMachine,
       [](uint64_t* a) {
         *a = L::kKernel;
         return true;
       },
       false},
      {"other machine", IMAGE_FILE_MACHINE_IA64, this->locator, false},
      {"frame address not flat", TypeParam::kMachine, this->locator, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto frame = this->StartFrame(registers);
    if (c.segmentedMode) frame.AddrFrame.Mode = AddrMode1616;
    const auto expected = frame;
    EXPECT_FALSE(WalkStackFrameIn<TypeParam>(c.machine, this->memory, c.locator, frame, registers));
    // The record is not touched.
    EXPECT_EQ(frame.AddrPC.Offset, expected.AddrPC.Offset);
    EXPECT_EQ(frame.AddrFrame.Offset, expected.AddrFrame.Offset);
    EXPECT_EQ(frame.AddrReturn.Offset, expected.AddrReturn.Offset);
    EXPECT_EQ(frame.AddrReturn.Mode, expected.AddrReturn.Mode);
    EXPECT_EQ(frame.Virtual, expected.Virtual);
  }
}

TYPED_TEST(StackWalkTest, FrameAtTheTopOfTheStackKeepsItsReturnAddress) {
  using L = StackLayout<TypeParam>;
  const uint64_t slot = this->kSlot;
  // The last slot below the base holds the return address: the six-slot
  // record runs past the readable stack.
  this->Slot(L::kStackBase - slot, this->ReturnAddress(5));
  const StackRegisters registers{this->Pc(), L::kStackBase - 0x40, 0};
  auto frame = this->StartFrame(registers);
  ASSERT_TRUE(this->Step(frame, registers));
  EXPECT_EQ(frame.AddrFrame.Offset, L::kStackBase - 2 * slot);
  EXPECT_EQ(frame.AddrReturn.Offset, this->ReturnAddress(5));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(frame.Params[i], 0u);
  EXPECT_FALSE(this->Step(frame, registers)) << "no room for another frame below the base";
}

TYPED_TEST(StackWalkTest, LaterStepOutsideTheBoundsStops) {
  using L = StackLayout<TypeParam>;
  const StackRegisters registers{this->Pc(), L::kStackLimit + 0x100, 0};
  auto frame = this->StartFrame(registers);
  frame.Virtual = TRUE;
  frame.AddrFrame.Offset = static_cast<typename TypeParam::Address>(L::kStackBase + 0x100);
  frame.AddrReturn.Offset = static_cast<typename TypeParam::Address>(this->ReturnAddress(1));
  auto expected = frame;
  expected.AddrPC.Mode = AddrModeFlat;
  expected.AddrReturn.Mode = AddrModeFlat;
  EXPECT_FALSE(this->Step(frame, registers));
  EXPECT_EQ(frame.AddrPC.Offset, expected.AddrPC.Offset) << "left as it is";
  EXPECT_EQ(frame.AddrFrame.Offset, expected.AddrFrame.Offset);
}

TYPED_TEST(StackWalkTest, ScanNearTheTopOfTheAddressSpaceEnds) {
  using Address = typename TypeParam::Address;
  const Address top = static_cast<Address>(~static_cast<Address>(0));
  this->memory.ForgetAccesses();
  EXPECT_EQ(ScanForFrame<TypeParam>(static_cast<Address>(top - 0x10), top, this->memory), 0u);
  EXPECT_LE(this->memory.reads.size(), 3u) << "the scan must not wrap around to the bottom";
}

TYPED_TEST(StackWalkTest, FrameLineLayout) {
  using L = StackLayout<TypeParam>;
  const uint64_t pc = L::kModule + 0x1564;
  this->symbols.known[pc] = {"sample_crash_null_write", 0x14, "Z:\\work\\sample.cpp", 32};
  const uint64_t heapPc = L::kHeap + 0x40;
  const uint64_t freePc = 0x123456;
  StringTextSink out;
  WriteFrameLine<TypeParam>(out, this->memory, this->symbols, static_cast<typename TypeParam::Address>(pc),
                            static_cast<typename TypeParam::Address>(L::kStackLimit + 0x7F0));
  WriteFrameLine<TypeParam>(out, this->memory, this->symbols, static_cast<typename TypeParam::Address>(heapPc),
                            static_cast<typename TypeParam::Address>(L::kStackLimit + 0x800));
  WriteFrameLine<TypeParam>(out, this->memory, this->symbols, static_cast<typename TypeParam::Address>(freePc),
                            static_cast<typename TypeParam::Address>(L::kStackLimit + 0x810));
  std::wstring expected;
  if (sizeof(typename TypeParam::Address) == 4) {
    expected =
        L"00401564  00001564  0012E7F0  0001:00000564 C:\\app\\client.exe sample_crash_null_write+14 "
        L"Z:\\work\\sample.cpp line 32\n"
        L"00600040  00000040  0012E800  0000:00000000  \n"
        L"00123456  00123456  0012E810  0000:00000000  \n";
  } else {
    expected =
        L"0000000140001564  0000000000001564  000000000021E7F0  0001:00000564 C:\\app\\client.exe "
        L"sample_crash_null_write+14 Z:\\work\\sample.cpp line 32\n"
        L"00000001A0000040  0000000000000040  000000000021E800  0000:00000000  \n"
        L"0000000000123456  0000000000123456  000000000021E810  0000:00000000  \n";
  }
  EXPECT_EQ(out.text(), expected);
  EXPECT_EQ(this->symbols.outstanding, 0);
  ASSERT_EQ(this->symbols.registered.size(), 3u);
  EXPECT_EQ(this->symbols.registered[1].first, L"") << "heap memory belongs to no module";
  EXPECT_EQ(this->symbols.registered[1].second, L::kHeap);
}

}  // namespace
