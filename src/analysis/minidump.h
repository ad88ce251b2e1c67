#pragma once
// Writes a dump file of the crashed process from outside, in the mode the
// caller chooses; naming, logging and ordering are the caller's.
#include <windows.h>

#include <string>

constexpr DWORD kMiniDumpModeNormal = 0;      // MiniDumpNormal
constexpr DWORD kMiniDumpModeFullMemory = 2;  // MiniDumpWithFullMemory

// `clientPointers` 1: `exceptionPointers` is an EXCEPTION_POINTERS address
// in the crashed process; 0: in Faultpost's own memory. True when the dump
// was written. A file created before a later failure is left in place.
bool WriteMiniDump(BYTE clientPointers, ULONG_PTR exceptionPointers, DWORD processId, DWORD threadId,
                   const std::wstring& path, DWORD mode);
