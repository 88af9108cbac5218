#include "intake/traced_services.h"

#include <type_traits>

#include "intake/fixed_texts.h"
#include "platform/error.h"
#include "platform/error_codes.h"

namespace zyp::intake {

namespace {

void FileStep(Trace& trace, std::string_view op, const std::u16string& path, bool ok, std::uint32_t error) {
  trace.Step("file", [&](TraceLine& line) {
    line.Word("op", op).Text("path", path).Flag("ok", ok);
    if (!ok) line.Number("error", error);
  });
}

// Runs a file operation and traces it, failed or not; a failure goes on to
// the caller.
template <typename Operation>
auto TracedFileStep(Trace& trace, std::string_view op, const std::u16string& path, Operation&& operation) {
  try {
    if constexpr (std::is_void_v<decltype(operation())>) {
      operation();
      FileStep(trace, op, path, true, 0);
    } else {
      auto result = operation();
      FileStep(trace, op, path, true, 0);
      return result;
    }
  } catch (const PlatformError& error) {
    FileStep(trace, op, path, false, error.Code());
    throw;
  }
}

class TracedWritableFile final : public platform::WritableFile {
 public:
  TracedWritableFile(std::unique_ptr<platform::WritableFile> inner, std::u16string path, Trace& trace)
      : inner_(std::move(inner)), path_(std::move(path)), trace_(trace) {}

  // The size is left out: it would tell how long the cookie values are.
  void Write(const void* data, std::size_t size) override {
    TracedFileStep(trace_, "write", path_, [&] { inner_->Write(data, size); });
  }

 private:
  std::unique_ptr<platform::WritableFile> inner_;
  std::u16string path_;
  Trace& trace_;
};

class TracedRegistryKey final : public platform::RegistryKey {
 public:
  TracedRegistryKey(std::unique_ptr<platform::RegistryKey> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}

  // Values are never traced: only which were there and of what type.
  std::optional<platform::RegistryValue> Query(const std::u16string& name) override {
    std::optional<platform::RegistryValue> value;
    try {
      value = inner_->Query(name);
    } catch (const PlatformError& error) {
      Step("read", name, false, error.Code());
      throw;
    }
    trace_.Step("registry", [&](TraceLine& line) {
      line.Word("op", "read").Text("value", name).Flag("found", value.has_value());
      if (value) line.Number("type", value->type);
    });
    return value;
  }
  void SetString(const std::u16string& name, const std::u16string& text) override {
    try {
      inner_->SetString(name, text);
    } catch (const PlatformError& error) {
      Step("write", name, false, error.Code());
      throw;
    }
    Step("write", name, true, 0);
  }
  void DeleteValue(const std::u16string& name) override {
    try {
      inner_->DeleteValue(name);
    } catch (const PlatformError& error) {
      Step("delete", name, false, error.Code());
      throw;
    }
    Step("delete", name, true, 0);
  }

 private:
  void Step(std::string_view op, const std::u16string& name, bool ok, std::uint32_t error) {
    trace_.Step("registry", [&](TraceLine& line) {
      line.Word("op", op).Text("value", name).Flag("ok", ok);
      if (!ok) line.Number("error", error);
    });
  }

  std::unique_ptr<platform::RegistryKey> inner_;
  Trace& trace_;
};

}  // namespace

bool TracedFiles::FileExists(const std::u16string& path) {
  const bool exists = inner_.FileExists(path);
  trace_.Step("file", [&](TraceLine& line) { line.Word("op", "exists").Text("path", path).Flag("exists", exists); });
  return exists;
}

void TracedFiles::MakeDirectory(const std::u16string& path) {
  TracedFileStep(trace_, "mkdir", path, [&] { inner_.MakeDirectory(path); });
}

std::unique_ptr<platform::WritableFile> TracedFiles::CreateForWriting(const std::u16string& path) {
  std::unique_ptr<platform::WritableFile> file =
      TracedFileStep(trace_, "create", path, [&] { return inner_.CreateForWriting(path); });
  return std::make_unique<TracedWritableFile>(std::move(file), path, trace_);
}

void TracedFiles::Remove(const std::u16string& path) {
  TracedFileStep(trace_, "remove", path, [&] { inner_.Remove(path); });
}

platform::FileContent TracedFiles::ReadAll(const std::u16string& path, std::uint64_t maxSize) {
  platform::FileContent content;
  try {
    content = inner_.ReadAll(path, maxSize);
  } catch (const PlatformError& error) {
    FileStep(trace_, "read", path, false, error.Code());
    throw;
  }
  trace_.Step("file", [&](TraceLine& line) {
    line.Word("op", "read").Text("path", path).Flag("ok", content.status == platform::FileContent::Status::Read);
    if (content.status == platform::FileContent::Status::Read)
      line.Number("bytes", static_cast<std::int64_t>(content.bytes.size()));
    else
      line.Word("refused", content.status == platform::FileContent::Status::TooLarge ? "too large" : "not a disk file");
  });
  return content;
}

std::unique_ptr<platform::RegistryKey> TracedRegistry::OpenCurrentUserKey(const std::u16string& path) {
  const auto traceOpen = [&](bool found) {
    trace_.Step("registry", [&](TraceLine& line) {
      line.Word("op", "open").Text("key", u"HKEY_CURRENT_USER\\" + path).Flag("found", found);
    });
  };
  std::unique_ptr<platform::RegistryKey> key;
  try {
    key = inner_.OpenCurrentUserKey(path);
  } catch (const PlatformError&) {
    // A refused key is not found as far as the request can tell.
    traceOpen(false);
    throw;
  }
  traceOpen(key != nullptr);
  if (key == nullptr) return nullptr;
  return std::make_unique<TracedRegistryKey>(std::move(key), trace_);
}

platform::WindowHandle TracedWindowing::FindTopLevelWindow(const std::u16string& className) {
  const platform::WindowHandle window = inner_.FindTopLevelWindow(className);
  trace_.Step("window", [&](TraceLine& line) { line.Text("class", className).Flag("found", window != 0); });
  return window;
}

void TracedWindowing::Post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  try {
    inner_.Post(window, message, wParam, lParam);
  } catch (const PlatformError& refused) {
    TracePost(window, message, wParam, lParam, false, refused.Code());
    throw;
  }
  TracePost(window, message, wParam, lParam, true, 0);
}

