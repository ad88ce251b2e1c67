#pragma once
// Finds the product's modules that disagree in version or have an update
// waiting beside them (report pass), and moves the waiting updates into
// place (repair pass).
#include <windows.h>

#include <string>
#include <vector>

class ComponentRepairer {
 public:
  static ComponentRepairer& Instance();

  bool CheckModules(DWORD processId);
  std::wstring GetHintText() const { return m_hint; }
  std::wstring GetLinkUrl() const { return m_homePageUrl; }
  std::wstring GetLinkText() const { return m_homePageLinkText; }
  std::wstring GetRepairArgument() const;
  bool ParseRepairArgument(const wchar_t* text);
  bool TryRepair();

  // One module as the check sees it; the check's rules over a list of these
  // are `CheckModuleList`, so they can be fed any case.
  struct ModuleFacts {
    std::wstring path;
    std::wstring productName;
    DWORD productVersionMS;
    DWORD productVersionLS;
    bool hasPending;
  };
  void CheckModuleList(const std::vector<ModuleFacts>& modules);

  const std::vector<std::wstring>& PendingModules() const { return m_pendingModules; }
  void Reset();

  static const wchar_t kProductName[];
  static const wchar_t kHintText[];
  static const wchar_t kHomePageUrl[];
  static const wchar_t kHomePageLinkText[];

 private:
  ComponentRepairer() = default;

  DWORD m_processId = 0;
  std::wstring m_hint;
  std::wstring m_homePageUrl;
  std::wstring m_homePageLinkText;
  std::vector<std::wstring> m_pendingModules;
};

// Test hook for the repair's file moves, so the in-use and vanished cases
// can be produced deterministically; the default is MoveFileExW.
using MoveFileFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
void SetRepairMoveFunction(MoveFileFunction move);
