// Looks at the windows of other processes in the same Wine session the way
// a test needs to: finds a dialog, reads its controls (texts, styles, check
// states, selections, rectangles, focus) and answers in JSON on stdout.
// Clicks and keys come from the X side (xdotool); what cannot be done there
// is here too (posting a key to one window, holding a file open).
//   dialog_inspector find [--caption=T] [--class=C] [--exe-dir=D] [--visible] [--timeout-ms=N]
//   dialog_inspector list [--exe-dir=D]
//   dialog_inspector dump --hwnd=H
//   dialog_inspector close-point --hwnd=H
//   dialog_inspector post-keydown --hwnd=H --vk=N
//   dialog_inspector wait-gone --hwnd=H [--timeout-ms=N]
//   dialog_inspector hold-file --path=P --ms=N
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/scoped_handle.h"

namespace {

struct Options {
  std::wstring command;
  std::wstring caption, windowClass, exeDir, path;
  bool visibleOnly = false;
  bool hasCaption = false;
  DWORD timeoutMs = 0;
  DWORD ms = 0;
  HWND hwnd = nullptr;
  UINT vk = 0;
};

// --- output ----------------------------------------------------------------
std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  return bytes;
}

std::string Quote(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Number(long long value) { return std::to_string(value); }

std::string Rect(const RECT& r) {
  return "[" + Number(r.left) + "," + Number(r.top) + "," + Number(r.right) + "," + Number(r.bottom) + "]";
}

void Print(const std::string& text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "\n", 1, &written, nullptr);
}

// --- reading windows -------------------------------------------------------
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result)) return 0;
  return static_cast<LRESULT>(result);
}

std::wstring WindowText(HWND window) {
  const LRESULT length = Send(window, WM_GETTEXTLENGTH);
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
  const LRESULT copied = Send(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  return std::wstring(buffer.data(), static_cast<size_t>(copied));
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

std::wstring ProcessImage(DWORD pid) {
  fp::ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::wstring();
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!::QueryFullProcessImageNameW(process.get(), 0, path, &size)) return std::wstring();
  return std::wstring(path, size);
}

bool InDirectory(const std::wstring& image, const std::wstring& directory) {
  if (directory.empty()) return true;
  std::wstring dir = directory;
  if (dir.back() != L'\\') dir += L'\\';
  return image.size() > dir.size() && _wcsnicmp(image.c_str(), dir.c_str(), dir.size()) == 0 &&
         image.find(L'\\', dir.size()) == std::wstring::npos;
}

struct TopLevel {
  HWND hwnd;
  DWORD pid;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM parameter) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  reinterpret_cast<std::vector<TopLevel>*>(parameter)->push_back(TopLevel{window, pid});
  return TRUE;
}

std::vector<TopLevel> TopLevelWindows(const Options& options) {
  std::vector<TopLevel> all, chosen;
  ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&all));
  for (const TopLevel& window : all) {
    if (!options.exeDir.empty() && !InDirectory(ProcessImage(window.pid), options.exeDir)) continue;
    chosen.push_back(window);
  }
  return chosen;
}

std::string ClientRectOnScreen(HWND window) {
  RECT client;
  ::GetClientRect(window, &client);
  ::MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  return Rect(client);
}

