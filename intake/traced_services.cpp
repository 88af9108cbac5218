#include "intake/traced_services.h"

#include "intake/fixed_texts.h"
#include "platform/error.h"

namespace zyp::intake {

namespace {

// Windows' error codes that the trace explains.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kSemaphoreTimeout = 121;
constexpr std::uint32_t kPipeBusy = 231;

void FileStep(Trace& trace, std::string_view op, const std::u16string& path, bool ok, std::uint32_t error) {
  trace.Step("file", [&](TraceLine& line) {
    line.Word("op", op).Text("path", path).Flag("ok", ok);
    if (!ok) line.Number("error", error);
  });
}

class TracedWritableFile final : public platform::WritableFile {
 public:
  TracedWritableFile(std::unique_ptr<platform::WritableFile> inner, std::u16string path, platform::Files& files,
                     Trace& trace)
      : inner_(std::move(inner)), path_(std::move(path)), files_(files), trace_(trace) {}

  // The size is left out: it would tell how long the cookie values are.
  bool Write(const void* data, std::size_t size) override {
    const bool ok = inner_->Write(data, size);
    FileStep(trace_, "write", path_, ok, ok ? 0 : files_.LastError());
    return ok;
  }

 private:
  std::unique_ptr<platform::WritableFile> inner_;
  std::u16string path_;
  platform::Files& files_;
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
    inner_->DeleteValue(name);
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

bool TracedFiles::MakeDirectory(const std::u16string& path) {
  const bool ok = inner_.MakeDirectory(path);
  // LastError stays readable for the caller.
  FileStep(trace_, "mkdir", path, ok, ok ? 0 : inner_.LastError());
  return ok;
}

std::unique_ptr<platform::WritableFile> TracedFiles::CreateForWriting(const std::u16string& path) {
  std::unique_ptr<platform::WritableFile> file = inner_.CreateForWriting(path);
  FileStep(trace_, "create", path, file != nullptr, file != nullptr ? 0 : inner_.LastError());
  if (file == nullptr) return nullptr;
  return std::make_unique<TracedWritableFile>(std::move(file), path, inner_, trace_);
}

bool TracedFiles::Remove(const std::u16string& path) {
  const bool ok = inner_.Remove(path);
  FileStep(trace_, "remove", path, ok, ok ? 0 : inner_.LastError());
  return ok;
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
  std::unique_ptr<platform::RegistryKey> key = inner_.OpenCurrentUserKey(path);
  trace_.Step("registry", [&](TraceLine& line) {
    line.Word("op", "open").Text("key", u"HKEY_CURRENT_USER\\" + path).Flag("found", key != nullptr);
  });
  if (key == nullptr) return nullptr;
  return std::make_unique<TracedRegistryKey>(std::move(key), trace_);
}

platform::WindowHandle TracedWindowing::FindTopLevelWindow(const std::u16string& className) {
  const platform::WindowHandle window = inner_.FindTopLevelWindow(className);
  trace_.Step("window", [&](TraceLine& line) { line.Text("class", className).Flag("found", window != 0); });
  return window;
}

bool TracedWindowing::Post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  const bool ok = inner_.Post(window, message, wParam, lParam);
  const std::uint32_t error = ok ? 0 : inner_.LastError();
  const bool ownClose = window == inner_.MainWindow() && message == kCloseMessage;
  trace_.Step(ownClose ? "close_request" : "post", [&](TraceLine& line) {
    if (!ownClose)
      line.Number("message", message)
          .Number("wparam", static_cast<std::int64_t>(wParam))
          .Number("lparam", static_cast<std::int64_t>(lParam));
    line.Flag("ok", ok);
    if (!ok) line.Number("error", error);
  });
  if (!ownClose && error == kAccessDenied)
    trace_.NoteCause(
        "the queue manager's window refused the control message: access denied (a manager running elevated must let "
        "WM_ZYP_PROGRESS through with ChangeWindowMessageFilterEx)");
  else if (!ownClose && !ok)
    trace_.NoteCause("the control message could not be posted (error " + std::to_string(error) + ")");
  return ok;
}

platform::StartResult TracedShell::Execute(platform::WindowHandle owner, const std::u16string& verb,
                                           const std::u16string& file, const std::u16string& parameters,
                                           const std::u16string& directory, int showCommand) {
  const platform::StartResult result = inner_.Execute(owner, verb, file, parameters, directory, showCommand);
  trace_.Step("start", [&](TraceLine& line) {
    line.Text("file", file)
        .Text("parameters", parameters)
        .Text("directory", directory)
        .Word("route", result.outsideJob ? "CreateProcessW outside the job" : "ShellExecuteExW")
        .Flag("ok", result.started);
    if (result.started)
      line.Number("pid", result.processId);
    else
      line.Number("error", result.error);
  });
  if (!result.started)
    trace_.NoteCause("the companion could not be started (error " + std::to_string(result.error) + ")");
  return result;
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
    case kAccessDenied:
      trace.NoteCause(
          "the queue manager's pipe refused this client: access denied (a manager running elevated must give its "
          "pipe an access list that lets the user's medium-integrity processes write)");
      return;
    case kFileNotFound:
      trace.NoteCause("the queue manager's window exists but its pipe does not");
      return;
    case kSemaphoreTimeout:
    case kPipeBusy:
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
