// The minidump writer on a parked copy of this program, with the exception
// taken from Faultpost's own memory, read back with dbghelp, and the two
// ways it fails. (The full-memory mode is checked end to end: it takes tens
// of seconds on a process of this size.)
#include <gtest/gtest.h>
#include <dbghelp.h>

#include <string>

#include "analysis/minidump.h"
#include "base/scoped_handle.h"
#include "fixture_files.h"

namespace {

// Run only as the child of the tests below.
TEST(MiniDumpChild, DISABLED_Park) { ::Sleep(60000); }

struct Child {
  PROCESS_INFORMATION process = {};
  bool Start() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) +
                        L"\" --gtest_filter=MiniDumpChild.DISABLED_Park --gtest_also_run_disabled_tests";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return false;
    ::WaitForInputIdle(process.hProcess, 2000);
    ::Sleep(500);  // past the loader
    return true;
  }
  void Stop() {
    if (process.hProcess == nullptr) return;
    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    process = {};
  }
  ~Child() { Stop(); }
};

// A dump file mapped for reading its streams.
class DumpFile {
 public:
  explicit DumpFile(const std::wstring& path) {
    m_file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!m_file) return;
    m_size = ::GetFileSize(m_file.get(), nullptr);
    m_mapping.reset(::CreateFileMappingW(m_file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (m_mapping) m_view.reset(::MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0));
  }
  template <typename T>
  const T* Stream(ULONG type) const {
    MINIDUMP_DIRECTORY* directory = nullptr;
    void* stream = nullptr;
    ULONG size = 0;
    if (!m_view || !::MiniDumpReadDumpStream(m_view.get(), type, &directory, &stream, &size)) return nullptr;
    return static_cast<const T*>(stream);
  }
  std::wstring Text(RVA rva) const {
    const auto* string = reinterpret_cast<const MINIDUMP_STRING*>(static_cast<const BYTE*>(m_view.get()) + rva);
    return std::wstring(string->Buffer, string->Length / 2);
  }
  DWORD size() const { return m_size; }

 private:
  fp::ScopedFileHandle m_file;
  fp::ScopedHandle m_mapping;
  fp::ScopedMappedView m_view;
  DWORD m_size = 0;
};

bool ListsModule(const DumpFile& dump, const wchar_t* name) {
  const auto* modules = dump.Stream<MINIDUMP_MODULE_LIST>(ModuleListStream);
  if (modules == nullptr) return false;
  for (ULONG32 i = 0; i < modules->NumberOfModules; ++i) {
    const std::wstring path = dump.Text(modules->Modules[i].ModuleNameRva);
    if (path.size() >= wcslen(name) && _wcsicmp(path.c_str() + path.size() - wcslen(name), name) == 0) return true;
  }
  return false;
}

TEST(MiniDump, ExceptionFromOwnCopies) {
  Child child;
  ASSERT_TRUE(child.Start());
  // The exception and the context live in our memory: flag 0.
  CONTEXT context = {};
  context.ContextFlags = CONTEXT_FULL;
  ::SuspendThread(child.process.hThread);
  ASSERT_TRUE(::GetThreadContext(child.process.hThread, &context));
  ::ResumeThread(child.process.hThread);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = 0xC0000094;
#ifdef _WIN64
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
#else
  record.ExceptionAddress = reinterpret_cast<void*>(context.Eip);
#endif
  EXCEPTION_POINTERS pointers = {&record, &context};

  TempDirectory directory;
  const std::wstring normal = directory.path() + L"Nimbrel.dmp";
  TouchFile(normal, std::string(3000000, 'x'));  // truncated, not kept
  ASSERT_TRUE(WriteMiniDump(0, reinterpret_cast<ULONG_PTR>(&pointers), child.process.dwProcessId,
                            child.process.dwThreadId, normal, kMiniDumpModeNormal));

  const DumpFile dump(normal);
  const auto* exception = dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);
  ASSERT_NE(exception, nullptr);
  EXPECT_EQ(exception->ThreadId, child.process.dwThreadId);
  EXPECT_EQ(exception->ExceptionRecord.ExceptionCode, 0xC0000094u);
  EXPECT_TRUE(ListsModule(dump, L"analysis_tests.exe"));
  EXPECT_LT(dump.size(), 3000000u);
  EXPECT_EQ(dump.Stream<MINIDUMP_MEMORY64_LIST>(Memory64ListStream), nullptr) << "no full memory in mode 0";
}

TEST(MiniDump, MissingDirectoryFails) {
  TempDirectory directory;
  const std::wstring path = directory.path() + L"no\\such\\Nimbrel.dmp";
  EXPECT_FALSE(WriteMiniDump(0, 0, ::GetCurrentProcessId(), ::GetCurrentThreadId(), path, kMiniDumpModeNormal));
  EXPECT_FALSE(FileExists(path));
}

TEST(MiniDump, ExitedProcessLeavesAnEmptyFile) {
  Child child;
  ASSERT_TRUE(child.Start());
  const DWORD processId = child.process.dwProcessId, threadId = child.process.dwThreadId;
  child.Stop();
  TempDirectory directory;
  const std::wstring path = directory.path() + L"Nimbrel.dmp";
  EXPECT_FALSE(WriteMiniDump(0, 0, processId, threadId, path, kMiniDumpModeNormal));
  ASSERT_TRUE(FileExists(path));
  EXPECT_EQ(DumpFile(path).size(), 0u);
}

}  // namespace