std::string Describe(HWND window, HWND dialog) {
  const std::wstring className = ClassName(window);
  RECT screen;
  ::GetWindowRect(window, &screen);
  RECT inDialog = screen;
  ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&inDialog), 2);
  std::string json = "{\"hwnd\":" + Number(reinterpret_cast<INT_PTR>(window)) +
                     ",\"id\":" + Number(static_cast<short>(::GetDlgCtrlID(window))) +
                     ",\"class\":" + Quote(className) + ",\"text\":" + Quote(WindowText(window)) +
                     ",\"style\":" + Number(static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE))) +
                     ",\"exstyle\":" + Number(static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE))) +
                     ",\"visible\":" + (::IsWindowVisible(window) ? "true" : "false") +
                     ",\"screen\":" + Rect(screen) + ",\"rect\":" + Rect(inDialog);
  if (_wcsicmp(className.c_str(), L"Button") == 0) json += ",\"check\":" + Number(Send(window, BM_GETCHECK));
  if (_wcsicmp(className.c_str(), L"Edit") == 0) {
    const LRESULT selection = Send(window, EM_GETSEL);
    json += ",\"sel\":[" + Number(LOWORD(selection)) + "," + Number(HIWORD(selection)) + "]";
    json += ",\"lines\":" + Number(Send(window, EM_GETLINECOUNT));
    json += ",\"first_visible_line\":" + Number(Send(window, EM_GETFIRSTVISIBLELINE));
  }
  if (_wcsicmp(className.c_str(), L"Static") == 0 && (::GetWindowLongPtrW(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
    json += ",\"icon\":" + std::string(Send(window, STM_GETICON) != 0 ? "true" : "false");
  return json + "}";
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
  reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
  return TRUE;
}

std::string Dump(HWND dialog) {
  DWORD pid = 0;
  const DWORD thread = ::GetWindowThreadProcessId(dialog, &pid);
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  ::GetGUIThreadInfo(thread, &gui);
  RECT window;
  ::GetWindowRect(dialog, &window);
  std::string json = "{\"hwnd\":" + Number(reinterpret_cast<INT_PTR>(dialog)) + ",\"pid\":" + Number(pid) +
                     ",\"exe\":" + Quote(ProcessImage(pid)) + ",\"class\":" + Quote(ClassName(dialog)) +
                     ",\"text\":" + Quote(WindowText(dialog)) +
                     ",\"style\":" + Number(static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE))) +
                     ",\"exstyle\":" + Number(static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE))) +
                     ",\"visible\":" + (::IsWindowVisible(dialog) ? "true" : "false") +
                     ",\"window\":" + Rect(window) + ",\"client\":" + ClientRectOnScreen(dialog) +
                     ",\"focus\":" + Number(reinterpret_cast<INT_PTR>(gui.hwndFocus)) +
                     ",\"active\":" + Number(reinterpret_cast<INT_PTR>(gui.hwndActive)) +
                     ",\"big_icon\":" + (Send(dialog, WM_GETICON, ICON_BIG) != 0 ? "true" : "false") +
                     ",\"small_icon\":" + (Send(dialog, WM_GETICON, ICON_SMALL) != 0 ? "true" : "false") +
                     ",\"children\":[";
  std::vector<HWND> children;
  ::EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  for (size_t i = 0; i < children.size(); ++i) json += (i ? "," : "") + Describe(children[i], dialog);
  return json + "]}";
}

// --- commands --------------------------------------------------------------
// Read without sending a message, so a window whose thread is busy (a
// dialog still inside WM_INITDIALOG) can be named too.
std::wstring Caption(HWND window) {
  wchar_t text[512] = {};
  const int length = ::InternalGetWindowText(window, text, 512);
  return std::wstring(text, static_cast<size_t>(length > 0 ? length : 0));
}

bool Matches(const TopLevel& window, const Options& options) {
  if (options.visibleOnly && !::IsWindowVisible(window.hwnd)) return false;
  if (!options.windowClass.empty() && _wcsicmp(ClassName(window.hwnd).c_str(), options.windowClass.c_str()) != 0)
    return false;
  if (options.hasCaption && Caption(window.hwnd) != options.caption) return false;
  return true;
}

int Find(const Options& options) {
  const ULONGLONG deadline = ::GetTickCount64() + options.timeoutMs;
  for (;;) {
    for (const TopLevel& window : TopLevelWindows(options)) {
      if (!Matches(window, options)) continue;
      Print("{\"hwnd\":" + Number(reinterpret_cast<INT_PTR>(window.hwnd)) + ",\"pid\":" + Number(window.pid) +
            ",\"visible\":" + (::IsWindowVisible(window.hwnd) ? "true" : "false") + "}");
      return 0;
    }
    if (::GetTickCount64() >= deadline) break;
    ::Sleep(50);
  }
  Print("{\"hwnd\":0}");
  return 1;
}

