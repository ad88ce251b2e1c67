#include "analysis/minidump.h"

#include <dbghelp.h>

#include "analysis/remote_process.h"
#include "base/scoped_handle.h"

bool WriteMiniDump(BYTE clientPointers, ULONG_PTR exceptionPointers, DWORD processId, DWORD threadId,
                   const std::wstring& path, DWORD mode) {
  fp::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  fp::ScopedHandle process(OpenRemoteProcess(processId));
  if (!process) return false;

  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = threadId;
  exception.ExceptionPointers = reinterpret_cast<PEXCEPTION_POINTERS>(exceptionPointers);
  exception.ClientPointers = clientPointers;
  const BOOL written = ::MiniDumpWriteDump(process.get(), processId, file.get(), static_cast<MINIDUMP_TYPE>(mode),
                                           &exception, nullptr, nullptr);
  // The process handle goes before the file handle.
  process.reset();
  file.reset();
  return written == TRUE;
}
