#pragma once
// Move-only owners for Win32 resources, one line per kind. Each treats its
// kind's "no resource" values as empty and keeps the caller's last error
// intact when it closes.
#include <windows.h>
// CoTaskMemFree, which WIN32_LEAN_AND_MEAN leaves out of windows.h.
#include <objbase.h>

#include <utility>

namespace zyp::win32 {

template <typename Traits>
class Scoped {
 public:
  using Type = typename Traits::Type;

  Scoped() = default;
  explicit Scoped(Type value) : value_(value) {}
  Scoped(Scoped&& other) noexcept : value_(other.Release()) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  ~Scoped() { Reset(); }

  Type Get() const { return value_; }
  bool Valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return Valid(); }

  [[nodiscard]] Type Release() { return std::exchange(value_, Traits::Empty()); }
  void Reset(Type value = Traits::Empty()) {
    Type old = std::exchange(value_, value);
    if (Traits::IsValid(old)) {
      const DWORD error = ::GetLastError();
      Traits::Close(old);
      ::SetLastError(error);
    }
  }

 private:
  Type value_ = Traits::Empty();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};

struct FindTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::RegCloseKey(h); }
};

struct WindowTraits {
  using Type = HWND;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::DestroyWindow(h); }
};

struct IconTraits {
  using Type = HICON;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::DestroyIcon(h); }
};

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::LocalFree(h); }
};

struct CoTaskMemoryTraits {
  using Type = void*;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::CoTaskMemFree(h); }
};

// Files, pipes, events, mutexes, threads and processes.
using UniqueHandle = Scoped<KernelHandleTraits>;
// A listing of a folder (FindFirstFileW and its kind).
using UniqueFind = Scoped<FindTraits>;
using UniqueHkey = Scoped<RegistryKeyTraits>;
using UniqueHwnd = Scoped<WindowTraits>;
using UniqueHicon = Scoped<IconTraits>;
// Blocks the system allocated for the caller (FORMAT_MESSAGE_ALLOCATE_BUFFER).
using UniqueHlocal = Scoped<LocalMemoryTraits>;
// Blocks that a COM or shell call allocated for the caller.
using UniqueCoTaskMemory = Scoped<CoTaskMemoryTraits>;

// A critical section that lives exactly as long as its owner.
class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&section_); }
  ~CriticalSection() { ::DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() { ::EnterCriticalSection(&section_); }
  void Leave() { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionLock() { section_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& section_;
};

// Holds a slim reader/writer lock exclusively while it lives.
class SrwExclusiveLock {
 public:
  explicit SrwExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~SrwExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
  SrwExclusiveLock(const SrwExclusiveLock&) = delete;
  SrwExclusiveLock& operator=(const SrwExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace zyp::win32
