// Reads a dump file back through dbghelp and answers in JSON (UTF-8) on
// stdout: the exception stream, the module and thread lists and the memory
// the dump holds.
//   dump_inspector.exe PATH
// Exits 1 when the file cannot be opened or mapped, 2 when it is no dump.
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <string>

#include "base/scoped_handle.h"

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 1;
  fp::ScopedFileHandle file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  if (!file) return 1;
  LARGE_INTEGER size = {};
  ::GetFileSizeEx(file.get(), &size);
  if (size.QuadPart == 0) {
    std::printf("{\"size\": 0}\n");
    return 2;
  }
  fp::ScopedHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return 1;
  fp::ScopedMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return 1;
  const auto* base = static_cast<const BYTE*>(view.get());
  if (reinterpret_cast<const MINIDUMP_HEADER*>(base)->Signature != 0x504D444Du) return 2;  // "MDMP"

  auto stream = [&](ULONG type, ULONG* length = nullptr) -> const void* {
    MINIDUMP_DIRECTORY* directory = nullptr;
    void* pointer = nullptr;
    ULONG streamSize = 0;
    if (!::MiniDumpReadDumpStream(view.get(), type, &directory, &pointer, &streamSize)) return nullptr;
    if (length) *length = streamSize;
    return pointer;
  };
  auto text = [&](RVA rva) {
    const auto* s = reinterpret_cast<const MINIDUMP_STRING*>(base + rva);
    return std::wstring(s->Buffer, s->Length / 2);
  };

  std::string out = "{\"size\": " + std::to_string(size.QuadPart);
  if (const auto* e = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream(ExceptionStream))) {
    out += ", \"exception\": {\"thread_id\": " + std::to_string(e->ThreadId) +
           ", \"code\": " + std::to_string(e->ExceptionRecord.ExceptionCode) +
           ", \"address\": " + std::to_string(e->ExceptionRecord.ExceptionAddress) +
           ", \"context_size\": " + std::to_string(e->ThreadContext.DataSize) + "}";
  }
  if (const auto* m = static_cast<const MINIDUMP_MODULE_LIST*>(stream(ModuleListStream))) {
    out += ", \"modules\": [";
    for (ULONG32 i = 0; i < m->NumberOfModules; ++i) {
      const MINIDUMP_MODULE& module = m->Modules[i];
      out += std::string(i ? ", " : "") + "{\"name\": " + Quoted(text(module.ModuleNameRva)) +
             ", \"base\": " + std::to_string(module.BaseOfImage) + ", \"size\": " + std::to_string(module.SizeOfImage) +
             "}";
    }
    out += "]";
  }
  if (const auto* t = static_cast<const MINIDUMP_THREAD_LIST*>(stream(ThreadListStream))) {
    out += ", \"threads\": [";
    for (ULONG32 i = 0; i < t->NumberOfThreads; ++i)
      out += std::string(i ? ", " : "") + std::to_string(t->Threads[i].ThreadId);
    out += "]";
  }
  if (const auto* list = static_cast<const MINIDUMP_MEMORY_LIST*>(stream(MemoryListStream))) {
    unsigned long long total = 0;
    for (ULONG32 i = 0; i < list->NumberOfMemoryRanges; ++i) total += list->MemoryRanges[i].Memory.DataSize;
    out += ", \"memory\": {\"ranges\": " + std::to_string(list->NumberOfMemoryRanges) +
           ", \"bytes\": " + std::to_string(total) + "}";
  }
  if (const auto* list = static_cast<const MINIDUMP_MEMORY64_LIST*>(stream(Memory64ListStream))) {
    unsigned long long total = 0;
    for (ULONG64 i = 0; i < list->NumberOfMemoryRanges; ++i) total += list->MemoryRanges[i].DataSize;
    out += ", \"memory64\": {\"ranges\": " + std::to_string(list->NumberOfMemoryRanges) +
           ", \"bytes\": " + std::to_string(total) + "}";
  }
  out += "}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
