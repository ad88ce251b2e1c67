#pragma once
// Where Faultpost keeps its files and reads its settings, and the version
// facts of a module file. Stateless; failures show only as fallback values.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

std::wstring GetReportDirectory();
// The temp base text as GetTempPathW gives it, or "d:\" when it fails; a
// path longer than 260 characters is returned whole.
std::wstring GetTempBase();
std::wstring TempBaseFrom(const std::function<DWORD(DWORD, LPWSTR)>& getTempPath);
std::wstring GetModuleDirectory(HMODULE module);
std::wstring GetExeDirectory();

bool ShouldWriteFullDump(DWORD exceptionCode);
// The decision itself, over the two settings as read.
bool FullDumpWanted(UINT createFullDump, std::wstring codeList, DWORD exceptionCode);

struct ModuleVersionInfo {
  VS_FIXEDFILEINFO FixedInfo;
  std::wstring ProductName;
};

using VersionBlock = std::shared_ptr<std::vector<BYTE>>;
HRESULT LoadVersionBlock(const std::wstring& path, VersionBlock& block);
HRESULT QueryVersionValue(const VersionBlock& block, const wchar_t* subBlock, void** value, UINT* length);
ModuleVersionInfo ReadModuleVersionInfo(const std::wstring& path);

HRESULT RestrictDllSearchPath();
