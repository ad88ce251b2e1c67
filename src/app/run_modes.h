#pragma once
// The decisions of the entry as plain functions, so each can be fed any case.
#include <string>

#include "app/command_line.h"

enum class RunMode { Report, Repair };

RunMode ChooseRunMode(const ArgumentList& arguments);
// `/repair "<repair argument>" "<restart field>"`; nothing is escaped.
std::wstring ComposeRepairParameters(const std::wstring& repairArgument, const std::wstring& restartField);
// Argument 3 when the dialog reported the restart request, else empty.
std::wstring RestartField(const ArgumentList& arguments, unsigned int restartFlag);
std::wstring RepairRestartPath(const ArgumentList& arguments);
int RepairAttemptLimit(const std::wstring& restartPath);

// The repair retry loop over any attempt and pause, so it can be tested
// without sleeping: at most `limit` attempts, a pause after each failed one.
template <typename Attempt, typename Pause>
int RunRepairAttempts(int limit, Attempt attempt, Pause pause) {
  int made = 0;
  for (int i = 0; i < limit; ++i) {
    ++made;
    if (attempt()) break;
    pause();
  }
  return made;
}
