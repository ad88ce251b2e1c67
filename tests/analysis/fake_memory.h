#pragma once
// A crashed process made of plain data: regions of bytes with their
// allocation base and readability, module names by allocation base, and a
// record of every access, so the analysis algorithms can be fed any case.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "analysis/remote_process.h"

class FakeMemory : public RemoteMemory {
 public:
  struct Region {
    uint64_t start;
    std::vector<uint8_t> bytes;
    uint64_t allocationBase;
    bool readable;
  };

  explicit FakeMemory(uint64_t userLimit) : m_userLimit(userLimit) {}

  // A committed region; its allocation base defaults to its start.
  void Map(uint64_t start, size_t size, uint64_t allocationBase = 0, bool readable = true) {
    m_regions.push_back(Region{start, std::vector<uint8_t>(size, 0), allocationBase ? allocationBase : start, readable});
  }
  void NameModule(uint64_t allocationBase, const std::wstring& path) { m_modules[allocationBase] = path; }

  void Poke(uint64_t address, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
      Region* region = Find(address + i);
      if (region != nullptr) region->bytes[static_cast<size_t>(address + i - region->start)] = bytes[i];
    }
  }
  void Poke(uint64_t address, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> copy(bytes);
    Poke(address, copy.data(), copy.size());
  }
  template <typename T>
  void Put(uint64_t address, T value) {
    Poke(address, &value, sizeof value);
  }

  bool Read(uint64_t address, void* buffer, size_t size) override {
    reads.push_back({address, size});
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < size; ++i) {
      Region* region = Find(address + i);
      if (region == nullptr || !region->readable) return false;
      out[i] = region->bytes[static_cast<size_t>(address + i - region->start)];
    }
    return true;
  }

  bool QueryAllocationBase(uint64_t address, uint64_t* allocationBase) override {
    ++queries;
    if (address > m_userLimit) return false;
    Region* region = Find(address);
    // Memory no region covers is free: it belongs to no allocation.
    *allocationBase = region ? region->allocationBase : 0;
    return true;
  }

  std::wstring ModuleFileName(uint64_t allocationBase) override {
    auto it = m_modules.find(allocationBase);
    return it == m_modules.end() ? std::wstring() : it->second;
  }

  bool WasRead(uint64_t address) const {
    for (const auto& read : reads)
      if (read.first == address) return true;
    return false;
  }
  void ForgetAccesses() {
    reads.clear();
    queries = 0;
  }

  std::vector<std::pair<uint64_t, size_t>> reads;
  int queries = 0;

 private:
  Region* Find(uint64_t address) {
    for (Region& region : m_regions)
      if (address >= region.start && address - region.start < region.bytes.size()) return &region;
    return nullptr;
  }

  uint64_t m_userLimit;
  std::vector<Region> m_regions;
  std::map<uint64_t, std::wstring> m_modules;
};

struct FakeSection {
  DWORD virtualAddress;
  DWORD virtualSize;
  DWORD rawSize;
};

// A module image as the loader leaves it: DOS header, NT headers of the
// width and a section table, in one readable region of `size` bytes.
template <typename W>
void MapImage(FakeMemory& memory, uint64_t base, size_t size, const std::vector<FakeSection>& sections,
              const std::wstring& path, LONG ntOffset = 0x80) {
  memory.Map(base, size);
  memory.NameModule(base, path);
  IMAGE_DOS_HEADER dos = {};
  dos.e_magic = IMAGE_DOS_SIGNATURE;
  dos.e_lfanew = ntOffset;
  memory.Put(base, dos);
  typename W::NtHeaders nt = {};
  nt.Signature = IMAGE_NT_SIGNATURE;
  nt.FileHeader.Machine = static_cast<WORD>(W::kMachine);
  nt.FileHeader.NumberOfSections = static_cast<WORD>(sections.size());
  nt.FileHeader.SizeOfOptionalHeader = sizeof nt.OptionalHeader;
  memory.Put(base + ntOffset, nt);
  uint64_t table = base + ntOffset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + sizeof nt.OptionalHeader;
  for (const FakeSection& section : sections) {
    IMAGE_SECTION_HEADER header = {};
    header.VirtualAddress = section.virtualAddress;
    header.Misc.VirtualSize = section.virtualSize;
    header.SizeOfRawData = section.rawSize;
    memory.Put(table, header);
    table += sizeof header;
  }
}

// The user-range limits of the two widths.
template <typename W>
constexpr uint64_t UserLimit() {
  return sizeof(typename W::Address) == 4 ? 0x7FFEFFFFull : 0x7FFFFFFEFFFFull;
}
