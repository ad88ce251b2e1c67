#pragma once
// The crash record the client hands over in named shared memory. Both sides
// must agree on every byte; docs/handover.md gives the layouts for clients
// written elsewhere.
#include <windows.h>

#include <cstddef>
#include <cstdint>

struct TExceptionContext {
  ULONG_PTR ExceptionPointers;  // EXCEPTION_POINTERS* in the crashed process, or 0
  DWORD ExceptionCode;          // 0 = no exception: nothing is reported
#ifdef _WIN64
  DWORD Reserved0;              // keeps ExceptionAddress on its natural 8-byte boundary
#endif
  ULONG_PTR ExceptionAddress;
  DWORD ProcessId;
  DWORD ThreadId;
  CONTEXT ThreadContext;        // the faulting thread
  DWORD MainThreadId;
#ifdef _WIN64
  DWORD Reserved1[3];           // the x64 CONTEXT is 16-byte aligned
#endif
  CONTEXT MainThreadContext;
  wchar_t DumpFile[260];        // empty = default minidump path
  wchar_t LogFile[260];         // empty = default crash log path
  wchar_t LogTail[260];
  wchar_t InfoLine[1024];
  wchar_t ExtraInfo[1024];
  wchar_t StatisticsText[1024];
  EXCEPTION_RECORD ExceptionRecord;
};

#ifdef _WIN64
static_assert(sizeof(CONTEXT) == 1232, "x64 CONTEXT");
static_assert(sizeof(EXCEPTION_RECORD) == 152, "x64 EXCEPTION_RECORD");
static_assert(offsetof(TExceptionContext, ExceptionPointers) == 0, "layout");
static_assert(offsetof(TExceptionContext, ExceptionCode) == 8, "layout");
static_assert(offsetof(TExceptionContext, ExceptionAddress) == 16, "layout");
static_assert(offsetof(TExceptionContext, ProcessId) == 24, "layout");
static_assert(offsetof(TExceptionContext, ThreadId) == 28, "layout");
static_assert(offsetof(TExceptionContext, ThreadContext) == 32, "layout");
static_assert(offsetof(TExceptionContext, MainThreadId) == 1264, "layout");
static_assert(offsetof(TExceptionContext, MainThreadContext) == 1280, "layout");
static_assert(offsetof(TExceptionContext, DumpFile) == 2512, "layout");
static_assert(offsetof(TExceptionContext, LogFile) == 3032, "layout");
static_assert(offsetof(TExceptionContext, LogTail) == 3552, "layout");
static_assert(offsetof(TExceptionContext, InfoLine) == 4072, "layout");
static_assert(offsetof(TExceptionContext, ExtraInfo) == 6120, "layout");
static_assert(offsetof(TExceptionContext, StatisticsText) == 8168, "layout");
static_assert(offsetof(TExceptionContext, ExceptionRecord) == 10216, "layout");
static_assert(sizeof(TExceptionContext) == 10368, "x64 hand-over block size");
#else
static_assert(sizeof(CONTEXT) == 716, "x86 CONTEXT");
static_assert(sizeof(EXCEPTION_RECORD) == 80, "x86 EXCEPTION_RECORD");
static_assert(offsetof(TExceptionContext, ExceptionPointers) == 0, "layout");
static_assert(offsetof(TExceptionContext, ExceptionCode) == 4, "layout");
static_assert(offsetof(TExceptionContext, ExceptionAddress) == 8, "layout");
static_assert(offsetof(TExceptionContext, ProcessId) == 12, "layout");
static_assert(offsetof(TExceptionContext, ThreadId) == 16, "layout");
static_assert(offsetof(TExceptionContext, ThreadContext) == 20, "layout");
static_assert(offsetof(TExceptionContext, MainThreadId) == 736, "layout");
static_assert(offsetof(TExceptionContext, MainThreadContext) == 740, "layout");
static_assert(offsetof(TExceptionContext, DumpFile) == 1456, "layout");
static_assert(offsetof(TExceptionContext, LogFile) == 1976, "layout");
static_assert(offsetof(TExceptionContext, LogTail) == 2496, "layout");
static_assert(offsetof(TExceptionContext, InfoLine) == 3016, "layout");
static_assert(offsetof(TExceptionContext, ExtraInfo) == 5064, "layout");
static_assert(offsetof(TExceptionContext, StatisticsText) == 7112, "layout");
static_assert(offsetof(TExceptionContext, ExceptionRecord) == 9160, "layout");
static_assert(sizeof(TExceptionContext) == 9240, "x86 hand-over block size");
#endif