int List(const Options& options) {
  std::string json = "[";
  bool first = true;
  for (const TopLevel& window : TopLevelWindows(options)) {
    json += (first ? "" : ",") + std::string("{\"hwnd\":") + Number(reinterpret_cast<INT_PTR>(window.hwnd)) +
            ",\"pid\":" + Number(window.pid) + ",\"class\":" + Quote(ClassName(window.hwnd)) +
            ",\"text\":" + Quote(Caption(window.hwnd)) +
            ",\"visible\":" + (::IsWindowVisible(window.hwnd) ? "true" : "false") + "}";
    first = false;
  }
  Print(json + "]");
  return 0;
}

// The close box is found by asking the window itself where HTCLOSE is, so
// no frame metrics are guessed.
int ClosePoint(HWND dialog) {
  RECT window;
  ::GetWindowRect(dialog, &window);
  RECT client;
  ::GetClientRect(dialog, &client);
  ::MapWindowPoints(dialog, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  for (LONG y = window.top; y < client.top; ++y) {
    for (LONG x = window.right - 1; x > (window.left + window.right) / 2; --x) {
      if (Send(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
      // Aim at the middle of the box: walk on to its left and bottom edges.
      LONG left = x, bottom = y;
      while (left > window.left && Send(dialog, WM_NCHITTEST, 0, MAKELPARAM(left - 1, y)) == HTCLOSE) --left;
      while (bottom < client.top && Send(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, bottom + 1)) == HTCLOSE) ++bottom;
      Print("{\"x\":" + Number((left + x) / 2) + ",\"y\":" + Number((y + bottom) / 2) + "}");
      return 0;
    }
  }
  Print("{\"x\":-1,\"y\":-1}");
  return 1;
}

int WaitGone(HWND window, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::IsWindow(window)) {
    if (::GetTickCount64() >= deadline) return 1;
    ::Sleep(50);
  }
  return 0;
}

// Keeps `path` open for reading without sharing writes, so nobody can
// create or rewrite it meanwhile, while readers still get in.
int HoldFile(const std::wstring& path, DWORD ms) {
  fp::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    Print("{\"holding\":false}");
    return 1;
  }
  Print("{\"holding\":true}");
  ::Sleep(ms);
  return 0;
}

bool TakeValue(const std::wstring& argument, const wchar_t* name, std::wstring& value) {
  const std::wstring prefix = std::wstring(L"--") + name + L"=";
  if (argument.compare(0, prefix.size(), prefix) != 0) return false;
  value = argument.substr(prefix.size());
  return true;
}

bool Parse(int argc, wchar_t** argv, Options& options) {
  if (argc < 2) return false;
  options.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::wstring a = argv[i];
    std::wstring v;
    if (TakeValue(a, L"caption", v)) {
      options.caption = v;
      options.hasCaption = true;
    } else if (TakeValue(a, L"class", v)) options.windowClass = v;
    else if (TakeValue(a, L"exe-dir", v)) options.exeDir = v;
    else if (TakeValue(a, L"path", v)) options.path = v;
    else if (TakeValue(a, L"timeout-ms", v)) options.timeoutMs = static_cast<DWORD>(_wtoi(v.c_str()));
    else if (TakeValue(a, L"ms", v)) options.ms = static_cast<DWORD>(_wtoi(v.c_str()));
    else if (TakeValue(a, L"hwnd", v)) options.hwnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(_wtoi64(v.c_str())));
    else if (TakeValue(a, L"vk", v)) options.vk = static_cast<UINT>(_wtoi(v.c_str()));
    else if (a == L"--visible") options.visibleOnly = true;
    else return false;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fwprintf(stderr, L"usage: dialog_inspector find|list|dump|close-point|post-keydown|wait-gone|hold-file ...\n");
    return 2;
  }
  const std::wstring& c = options.command;
  if (c == L"find") return Find(options);
  if (c == L"list") return List(options);
  if (c == L"dump") {
    if (!::IsWindow(options.hwnd)) return 1;
    Print(Dump(options.hwnd));
    return 0;
  }
  if (c == L"close-point") return ClosePoint(options.hwnd);
  if (c == L"post-keydown") {
    return ::PostMessageW(options.hwnd, WM_KEYDOWN, options.vk, 1) ? 0 : 1;
  }
  if (c == L"wait-gone") return WaitGone(options.hwnd, options.timeoutMs);
  if (c == L"hold-file") return HoldFile(options.path, options.ms);
  return 2;
}
