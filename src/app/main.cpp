#include <windows.h>
#include <shellapi.h>

#include "app/command_line.h"
#include "app/component_repairer.h"
#include "app/paths.h"
#include "app/report_driver.h"
#include "app/run_modes.h"
#include "log/logger.h"

namespace {
// Before the entry runs, so nothing Faultpost loads by name alone comes from
// the application or current directory.
const HRESULT g_dllSearchPathRestricted = RestrictDllSearchPath();

void Log(const wchar_t* text) { tp::get_logger().write(0, text, true); }

int RunReportMode(HINSTANCE instance, const ArgumentList& arguments, int& exitCode) {
  Log(L"bug report in report mode");
  UINT restart = 0;
  exitCode = ReportCrash(instance, &restart);
  Log(tp::wformat(L"report crash return[%d]", exitCode));

  const std::wstring parameters =
      ComposeRepairParameters(ComponentRepairer::Instance().GetRepairArgument(), RestartField(arguments, restart));
  Log(tp::wformat(L"bug report restart in repair mode[%s]", parameters.c_str()));
  if (arguments.empty()) {
    // Started with an empty command line: there is no program path to start
    // the repair pass from, and guessing one could start something else.
    Log(L"no program path in cmd line, repair mode not started");
    return exitCode;
  }
  ::ShellExecuteW(nullptr, L"open", arguments[0].c_str(), parameters.c_str(), nullptr, SW_HIDE);
  return exitCode;
}

void RunRepairMode(const ArgumentList& arguments) {
  Log(L"bug report in repair mode");
  const std::wstring restartPath = RepairRestartPath(arguments);
  ComponentRepairer& repairer = ComponentRepairer::Instance();
  repairer.ParseRepairArgument(arguments[2].c_str());
  const int limit = RepairAttemptLimit(restartPath);
  Log(L"start repair");
  RunRepairAttempts(limit, [&] { return repairer.TryRepair(); }, [] { ::Sleep(500); });
  Log(L"repair complete");
  if (!restartPath.empty()) {
    Log(L"try restart application");
    ::ShellExecuteW(nullptr, nullptr, restartPath.c_str(), nullptr, nullptr, SW_SHOW);
  } else {
    Log(L"no need restart application");
  }
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  (void)g_dllSearchPathRestricted;
  int exitCode = -1;
  try {
    tp::setup_logging();
    Log(tp::wformat(L"bug report start[cmd line=%s]", commandLine ? commandLine : L""));
    ArgumentList arguments;
    SplitCommandLine(arguments);
    Log(L"bug report start parse cmd line compelte");
    if (ChooseRunMode(arguments) == RunMode::Repair) {
      RunRepairMode(arguments);
      exitCode = -1;
    } else {
      RunReportMode(instance, arguments, exitCode);
    }
  } catch (...) {
    // The code recorded so far stands: -1 until the report pass returned.
  }
  return exitCode;
}
