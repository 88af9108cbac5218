#include "messaging/host_session.h"

#include <exception>
#include <system_error>
#include <utility>

#include "intake/fixed_texts.h"
#include "intake/parameter_file.h"
#include "intake/utf8.h"
#include "messaging/native_framing.h"
#include "messaging/program_input.h"
#include "platform/error.h"
#include "platform/error_codes.h"

namespace zyp::messaging {

namespace {

constexpr char kProgramName[] = "ZYPQueueAddURL.exe";

std::string Utf8(const std::u16string& text) { return intake::ToUtf8(text); }

std::string FailureMessage(const PlatformError& error) {
  if (error.Code() == platform::kErrorTimeout)
    return std::string(kProgramName) + " did not end within " + std::to_string(HostSession::kRunLimitMs / 1000) +
           " s and was ended";
  return std::string(kProgramName) + " could not be run: " + Utf8(error.Message());
}

}  // namespace

HostSession::~HostSession() { FinishRuns(); }

int HostSession::Serve() {
  RemoveStaleParameterFiles();
  int result = 0;
  for (;;) {
    Frame frame;
    try {
      frame = ReadFrame(services_.input);
    } catch (const std::exception&) {
      frame.status = Frame::Status::Truncated;
    }
    if (frame.status == Frame::Status::End) break;
    if (frame.status != Frame::Status::Message) {
      // Where the next request starts is unknown: no later reply could be
      // matched to its request.
      result = 1;
      break;
    }
    std::optional<Run> run;
    {
      const ParsedRequest parsed = ParseRequest(frame.text);
      frame.text = std::string();
      if (!parsed.request)
        Answer(ReplyText(parsed.id, Outcome::Refused, std::nullopt, parsed.refusal));
      else if (parsed.request->type == RequestType::Status)
        AnswerStatus(parsed.id);
      else
        run = Prepare(parsed.id, *parsed.request);
    }
    // While the run waits for its turn it holds what the program is given,
    // not the request.
    if (run) StartRun(std::move(*run));
  }
  FinishRuns();
  const std::lock_guard lock(output_lock_);
  return output_failed_ ? 1 : result;
}

void HostSession::Answer(const std::string& reply) {
  const std::string framed = FrameText(reply);
  const std::lock_guard lock(output_lock_);
  // A browser that has gone reads nothing more; the runs still deliver.
  if (output_failed_) return;
  try {
    services_.output.Write(framed.data(), framed.size());
  } catch (const std::exception&) {
    output_failed_ = true;
  }
}

void HostSession::AnswerStatus(const std::string& id) {
  try {
    const bool running = services_.windowing.FindTopLevelWindow(std::u16string(intake::kManagerWindowClass)) != 0;
    Answer(StatusReplyText(id, running, services_.version));
  } catch (const PlatformError& error) {
    Answer(ReplyText(id, Outcome::Failed, std::nullopt, Utf8(error.Message())));
  }
}

void HostSession::AnswerRun(const Run& run, Outcome outcome, std::optional<std::uint32_t> exitCode,
                            const std::string& message) {
  Answer(ReplyText(run.id, outcome, exitCode, message + CookiesLeftOutMessage(run.cookiesLeftOut, run.cookieFileKept),
                   run.cookiesLeftOut));
}

void HostSession::RemoveStaleParameterFiles() {
  try {
    services_.files.RemoveStaleTempFiles(kParameterFilePrefix, kStaleParameterFileMs, kMaxStaleFileNames);
  } catch (const PlatformError&) {
    // A temporary folder that cannot be listed cannot take this host's
    // files either: each run says so.
  }
}

void HostSession::RemoveParameterFile(const std::u16string& path) {
  try {
    services_.files.RemoveIfPresent(path);
  } catch (const PlatformError&) {
    // Held by another program for a moment, or taken away: nothing to add to
    // the reply. A later host's start removes what stays.
  }
}

std::optional<HostSession::Run> HostSession::Prepare(const std::string& id, const BrowserRequest& request) {
  Run run{id, {}, {}, request.cookiesLeftOut, request.cookiesLeftOut > 0 && !request.cookies};
  try {
    if (request.type == RequestType::Queue) {
      run.controlWord = ControlWord(request);
      return run;
    }
    run.parameterBytes = ParameterFileBytes(request);
    if (run.parameterBytes.size() <= intake::kMaxParameterFileSize) return run;
    AnswerRun(run, Outcome::Refused, std::nullopt, "the request is larger than a parameter file may be");
  } catch (const std::exception&) {
    AnswerRun(run, Outcome::Failed, std::nullopt, "the host ran out of memory for the request");
  }
  return std::nullopt;
}

void HostSession::StartRun(Run run) {
  std::unique_lock lock(runs_lock_);
  run_ended_.wait(lock, [this] { return waiting_.size() + (workers_.size() - idle_workers_) < kMaxRuns; });
  waiting_.push_back(std::move(run));
  if (waiting_.size() > idle_workers_ && workers_.size() < kMaxRuns) {
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // The workers there are take it; with none, nothing would.
      if (workers_.empty()) {
        const Run lost = std::move(waiting_.back());
        waiting_.pop_back();
        lock.unlock();
        AnswerRun(lost, Outcome::Failed, std::nullopt, "the host could not start a thread for the run");
        return;
      }
    }
  }
  work_arrived_.notify_one();
}

