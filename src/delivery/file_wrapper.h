#pragma once
// Owners of a C runtime stream, so a file read that throws half-way still
// closes its stream.
#include <cstdio>

template <typename T>
class CPointerWrapper {
 public:
  explicit CPointerWrapper(T* pointer = nullptr) : m_pointer(pointer) {}
  // Owns nothing by itself: the derived owner knows how to release.
  virtual ~CPointerWrapper() {}
  CPointerWrapper(const CPointerWrapper&) = delete;
  CPointerWrapper& operator=(const CPointerWrapper&) = delete;

  T* get() const { return m_pointer; }

 protected:
  T* m_pointer;
};

class CFileWrapper : public CPointerWrapper<FILE> {
 public:
  explicit CFileWrapper(FILE* stream) : CPointerWrapper<FILE>(stream) {}
  ~CFileWrapper() override {
    if (m_pointer != nullptr) std::fclose(m_pointer);
  }
};