void TracedWindowing::TracePost(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam, bool ok, std::uint32_t error) {
  const bool ownClose = window == inner_.MainWindow() && message == kCloseMessage;
  trace_.Step(ownClose ? "close_request" : "post", [&](TraceLine& line) {
    if (!ownClose)
      line.Number("message", message)
          .Number("wparam", static_cast<std::int64_t>(wParam))
          .Number("lparam", static_cast<std::int64_t>(lParam));
    line.Flag("ok", ok);
    if (!ok) line.Number("error", error);
  });
  if (!ownClose && error == platform::kErrorAccessDenied)
    trace_.NoteCause(
        "the queue manager's window refused the control message: access denied (a manager running elevated must let "
        "WM_ZYP_PROGRESS through with ChangeWindowMessageFilterEx)");
  else if (!ownClose && !ok)
    trace_.NoteCause("the control message could not be posted (error " + std::to_string(error) + ")");
}

platform::StartedProgram TracedShell::Execute(platform::WindowHandle owner, const std::u16string& verb,
                                              const std::u16string& file, const std::u16string& parameters,
                                              const std::u16string& directory, int showCommand) {
  const auto traceStart = [&](bool outsideJob, bool ok, std::string_view number, std::uint32_t value) {
    trace_.Step("start", [&](TraceLine& line) {
      line.Text("file", file)
          .Text("parameters", parameters)
          .Text("directory", directory)
          .Word("route", outsideJob ? "CreateProcessW outside the job" : "ShellExecuteExW")
          .Flag("ok", ok)
          .Number(number, value);
    });
  };
  platform::StartedProgram started;
  try {
    started = inner_.Execute(owner, verb, file, parameters, directory, showCommand);
  } catch (const PlatformError& error) {
    // The failed call names the route the start took.
    traceStart(std::string_view(error.Call()) == platform::kStartOutsideJobCall, false, "error", error.Code());
    trace_.NoteCause("the companion could not be started (error " + std::to_string(error.Code()) + ")");
    throw;
  }
  traceStart(started.outsideJob, true, "pid", started.processId);
  return started;
}

bool TracedQueuePipe::Connect(std::uint32_t waitTime, bool start) {
  const bool connected = inner_.Connect(waitTime, start);
  trace_.Step("pipe_connect", [&](TraceLine& line) { line.Number("wait_ms", waitTime).Flag("connected", connected); });
  return connected;
}

bool TracedQueuePipe::Write(const void* buffer, std::int32_t count) {
  const bool queued = inner_.Write(buffer, count);
  trace_.Step("pipe_write", [&](TraceLine& line) { line.Number("bytes", count).Flag("queued", queued); });
  if (!queued) trace_.NoteCause("the pipe client did not take the message");
  return queued;
}

void TracePipeAttempt(Trace& trace, std::uint32_t error, std::uint32_t serverProcessId) {
  trace.Step("pipe_attempt", [&](TraceLine& line) {
    line.Number("error", error);
    if (serverProcessId != 0) line.Number("server_pid", serverProcessId);
  });
  switch (error) {
    case 0:
      return;
    case platform::kErrorAccessDenied:
      trace.NoteCause(
          "the queue manager's pipe refused this client: access denied (a manager running elevated must give its "
          "pipe an access list that lets the user's medium-integrity processes write)");
      return;
    case platform::kErrorFileNotFound:
      trace.NoteCause("the queue manager's window exists but its pipe does not");
      return;
    case platform::kErrorSemaphoreTimeout:
    case platform::kErrorPipeBusy:
      trace.NoteCause("no instance of the queue manager's pipe was free within the wait");
      return;
    default:
      trace.NoteCause("the queue manager's pipe could not be opened (error " + std::to_string(error) + ")");
  }
}

void TracePipeSent(Trace& trace, std::uint32_t bytes, bool messageConfirmed) {
  trace.Step("pipe_sent",
             [&](TraceLine& line) { line.Number("bytes", bytes).Flag("message_confirmed", messageConfirmed); });
}

}  // namespace zyp::intake
