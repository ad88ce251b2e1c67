#pragma once
// The call-stack block of the crash log: a walker of our own that scans the
// crashed thread's stack for plausible return addresses (the thread is
// neither stopped nor asked for its registers; they come from the handed
// over CONTEXT), and the symbol handler naming every address it lists.
#include <windows.h>
#include <dbghelp.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "analysis/remote_process.h"
#include "analysis/text_sink.h"

// The fields of the 32-bit STACKFRAME the walker uses, for walking 32-bit
// stacks in the 64-bit build (tests); the 32-bit build uses STACKFRAME.
struct StackFrame32 {
  struct Address32 {
    DWORD Offset;
    WORD Segment;
    ADDRESS_MODE Mode;
  };
  Address32 AddrPC, AddrReturn, AddrFrame, AddrStack;
  PVOID FuncTableEntry;
  DWORD Params[4];
  BOOL Far;
  BOOL Virtual;
};

template <typename W>
struct WalkTypes;
template <>
struct WalkTypes<Width32> {
#ifdef _WIN64
  using Frame = StackFrame32;
#else
  using Frame = STACKFRAME;
#endif
};
template <>
struct WalkTypes<Width64> {
  using Frame = STACKFRAME64;
};
using NativeStackFrame = WalkTypes<NativeWidth>::Frame;
#ifndef _WIN64
static_assert(sizeof(STACKFRAME) == 164, "32-bit STACKFRAME");
#endif

// The three registers the walk starts from (Eip/Esp/Ebp, Rip/Rsp/Rbp).
struct StackRegisters {
  uint64_t pc;
  uint64_t sp;
  uint64_t fp;
};
StackRegisters RegistersOf(const CONTEXT& context);

// Where the thread's NT_TIB lies in the crashed process; asked anew at
// every step.
using ThreadBlockLocator = std::function<bool(uint64_t* threadBlock)>;

// The walk's record before its first step: zeroed, PC, stack and frame from
// the registers, all three in flat mode.
template <typename W>
typename WalkTypes<W>::Frame StartStackFrame(const StackRegisters& registers) {
  using Address = typename W::Address;
  typename WalkTypes<W>::Frame frame;
  std::memset(&frame, 0, sizeof frame);
  frame.AddrPC.Offset = static_cast<Address>(registers.pc);
  frame.AddrStack.Offset = static_cast<Address>(registers.sp);
  frame.AddrFrame.Offset = static_cast<Address>(registers.fp);
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrStack.Mode = AddrModeFlat;
  frame.AddrFrame.Mode = AddrModeFlat;
  return frame;
}

// One step: TRUE when the record now describes a frame (AddrPC.Offset its
// instruction address, AddrFrame.Offset its frame address).
template <typename W>
BOOL WalkStackFrameIn(DWORD machine, RemoteMemory& memory, const ThreadBlockLocator& locator,
                      typename WalkTypes<W>::Frame& frame, const StackRegisters& registers);

// The first slot address f (slot-aligned, from `start` rounded down) whose
// next slot holds a plausible return address, scanning no slot above `end`;
// 0 when there is none.
template <typename W>
typename W::Address ScanForFrame(typename W::Address start, typename W::Address end, RemoteMemory& memory);

// The symbol handler as the frame lines use it.
class SymbolSource {
 public:
  virtual ~SymbolSource() = default;
  struct Registration {
    HMODULE localImage = nullptr;
    uint64_t base = 0;
  };
  virtual Registration Register(const std::wstring& modulePath, uint64_t moduleBase) = 0;
  virtual bool Symbol(uint64_t pc, std::string& name, uint64_t& displacement) = 0;
  virtual bool Line(uint64_t pc, std::string& file, unsigned& line) = 0;
  virtual void Release(const Registration& registration) = 0;
};

// The column header and one line per frame found, from the registers on.
template <typename W>
void WriteStackFrames(TextSink& out, DWORD machine, RemoteMemory& memory, const ThreadBlockLocator& locator,
                      SymbolSource& symbols, const StackRegisters& registers);

// One frame line: "%08X  %08X  %08X  %04X:%08X %s " (16 digits for the
// three addresses in the 64-bit width), then the symbol and the source line
// when the symbol handler knows them.
template <typename W>
void WriteFrameLine(TextSink& out, RemoteMemory& memory, SymbolSource& symbols, typename W::Address pc,
                    typename W::Address frameAddress);

// The native forms on real handles.
BOOL WalkStackFrame(DWORD machine, HANDLE process, HANDLE thread, NativeStackFrame* frame, const CONTEXT* context);
HRESULT WriteCallStack(const CONTEXT* context, DWORD processId, DWORD threadId, TextSink& out);
HRESULT WriteCallStack(const CONTEXT* context, DWORD processId, DWORD threadId, FILE* stream);

// The NT_TIB of a thread: the FS segment base on 32-bit, the TEB on x64.
bool LocateThreadBlock(HANDLE thread, const CONTEXT& context, uint64_t* threadBlock);

extern const DWORD kSymbolOptions;
