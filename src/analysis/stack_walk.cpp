#include "analysis/stack_walk.h"

#include <winternl.h>

#include <cstring>
#include <type_traits>

#include "base/scoped_handle.h"
#include "base/str_conv.h"
#include "log/logger.h"

// Deferred loads and line numbers; names stay as the handler gives them
// (no undecoration).
const DWORD kSymbolOptions = SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES;
static_assert(SYMOPT_DEFERRED_LOADS + SYMOPT_LOAD_LINES == 0x14, "symbol options");

StackRegisters RegistersOf(const CONTEXT& context) {
#ifdef _WIN64
  return StackRegisters{context.Rip, context.Rsp, context.Rbp};
#else
  return StackRegisters{context.Eip, context.Esp, context.Ebp};
#endif
}

template <typename W>
typename W::Address ScanForFrame(typename W::Address start, typename W::Address end, RemoteMemory& memory) {
  using Address = typename W::Address;
  constexpr Address kSlot = sizeof(Address);
  Address f = start & ~(kSlot - 1);
  // Written as a distance so a frame near the top of the address space
  // cannot wrap around and scan from the bottom again.
  while (f <= end && end - f >= 2 * kSlot) {
    Address value = 0;
    if (ReadRemote(memory, f + kSlot, value) && IsReturnAddressIn<W>(memory, value)) return f;
    f += kSlot;
  }
  return 0;
}

template <typename W>
BOOL WalkStackFrameIn(DWORD machine, RemoteMemory& memory, const ThreadBlockLocator& locator,
                      typename WalkTypes<W>::Frame& frame, const StackRegisters& registers) {
  using Address = typename W::Address;
  constexpr Address kSlot = sizeof(Address);
  if (machine != W::kMachine || frame.AddrFrame.Mode != AddrModeFlat) return FALSE;
  uint64_t blockAddress = 0;
  if (!locator || !locator(&blockAddress)) return FALSE;
  typename W::ThreadBlock block;
  if (!ReadRemote(memory, blockAddress, block)) return FALSE;
  const Address stackBase = static_cast<Address>(block.StackBase);
  const Address stackLimit = static_cast<Address>(block.StackLimit);
  auto onStack = [&](Address a) { return stackLimit <= a && a <= stackBase; };

  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrReturn.Mode = AddrModeFlat;
  frame.Far = FALSE;
  if (!frame.Virtual) {
    frame.Virtual = TRUE;
    const Address start = static_cast<Address>(frame.AddrFrame.Offset);
    Address found = onStack(start) ? start : 0;
    const Address sp = static_cast<Address>(registers.sp);
    if (onStack(sp)) found = ScanForFrame<W>(sp, stackBase, memory);
    frame.AddrFrame.Offset = found;
  } else {
    const Address f = static_cast<Address>(frame.AddrFrame.Offset);
    if (!onStack(f)) return FALSE;
    frame.AddrPC.Offset = frame.AddrReturn.Offset;
    frame.AddrFrame.Offset = stackBase - f > 2 * kSlot ? ScanForFrame<W>(f + kSlot, stackBase, memory) : 0;
  }

  if (frame.AddrFrame.Offset == 0) {
    frame.AddrReturn.Offset = 0;
    for (auto& parameter : frame.Params) parameter = 0;
    return FALSE;
  }
  const Address at = static_cast<Address>(frame.AddrFrame.Offset);
  Address record[6] = {};
  if (ReadRemote(memory, at, record)) {
    frame.AddrReturn.Offset = record[1];
    for (int i = 0; i < 4; ++i) frame.Params[i] = record[2 + i];
  } else {
    // The return slot was readable when the scan found it; the argument
    // slots above it may run past the readable stack.
    Address returnAddress = 0;
    frame.AddrReturn.Offset = ReadRemote(memory, at + kSlot, returnAddress) ? returnAddress : 0;
    for (auto& parameter : frame.Params) parameter = 0;
  }
  return TRUE;
}

