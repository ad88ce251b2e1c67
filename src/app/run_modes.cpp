#include "app/run_modes.h"

#include <wchar.h>

#include "log/logger.h"

RunMode ChooseRunMode(const ArgumentList& arguments) {
  if (arguments.size() >= 3 && _wcsicmp(arguments[1].c_str(), L"/repair") == 0) return RunMode::Repair;
  return RunMode::Report;
}

std::wstring ComposeRepairParameters(const std::wstring& repairArgument, const std::wstring& restartField) {
  return tp::wformat(L"%s \"%s\" \"%s\"", L"/repair", repairArgument.c_str(), restartField.c_str()).c_str();
}

std::wstring RestartField(const ArgumentList& arguments, unsigned int restartFlag) {
  if (restartFlag != 0 && arguments.size() > 3) return arguments[3];
  return std::wstring();
}

std::wstring RepairRestartPath(const ArgumentList& arguments) {
  return arguments.size() >= 4 ? arguments[3] : std::wstring();
}

int RepairAttemptLimit(const std::wstring& restartPath) { return restartPath.empty() ? 20 : 6; }
