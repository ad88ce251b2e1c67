#pragma once
#include <windows.h>

#include "base/scoped_handle.h"
#include "intake/exception_context.h"

namespace KELP {

// Maps the named hand-over block. Opening a name nobody created makes a
// fresh zero-filled block, which the reader's ExceptionCode test rejects.
template <typename T>
class CSharingMemory {
 public:
  CSharingMemory() = default;
  virtual ~CSharingMemory() { Close(); }
  CSharingMemory(const CSharingMemory&) = delete;
  CSharingMemory& operator=(const CSharingMemory&) = delete;

  bool Open(const wchar_t* name) {
    if (name == nullptr) return false;
    Close();
    fp::ScopedHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  static_cast<DWORD>(sizeof(T)), name));
    if (!mapping) return false;
    fp::ScopedMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(T)));
    if (!view) return false;
    m_mapping = std::move(mapping);
    m_view = std::move(view);
    return true;
  }

  void Close() {
    m_view.reset();
    m_mapping.reset();
  }

  T* Get() const { return static_cast<T*>(m_view.get()); }

 private:
  fp::ScopedHandle m_mapping;
  fp::ScopedMappedView m_view;
};

}  // namespace KELP