template <typename W>
void WriteFrameLine(TextSink& out, RemoteMemory& memory, SymbolSource& symbols, typename W::Address pc,
                    typename W::Address frameAddress) {
  using Address = typename W::Address;
  std::wstring modulePath;
  DWORD section = 0, offset = 0;
  Address moduleBase = 0;
  GetLogicalAddressIn<W>(memory, pc, modulePath, section, offset, moduleBase);
  const Address relative = static_cast<Address>(pc - moduleBase);
  if constexpr (W::kDigits == 16) {
    out.Write(tp::wformat(L"%016I64X  %016I64X  %016I64X  %04X:%08X %s ", static_cast<unsigned long long>(pc),
                          static_cast<unsigned long long>(relative), static_cast<unsigned long long>(frameAddress),
                          section, offset, modulePath.c_str()));
  } else {
    out.Write(tp::wformat(L"%08X  %08X  %08X  %04X:%08X %s ", static_cast<unsigned>(pc),
                          static_cast<unsigned>(relative), static_cast<unsigned>(frameAddress), section, offset,
                          modulePath.c_str()));
  }
  const SymbolSource::Registration registration = symbols.Register(modulePath, moduleBase);
  auto release = fp::scope_exit([&] { symbols.Release(registration); });
  std::string name;
  uint64_t displacement = 0;
  if (symbols.Symbol(pc, name, displacement))
    out.Write(tp::wformat(L"%S+%I64X", name.c_str(), static_cast<unsigned long long>(displacement)));
  std::string file;
  unsigned line = 0;
  if (symbols.Line(pc, file, line)) out.Write(tp::wformat(L" %S line %u", file.c_str(), line));
  out.Write(L"\n");
}

template <typename W>
void WriteStackFrames(TextSink& out, DWORD machine, RemoteMemory& memory, const ThreadBlockLocator& locator,
                      SymbolSource& symbols, const StackRegisters& registers) {
  using Address = typename W::Address;
  out.Write(L"\nCall stack:\n");
  out.Write(L"Address   Offset    Frame     Function      SourceFile\n");
  typename WalkTypes<W>::Frame frame = StartStackFrame<W>(registers);
  while (WalkStackFrameIn<W>(machine, memory, locator, frame, registers) && frame.AddrFrame.Offset != 0) {
    WriteFrameLine<W>(out, memory, symbols, static_cast<Address>(frame.AddrPC.Offset),
                      static_cast<Address>(frame.AddrFrame.Offset));
  }
}

template uint32_t ScanForFrame<Width32>(uint32_t, uint32_t, RemoteMemory&);
template uint64_t ScanForFrame<Width64>(uint64_t, uint64_t, RemoteMemory&);
template BOOL WalkStackFrameIn<Width32>(DWORD, RemoteMemory&, const ThreadBlockLocator&, WalkTypes<Width32>::Frame&,
                                        const StackRegisters&);
template BOOL WalkStackFrameIn<Width64>(DWORD, RemoteMemory&, const ThreadBlockLocator&, WalkTypes<Width64>::Frame&,
                                        const StackRegisters&);
template void WriteFrameLine<Width32>(TextSink&, RemoteMemory&, SymbolSource&, uint32_t, uint32_t);
template void WriteFrameLine<Width64>(TextSink&, RemoteMemory&, SymbolSource&, uint64_t, uint64_t);
template void WriteStackFrames<Width32>(TextSink&, DWORD, RemoteMemory&, const ThreadBlockLocator&, SymbolSource&,
                                        const StackRegisters&);
template void WriteStackFrames<Width64>(TextSink&, DWORD, RemoteMemory&, const ThreadBlockLocator&, SymbolSource&,
                                        const StackRegisters&);

namespace {

#ifdef _WIN64
// The head of the record NtQueryInformationThread fills for
// ThreadBasicInformation.
struct ThreadBasicInformationRecord {
  NTSTATUS ExitStatus;
  PVOID TebBaseAddress;
  CLIENT_ID ClientId;
  KAFFINITY AffinityMask;
  LONG Priority;
  LONG BasePriority;
};
#endif

// The symbol handler on the crashed process's handle. Each frame registers
// its module and unregisters it again, so nothing is kept between frames.
class Win32SymbolSource : public SymbolSource {
 public:
  explicit Win32SymbolSource(HANDLE process) : m_process(process) {}

