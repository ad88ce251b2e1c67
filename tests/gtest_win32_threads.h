#pragma once
// mingw's win32 thread model leaves std::mutex and std::condition_variable
// out of libstdc++, and GoogleTest's Windows build needs both. These two
// small stand-ins over SRW locks fill exactly that gap, for test code only.
#include <condition_variable>
#include <mutex>

#if !defined(_GLIBCXX_HAS_GTHREADS)
#include <windows.h>

namespace std {
class mutex {
 public:
  mutex() = default;
  mutex(const mutex&) = delete;
  mutex& operator=(const mutex&) = delete;
  void lock() { ::AcquireSRWLockExclusive(&m_lock); }
  void unlock() { ::ReleaseSRWLockExclusive(&m_lock); }
  bool try_lock() { return ::TryAcquireSRWLockExclusive(&m_lock) != 0; }
  SRWLOCK* native_handle() { return &m_lock; }

 private:
  SRWLOCK m_lock = SRWLOCK_INIT;
};

class condition_variable {
 public:
  condition_variable() = default;
  condition_variable(const condition_variable&) = delete;
  condition_variable& operator=(const condition_variable&) = delete;
  void notify_one() { ::WakeConditionVariable(&m_condition); }
  void notify_all() { ::WakeAllConditionVariable(&m_condition); }
  void wait(unique_lock<mutex>& lock) {
    ::SleepConditionVariableSRW(&m_condition, lock.mutex()->native_handle(), INFINITE, 0);
  }
  template <typename Predicate>
  void wait(unique_lock<mutex>& lock, Predicate ready) {
    while (!ready()) wait(lock);
  }

 private:
  CONDITION_VARIABLE m_condition = CONDITION_VARIABLE_INIT;
};
}  // namespace std
#endif
