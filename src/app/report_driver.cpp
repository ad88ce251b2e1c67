#include "app/report_driver.h"

#include <io.h>
#include <commctrl.h>

#include "analysis/crash_log.h"
#include "analysis/info_header.h"
#include "analysis/minidump.h"
#include "app/command_line.h"
#include "app/component_repairer.h"
#include "app/paths.h"
#include "base/str_conv.h"
#include "intake/sharing_memory.h"
#include "log/logger.h"
#include "ui/app_module.h"
#include "ui/main_dlg.h"

namespace {
void Log(const wchar_t* text) { tp::get_logger().write(0, text, true); }

int ArgumentNumber(const ArgumentList& arguments, size_t position) {
  return arguments.size() > position ? _wtoi(arguments[position].c_str()) : 0;
}
}  // namespace

FullDumpChoice ChooseFullDumpPath(const std::wstring& reportDirectory,
                                  const std::function<bool(const std::wstring&)>& exists) {
  auto name = [&](int index) { return std::wstring(tp::wformat(L"%sfull.%d.dmp", reportDirectory.c_str(), index)); };
  int index = 0;
  while (index < 4 && exists(name(index))) ++index;
  return FullDumpChoice{name(index % 4), name((index + 1) % 4)};
}

std::wstring ChooseFullDumpPath(const std::wstring& reportDirectory) {
  FullDumpChoice choice = ChooseFullDumpPath(
      reportDirectory, [](const std::wstring& path) { return _waccess_s(path.c_str(), 0) == 0; });
  ::DeleteFileW(choice.deleteFirst.c_str());
  return choice.path;
}

std::wstring StatisticsSuffix(DWORD exceptionCode, ULONG_PTR exceptionAddress) {
#ifdef _WIN64
  return tp::wformat(L"@#exception_code=0x%08x@#exception_addr=0x%016I64x", static_cast<unsigned>(exceptionCode),
                     static_cast<unsigned long long>(exceptionAddress)).c_str();
#else
  return tp::wformat(L"@#exception_code=0x%08x@#exception_addr=0x%08x", static_cast<unsigned>(exceptionCode),
                     static_cast<unsigned>(exceptionAddress)).c_str();
#endif
}

int ReportCrash(HINSTANCE instance, UINT* restart) {
  CMainDlg dialog;
  const std::wstring reportDirectory = GetReportDirectory();
  dialog.m_crashLogPath = reportDirectory + L"client_info.txt";
  dialog.m_dumpFilePath = GetReportDirectory() + L"Nimbrel.dmp";

  ArgumentList arguments;
  SplitCommandLine(arguments);
  if (arguments.size() < 4) return -1;

  Log(tp::wformat(L"try open share memory[%s]", arguments[1].c_str()));
  KELP::CSharingMemory<TExceptionContext> shared;
  const TExceptionContext* context = shared.Open(arguments[1].c_str()) ? shared.Get() : nullptr;
  if (context == nullptr || context->ExceptionCode == 0) {
    Log(tp::wformat(L"open share memory failed or non exception[%d]", context ? static_cast<int>(context->ExceptionCode) : 0));
    shared.Close();
    return -1;
  }
  Log(tp::wformat(L"open share memory[%s] succeed", arguments[1].c_str()));

  const std::wstring dumpFile = fp::FieldText(context->DumpFile);
  const std::wstring logFile = fp::FieldText(context->LogFile);
  if (!dumpFile.empty()) dialog.m_dumpFilePath = dumpFile;
  if (!logFile.empty()) dialog.m_crashLogPath = logFile;
  dialog.m_uploadUrl = arguments[2];

  const int showDialog = ArgumentNumber(arguments, 4);
  const int sendReport = ArgumentNumber(arguments, 5);
  dialog.m_deviceId = arguments.size() >= 7 ? arguments[6] : std::wstring(L"[n/a]");
  dialog.m_statHttps = ArgumentNumber(arguments, 7);

  std::wstring fullDumpPath;
  if (ShouldWriteFullDump(context->ExceptionCode)) fullDumpPath = ChooseFullDumpPath(reportDirectory);

  Log(tp::wformat(L"start write mini dump[%s]", dialog.m_dumpFilePath.c_str()));
  // Without the client's own pointers the dump takes the copies in the
  // mapped block; this record and the mapping outlive both dump writes.
  EXCEPTION_POINTERS sharedPointers = {};
  sharedPointers.ExceptionRecord = const_cast<EXCEPTION_RECORD*>(&context->ExceptionRecord);
  sharedPointers.ContextRecord = const_cast<CONTEXT*>(&context->ThreadContext);
  const BYTE clientPointers = context->ExceptionPointers != 0 ? 1 : 0;
  const ULONG_PTR exceptionPointers =
      clientPointers ? context->ExceptionPointers : reinterpret_cast<ULONG_PTR>(&sharedPointers);
  WriteMiniDump(clientPointers, exceptionPointers, context->ProcessId, context->ThreadId, dialog.m_dumpFilePath,
                kMiniDumpModeNormal);

  const std::wstring closingText = fp::FieldText(context->ExtraInfo) +
      std::wstring(tp::wformat(L"\r\nfulldump=%s", fullDumpPath.empty() ? L"null" : fullDumpPath.c_str()));
  Log(tp::wformat(L"start write plaim dump[%s]", dialog.m_crashLogPath.c_str()));
  WriteCrashLog(context->ExceptionCode, context->ExceptionAddress, context->ProcessId, context->ThreadId,
                &context->ThreadContext, context->MainThreadId, &context->MainThreadContext, dialog.m_crashLogPath,
                fp::FieldText(context->InfoLine), closingText, fp::FieldText(context->LogTail));
  if (!fullDumpPath.empty()) {
    WriteMiniDump(clientPointers, exceptionPointers, context->ProcessId, context->ThreadId, fullDumpPath,
                  kMiniDumpModeFullMemory);
  }

  ComponentRepairer::Instance().CheckModules(context->ProcessId);

  dialog.m_statText = fp::FieldText(context->StatisticsText) +
                      StatisticsSuffix(context->ExceptionCode, context->ExceptionAddress);
  dialog.m_clientVersion = ExtractClientVersion(fp::FieldText(context->InfoLine));
  shared.Close();

  // The window library needs user32 bound to this thread, the common
  // control classes the dialog uses, and the module its resources live in.
  ::DefWindowProcW(nullptr, 0, 0, 0);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  g_appModule.Init(instance);

  if (showDialog != 0) {
    Log(L"show report crash dialog");
    const ComponentRepairer& repairer = ComponentRepairer::Instance();
    const std::wstring linkText = repairer.GetLinkText();
    const std::wstring linkUrl = repairer.GetLinkUrl();
    const std::wstring hintText = repairer.GetHintText();
    dialog.SetCrashHint(hintText.c_str(), 0x00FF0000, linkUrl.c_str(), linkText.c_str());
    dialog.DoModal(::GetActiveWindow());
  } else if (sendReport != 0) {
    Log(L"report crash without show report crash dialog");
    dialog.PostCrashStatistics();
    dialog.UploadReport();
  } else {
    Log(L"save dump local and do not report crash");
  }
  g_appModule.Term();
  *restart = dialog.m_restart;
  return 0;
}