void HostSession::Work() {
  std::unique_lock lock(runs_lock_);
  for (;;) {
    ++idle_workers_;
    run_ended_.notify_all();
    work_arrived_.wait(lock, [this] { return !waiting_.empty() || closing_; });
    --idle_workers_;
    if (waiting_.empty()) return;
    Run run = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    Execute(std::move(run));
    lock.lock();
  }
}

void HostSession::Execute(Run run) {
  std::u16string arguments = run.controlWord;
  std::u16string parameterFile;
  if (!run.parameterBytes.empty()) {
    try {
      parameterFile = services_.files.CreateTempFile(kParameterFilePrefix, run.parameterBytes);
    } catch (const PlatformError& error) {
      return AnswerRun(run, Outcome::Failed, std::nullopt,
                       "the parameter file could not be written: " + Utf8(error.Message()));
    } catch (const std::exception&) {
      return AnswerRun(run, Outcome::Failed, std::nullopt, "the host ran out of memory for the request");
    }
    std::string().swap(run.parameterBytes);
    // The program would take any other path for an address.
    if (!intake::IsParameterFilePath(parameterFile)) {
      RemoveParameterFile(parameterFile);
      return AnswerRun(run, Outcome::Failed, std::nullopt,
                       "the temporary folder is not a full path on a drive letter: " + Utf8(parameterFile));
    }
    // A path has no double quote; the quotes keep its blanks inside.
    arguments = u"\"" + parameterFile + u"\"";
  }
  std::optional<std::uint32_t> exitCode;
  std::string message;
  try {
    exitCode = services_.programs.RunToEnd(services_.program, arguments, kRunLimitMs);
    message = ExitCodeMessage(*exitCode);
  } catch (const PlatformError& error) {
    message = FailureMessage(error);
  } catch (const std::exception&) {
    message = std::string(kProgramName) + " could not be run";
  }
  // The program deletes the file once it has read it; one it never read goes here.
  if (!parameterFile.empty()) RemoveParameterFile(parameterFile);
  AnswerRun(run, exitCode ? OutcomeForExitCode(*exitCode) : Outcome::Failed, exitCode, message);
}

void HostSession::FinishRuns() {
  {
    const std::lock_guard lock(runs_lock_);
    closing_ = true;
  }
  work_arrived_.notify_all();
  for (std::thread& worker : workers_)
    if (worker.joinable()) worker.join();
  workers_.clear();
}

}  // namespace zyp::messaging
