// A small client that crashes on purpose and hands the crash to Faultpost.
// Options choose the kind of crash, the depth of the call chain in front of
// it, the thread it happens on, and everything passed to Faultpost.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "nimbrel_handover.h"

namespace {

enum class CrashKind { NullWrite, NullCall, DivideByZero, CppThrow, None };

struct Options {
  CrashKind crash = CrashKind::NullWrite;
  int depth = 3;
  int idleThreads = 0;
  bool crashOnWorker = false;
  std::vector<std::wstring> modules;  // loaded before the crash
  DWORD sleepBeforeCrash = 0;
  nimbrel::HandoverConfig handover;
};

volatile int g_zero = 0;

__attribute__((noinline)) void sample_crash_null_write() {
  volatile int* target = nullptr;
  *target = 0x4E494D42;
}

__attribute__((noinline)) void sample_crash_null_call() {
  void (*volatile function)() = nullptr;
  function();
}

__attribute__((noinline)) int sample_crash_divide() { return 100 / g_zero; }

__attribute__((noinline)) void sample_crash_throw() { throw std::runtime_error("sample client gives up"); }

__attribute__((noinline)) void sample_crash_now(CrashKind kind) {
  switch (kind) {
    case CrashKind::NullWrite: sample_crash_null_write(); break;
    case CrashKind::NullCall: sample_crash_null_call(); break;
    case CrashKind::DivideByZero: std::printf("%d\n", sample_crash_divide()); break;
    case CrashKind::CppThrow: sample_crash_throw(); break;
    case CrashKind::None: break;
  }
}

// Not a tail call and not inlined, so each level leaves its own frame.
__attribute__((noinline)) int sample_chain_step(int remaining, CrashKind kind) {
  volatile int marker = remaining;
  if (remaining <= 0) {
    sample_crash_now(kind);
    return marker;
  }
  return sample_chain_step(remaining - 1, kind) + marker;
}

__attribute__((noinline)) void sample_crash_entry(const Options& options) {
  if (options.sleepBeforeCrash) ::Sleep(options.sleepBeforeCrash);
  sample_chain_step(options.depth, options.crash);
}

DWORD WINAPI IdleThread(LPVOID) {
  ::Sleep(INFINITE);
  return 0;
}

DWORD WINAPI CrashThread(LPVOID parameter) {
  sample_crash_entry(*static_cast<const Options*>(parameter));
  return 0;
}

bool TakeValue(const std::wstring& argument, const wchar_t* name, std::wstring& value) {
  std::wstring prefix = std::wstring(L"--") + name + L"=";
  if (argument.compare(0, prefix.size(), prefix) != 0) return false;
  value = argument.substr(prefix.size());
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i], v;
    auto& h = options.handover;
    if (TakeValue(a, L"crash", v)) {
      if (v == L"null-write") options.crash = CrashKind::NullWrite;
      else if (v == L"null-call") options.crash = CrashKind::NullCall;
      else if (v == L"divide") options.crash = CrashKind::DivideByZero;
      else if (v == L"throw") options.crash = CrashKind::CppThrow;
      else if (v == L"none") options.crash = CrashKind::None;
      else return false;
    } else if (TakeValue(a, L"depth", v)) options.depth = _wtoi(v.c_str());
    else if (TakeValue(a, L"threads", v)) options.idleThreads = _wtoi(v.c_str());
    else if (TakeValue(a, L"crash-thread", v)) options.crashOnWorker = (v == L"worker");
    else if (TakeValue(a, L"load", v)) options.modules.push_back(v);
    else if (TakeValue(a, L"sleep", v)) options.sleepBeforeCrash = static_cast<DWORD>(_wtoi(v.c_str()));
    else if (TakeValue(a, L"faultpost", v)) h.faultpostPath = v;
    else if (TakeValue(a, L"arg0", v)) h.argument0 = v;
    else if (TakeValue(a, L"block", v)) h.blockName = v;
    else if (TakeValue(a, L"url", v)) h.uploadUrl = v;
    else if (TakeValue(a, L"client", v)) h.clientPath = v;
    else if (TakeValue(a, L"show", v)) h.showDialog = v;
    else if (TakeValue(a, L"send", v)) h.sendReport = v;
    else if (TakeValue(a, L"device-id", v)) h.deviceId = v;
    else if (TakeValue(a, L"https", v)) h.statHttps = v;
    else if (TakeValue(a, L"raw-args", v)) { h.useRawArguments = true; h.rawArguments = v; }
    else if (TakeValue(a, L"info-line", v)) h.infoLine = v;
    else if (TakeValue(a, L"stat-text", v)) h.statisticsText = v;
    else if (TakeValue(a, L"extra-info", v)) h.extraInfo = v;
    else if (TakeValue(a, L"log-tail", v)) h.logTail = v;
    else if (TakeValue(a, L"dump-file", v)) h.dumpFile = v;
    else if (TakeValue(a, L"log-file", v)) h.logFile = v;
    else if (TakeValue(a, L"wait-ms", v)) h.waitMilliseconds = static_cast<DWORD>(_wtoi(v.c_str()));
    else return false;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  options.handover.infoLine =
      nimbrel::BuildInfoLine(L"Windows_10.0.19045", L"7.22.0.8", L"[n/a]", L"100200300");
  options.handover.statisticsText = L"client=sample@#version=7.22.0.8";
  options.handover.extraInfo = L"sample client extra info";
  options.handover.logTail = L"sample client log tail";
  if (!ParseOptions(argc, argv, options)) {
    std::fwprintf(stderr,
                  L"usage: sample-client [--crash=null-write|null-call|divide|throw|none] [--depth=N]\n"
                  L"  [--threads=N] [--crash-thread=main|worker] [--load=module.dll]... [--sleep=ms]\n"
                  L"  [--faultpost=path] [--arg0=text] [--block=name] [--url=url] [--client=path]\n"
                  L"  [--show=n] [--send=n] [--device-id=text] [--https=n] [--raw-args=text]\n"
                  L"  [--info-line=text] [--stat-text=text] [--extra-info=text] [--log-tail=text]\n"
                  L"  [--dump-file=path] [--log-file=path] [--wait-ms=n]\n");
    return 2;
  }
  nimbrel::InstallCrashHandler(options.handover);
  for (const std::wstring& module : options.modules) {
    if (::LoadLibraryW(module.c_str()) == nullptr) {
      std::fwprintf(stderr, L"sample-client: cannot load %ls\n", module.c_str());
      return 3;
    }
  }
  for (int i = 0; i < options.idleThreads; ++i) ::CloseHandle(::CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr));
  if (options.crashOnWorker) {
    HANDLE worker = ::CreateThread(nullptr, 0, CrashThread, &options, 0, nullptr);
    ::WaitForSingleObject(worker, INFINITE);
    ::CloseHandle(worker);
  } else {
    sample_crash_entry(options);
  }
  return 0;
}
