#include "app/component_repairer.h"

#include <io.h>
#include <tlhelp32.h>
#include <wchar.h>

#include "app/paths.h"
#include "base/scoped_handle.h"

const wchar_t ComponentRepairer::kProductName[] = L"tamor Application";
const wchar_t ComponentRepairer::kHintText[] =
    L"检测到Nimbrel的某些组件版本不一致，这可能是导致Nimbrel崩溃的原因。"
    L"如果您多次遇到此问题，请尝试从Nimbrel主页下载最新的安装程序全新安装Nimbrel。";
const wchar_t ComponentRepairer::kHomePageUrl[] = L"http://www.nimbrel.com";
const wchar_t ComponentRepairer::kHomePageLinkText[] = L"点此下载最新版Nimbrel";

namespace {
MoveFileFunction g_move = ::MoveFileExW;
bool FileExists(const std::wstring& path) { return _waccess(path.c_str(), 0) == 0; }
}  // namespace

void SetRepairMoveFunction(MoveFileFunction move) { g_move = move ? move : ::MoveFileExW; }

ComponentRepairer& ComponentRepairer::Instance() {
  static ComponentRepairer instance;
  return instance;
}

void ComponentRepairer::Reset() {
  m_processId = 0;
  m_hint.clear();
  m_homePageUrl.clear();
  m_homePageLinkText.clear();
  m_pendingModules.clear();
}

bool ComponentRepairer::CheckModules(DWORD processId) {
  m_processId = processId;
  fp::ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
  if (!snapshot) return true;
  std::vector<ModuleFacts> modules;
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Module32FirstW(snapshot.get(), &entry); more; more = ::Module32NextW(snapshot.get(), &entry)) {
    ModuleVersionInfo info = ReadModuleVersionInfo(entry.szExePath);
    ModuleFacts facts{entry.szExePath, info.ProductName, info.FixedInfo.dwProductVersionMS,
                      info.FixedInfo.dwProductVersionLS, false};
    if (_wcsicmp(facts.productName.c_str(), kProductName) == 0)
      facts.hasPending = FileExists(facts.path + L".pending");
    modules.push_back(std::move(facts));
  }
  CheckModuleList(modules);
  return true;
}

void ComponentRepairer::CheckModuleList(const std::vector<ModuleFacts>& modules) {
  DWORD referenceMS = 0, referenceLS = 0;
  bool found = false;
  for (const ModuleFacts& module : modules) {
    if (_wcsicmp(module.productName.c_str(), kProductName) != 0) continue;
    if (!found) {
      // A half still 0 is taken from the next module that has it, so a
      // module without a build number does not count as a disagreement.
      if (referenceMS == 0) referenceMS = module.productVersionMS;
      if (referenceLS == 0) referenceLS = module.productVersionLS;
      if (module.productVersionMS != referenceMS || module.productVersionLS != referenceLS) {
        m_hint = kHintText;
        m_homePageUrl = kHomePageUrl;
        m_homePageLinkText = kHomePageLinkText;
        found = true;
      }
    }
    if (module.hasPending) m_pendingModules.push_back(module.path);
  }
}

std::wstring ComponentRepairer::GetRepairArgument() const {
  std::wstring text = L"rp:";
  for (size_t i = 0; i < m_pendingModules.size(); ++i) {
    if (i != 0) text += L'|';
    text += m_pendingModules[i];
  }
  return text;
}

namespace {
std::vector<std::wstring> SplitNonEmpty(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}
}  // namespace

bool ComponentRepairer::ParseRepairArgument(const wchar_t* text) {
  if (text == nullptr) return false;
  for (const std::wstring& line : SplitNonEmpty(text, L'\n')) {
    if (line.size() < 3 || _wcsnicmp(line.c_str(), L"rp:", 3) != 0) continue;
    for (std::wstring& path : SplitNonEmpty(line.substr(3), L'|')) m_pendingModules.push_back(std::move(path));
  }
  return true;
}

bool ComponentRepairer::TryRepair() {
  if (m_pendingModules.empty()) return true;
  bool result = true;
  for (const std::wstring& path : m_pendingModules) {
    const std::wstring pending = path + L".pending";
    const std::wstring old = path + L".old";
    if (!FileExists(pending)) continue;
    if (g_move(pending.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) continue;
    if (g_move(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      if (g_move(pending.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        g_move(old.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        continue;
      }
      // Never leave the module missing under its own name: put the old copy
      // back, and the waiting file stays for the next attempt.
      g_move(old.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    result = false;
  }
  return result;
}
