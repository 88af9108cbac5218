#pragma once
// OLE and COM for the main thread; each is undone only when it succeeded.
#include <objbase.h>
#include <ole2.h>

namespace zyp::app {

class OleInitialization {
 public:
  OleInitialization() : initialized_(SUCCEEDED(::OleInitialize(nullptr))) {}
  ~OleInitialization() {
    if (initialized_) ::OleUninitialize();
  }
  OleInitialization(const OleInitialization&) = delete;
  OleInitialization& operator=(const OleInitialization&) = delete;

 private:
  bool initialized_;
};

// Created before everything else so that it is undone last; initialised
// later, once the modules have started.
class ComInitialization {
 public:
  ComInitialization() = default;
  ~ComInitialization() {
    if (initialized_) ::CoUninitialize();
  }
  ComInitialization(const ComInitialization&) = delete;
  ComInitialization& operator=(const ComInitialization&) = delete;

  void Initialize() { initialized_ = SUCCEEDED(::CoInitialize(nullptr)); }

 private:
  bool initialized_ = false;
};

}  // namespace zyp::app
