#pragma once
// The platform's operations with a trace line for each step that an
// integrator may need to see: files read, written and removed, registry
// values touched, window lookups and posts, companions started, and the
// queue pipe's connection and writes. Each passes every call on unchanged;
// they are put in place only when the trace is on.
#include <memory>

#include "intake/queue_pipe.h"
#include "intake/trace.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/windowing.h"

namespace zyp::intake {

class TracedFiles final : public platform::Files {
 public:
  TracedFiles(platform::Files& inner, Trace& trace) : inner_(inner), trace_(trace) {}

  std::u16string TempPath(std::uint32_t capacity) override { return inner_.TempPath(capacity); }
  bool DirectoryExists(const std::u16string& path) override { return inner_.DirectoryExists(path); }
  bool FileExists(const std::u16string& path) override;
  void MakeDirectory(const std::u16string& path) override;
  std::unique_ptr<platform::WritableFile> CreateForWriting(const std::u16string& path) override;
  void Remove(const std::u16string& path) override;
  // The program never removes folders, nor creates or deletes keys: only the
  // browser host's registration does, which runs untraced.
  void RemoveEmptyDirectory(const std::u16string& path) override { inner_.RemoveEmptyDirectory(path); }
  platform::FileContent ReadAll(const std::u16string& path, std::uint64_t maxSize) override;

 private:
  platform::Files& inner_;
  Trace& trace_;
};

class TracedRegistry final : public platform::Registry {
 public:
  TracedRegistry(platform::Registry& inner, Trace& trace) : inner_(inner), trace_(trace) {}
  std::unique_ptr<platform::RegistryKey> OpenCurrentUserKey(const std::u16string& path) override;
  std::unique_ptr<platform::RegistryKey> CreateCurrentUserKey(const std::u16string& path) override {
    return inner_.CreateCurrentUserKey(path);
  }
  bool DeleteCurrentUserKey(const std::u16string& path) override { return inner_.DeleteCurrentUserKey(path); }

 private:
  platform::Registry& inner_;
  Trace& trace_;
};

class TracedWindowing final : public platform::Windowing {
 public:
  TracedWindowing(platform::Windowing& inner, Trace& trace) : inner_(inner), trace_(trace) {}

  std::uint32_t RegisterMessage(const std::u16string& name) override { return inner_.RegisterMessage(name); }
  platform::WindowHandle FindTopLevelWindow(const std::u16string& className) override;
  void Post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  platform::WindowHandle MainWindow() override { return inner_.MainWindow(); }
  void MoveMainWindow(int left, int top) override { inner_.MoveMainWindow(left, top); }
  platform::WindowHandle ApplicationWindow() override { return inner_.ApplicationWindow(); }

 private:
  void TracePost(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                 bool ok, std::uint32_t error);

  platform::Windowing& inner_;
  Trace& trace_;
};

class TracedShell final : public platform::Shell {
 public:
  TracedShell(platform::Shell& inner, Trace& trace) : inner_(inner), trace_(trace) {}
  platform::StartedProgram Execute(platform::WindowHandle owner, const std::u16string& verb, const std::u16string& file,
                                   const std::u16string& parameters, const std::u16string& directory,
                                   int showCommand) override;

 private:
  platform::Shell& inner_;
  Trace& trace_;
};

class TracedQueuePipe final : public QueuePipe {
 public:
  TracedQueuePipe(QueuePipe& inner, Trace& trace) : inner_(inner), trace_(trace) {}
  bool Connect(std::uint32_t waitTime, bool start) override;
  bool Write(const void* buffer, std::int32_t count) override;

 private:
  QueuePipe& inner_;
  Trace& trace_;
};

// One attempt to open the queue manager's pipe: the system's error code (0
// when it opened) and the id of the process that serves the pipe (0 when
// unknown). An elevated manager's pipe refuses a normal user's client with
// ERROR_ACCESS_DENIED.
void TracePipeAttempt(Trace& trace, std::uint32_t error, std::uint32_t serverProcessId);

// The pipe's server confirmed it read a write of that many bytes; with
// nothing left queued, the whole message is delivered.
void TracePipeSent(Trace& trace, std::uint32_t bytes, bool messageConfirmed);

}  // namespace zyp::intake
