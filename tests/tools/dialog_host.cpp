// Shows the crash dialog alone, with the hint, link, crash log and device id
// given on the command line, so a test can drive every layout of it; the
// report pass itself only ever sets hint and link together. Prints the
// dialog's result and the restart answer as JSON when it closes.
//   dialog_host [--hint=T] [--link-url=U] [--link-text=T] [--log=PATH]
//               [--device-id=ID] [--upload-url=URL] [--stat-https=N]
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "ui/app_module.h"
#include "ui/main_dlg.h"

namespace {
bool TakeValue(const std::wstring& argument, const wchar_t* name, std::wstring& value) {
  const std::wstring prefix = std::wstring(L"--") + name + L"=";
  if (argument.compare(0, prefix.size(), prefix) != 0) return false;
  value = argument.substr(prefix.size());
  return true;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring hint, linkUrl, linkText, log, deviceId = L"[n/a]", uploadUrl = L"http://127.0.0.1:9/", https;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (!TakeValue(a, L"hint", hint) && !TakeValue(a, L"link-url", linkUrl) && !TakeValue(a, L"link-text", linkText) &&
        !TakeValue(a, L"log", log) && !TakeValue(a, L"device-id", deviceId) &&
        !TakeValue(a, L"upload-url", uploadUrl) && !TakeValue(a, L"stat-https", https)) {
      std::fwprintf(stderr, L"dialog_host: unknown option %ls\n", a.c_str());
      return 2;
    }
  }
  ::DefWindowProcW(nullptr, 0, 0, 0);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  g_appModule.Init(::GetModuleHandleW(nullptr));

  CMainDlg dialog;
  dialog.m_crashLogPath = log;
  dialog.m_dumpFilePath = log + L".dmp";
  dialog.m_deviceId = deviceId;
  dialog.m_uploadUrl = uploadUrl;
  dialog.m_statHttps = _wtoi(https.c_str());
  dialog.m_clientVersion = L"7.22.0.8";
  dialog.m_statText = L"client=dialog-host";
  dialog.SetCrashHint(hint.c_str(), 0x00FF0000, linkUrl.c_str(), linkText.c_str());
  const INT_PTR result = dialog.DoModal(::GetActiveWindow());
  g_appModule.Term();
  std::printf("{\"result\":%d,\"restart\":%u}\n", static_cast<int>(result), dialog.m_restart);
  std::fflush(stdout);
  return 0;
}
