#pragma once
// The client side of the crash hand-over: link this library into a Windows
// client, call InstallCrashHandler once at start-up from the main thread,
// and an unhandled crash is handed to Faultpost, which reports it from
// outside. The record layout is docs/handover.md.
#include <windows.h>

#include <string>
#include <vector>

namespace nimbrel {

struct HandoverConfig {
  std::wstring faultpostPath;      // Faultpost.exe; empty: beside the client's executable
  std::wstring argument0;          // argument 0 as written on the command line; empty: faultpostPath
  std::wstring blockName;          // empty: "NimbrelCrash_<pid>"
  std::wstring uploadUrl = L"http://127.0.0.1/";
  std::wstring clientPath;         // restarted on request; empty: the client's own executable
  // Optional arguments 4 to 7, passed as written; trailing empty ones are
  // left off, inner empty ones are passed as "".
  std::wstring showDialog;
  std::wstring sendReport;
  std::wstring deviceId;
  std::wstring statHttps;
  // When set, replaces everything after argument 0 (for clients that need
  // their own argument list).
  bool useRawArguments = false;
  std::wstring rawArguments;

  std::wstring infoLine;           // see BuildInfoLine
  std::wstring statisticsText;
  std::wstring extraInfo;
  std::wstring logTail;
  std::wstring dumpFile;           // empty: Faultpost's default
  std::wstring logFile;            // empty: Faultpost's default

  DWORD mainThreadId = 0;          // 0: the thread that installs the handler
  DWORD waitMilliseconds = 10 * 60 * 1000;  // how long the crashed process waits for Faultpost
};

// "OS VERSION: <os>  IM VERSION: <im>  IP: <ip>  OrvelID: <id>".
std::wstring BuildInfoLine(const std::wstring& osVersion, const std::wstring& imVersion, const std::wstring& ip,
                           const std::wstring& accountId);

// The command line Faultpost is started with, argument 0 included.
std::wstring BuildFaultpostCommandLine(const HandoverConfig& config, const std::wstring& blockName);

// Installs the unhandled-exception filter (and a terminate handler, so an
// uncaught C++ exception reaches it too). Keeps a copy of the config.
void InstallCrashHandler(const HandoverConfig& config);

// The code an uncaught C++ exception is reported with.
constexpr DWORD kUncaughtCppExceptionCode = 0xE06D7363;

}  // namespace nimbrel