  Registration Register(const std::wstring& modulePath, uint64_t moduleBase) override {
    Registration registration;
    const std::string image = StrConv::ToAnsi(modulePath);
    registration.base = ::SymLoadModule64(m_process, nullptr, image.c_str(), nullptr, 0, 0);
    if (registration.base == 0) {
      // Mapped into Faultpost itself so the handler can read the image from
      // here; nothing in it runs.
      registration.localImage = ::LoadLibraryExW(modulePath.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
      registration.base = ::SymLoadModule64(m_process, nullptr, image.c_str(), nullptr, moduleBase, 0);
    }
    return registration;
  }

  bool Symbol(uint64_t pc, std::string& name, uint64_t& displacement) override {
    alignas(SYMBOL_INFO) char buffer[4096] = {};
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = 2000;
    DWORD64 found = 0;
    if (!::SymFromAddr(m_process, pc, &found, symbol)) return false;
    const char* end = buffer + sizeof buffer;
    name.assign(symbol->Name, strnlen(symbol->Name, static_cast<size_t>(end - symbol->Name)));
    displacement = found;
    return true;
  }

  bool Line(uint64_t pc, std::string& file, unsigned& lineNumber) override {
    IMAGEHLP_LINE line = {};
    line.SizeOfStruct = sizeof line;
    DWORD displacement = 0;
    if (!::SymGetLineFromAddr(m_process, static_cast<ULONG_PTR>(pc), &displacement, &line)) return false;
    file = line.FileName ? line.FileName : "";
    lineNumber = line.LineNumber;
    return true;
  }

  void Release(const Registration& registration) override {
    if (registration.localImage != nullptr) ::FreeLibrary(registration.localImage);
    if (registration.base != 0) ::SymUnloadModule64(m_process, registration.base);
  }

 private:
  HANDLE m_process;
};
#ifndef _WIN64
static_assert(sizeof(IMAGEHLP_LINE) == 20, "32-bit line record");
#endif
static_assert(sizeof(SYMBOL_INFO) == 88, "symbol record");

}  // namespace

bool LocateThreadBlock(HANDLE thread, const CONTEXT& context, uint64_t* threadBlock) {
#ifdef _WIN64
  // No FS segment descriptor to ask for on x64: the TEB, which starts with
  // the NT_TIB, comes from the thread's basic information.
  (void)context;
  ThreadBasicInformationRecord information = {};
  if (::NtQueryInformationThread(thread, static_cast<THREADINFOCLASS>(0), &information, sizeof information,
                                 nullptr) != 0)
    return false;
  *threadBlock = reinterpret_cast<ULONG_PTR>(information.TebBaseAddress);
  return information.TebBaseAddress != nullptr;
#else
  LDT_ENTRY entry = {};
  if (!::GetThreadSelectorEntry(thread, context.SegFs, &entry)) return false;
  *threadBlock = (static_cast<uint32_t>(entry.HighWord.Bytes.BaseHi) << 24) |
                 (static_cast<uint32_t>(entry.HighWord.Bytes.BaseMid) << 16) | entry.BaseLow;
  return true;
#endif
}

BOOL WalkStackFrame(DWORD machine, HANDLE process, HANDLE thread, NativeStackFrame* frame, const CONTEXT* context) {
  if (frame == nullptr || context == nullptr) return FALSE;
  Win32RemoteMemory memory(process);
  ThreadBlockLocator locator = [&](uint64_t* block) { return LocateThreadBlock(thread, *context, block); };
  return WalkStackFrameIn<NativeWidth>(machine, memory, locator, *frame, RegistersOf(*context));
}

HRESULT WriteCallStack(const CONTEXT* context, DWORD processId, DWORD threadId, TextSink& out) {
  if (context == nullptr) return E_FAIL;
  fp::ScopedHandle process(OpenRemoteProcess(processId));
  if (!process) return E_FAIL;
  fp::ScopedHandle thread(OpenRemoteThread(threadId));
  if (!thread) return E_FAIL;
  ::SymSetOptions(kSymbolOptions);
  if (!::SymInitialize(process.get(), nullptr, TRUE)) return E_FAIL;
  auto cleanup = fp::scope_exit([&] { ::SymCleanup(process.get()); });

  Win32RemoteMemory memory(process.get());
  Win32SymbolSource symbols(process.get());
  const HANDLE threadHandle = thread.get();
  ThreadBlockLocator locator = [&](uint64_t* block) { return LocateThreadBlock(threadHandle, *context, block); };
  WriteStackFrames<NativeWidth>(out, NativeWidth::kMachine, memory, locator, symbols, RegistersOf(*context));
  return S_OK;
}

HRESULT WriteCallStack(const CONTEXT* context, DWORD processId, DWORD threadId, FILE* stream) {
  StreamTextSink out(stream);
  return WriteCallStack(context, processId, threadId, out);
}
