#pragma once
// The browser host's work: reads requests until its input ends, answers the
// ones that need no run at once, runs ZYPQueueAddURL.exe for the others, up
// to kMaxRuns at a time, and answers each as its run ends.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "messaging/browser_request.h"
#include "platform/byte_streams.h"
#include "platform/child_programs.h"
#include "platform/private_files.h"
#include "platform/windowing.h"

namespace zyp::messaging {

struct HostServices {
  platform::ByteInput& input;
  platform::ByteOutput& output;
  platform::ChildPrograms& programs;
  platform::PrivateFiles& files;
  platform::Windowing& windowing;
  // The full path of ZYPQueueAddURL.exe, beside the host.
  std::u16string program;
  // The product version, for the status reply.
  std::string version;
};

class HostSession {
 public:
  // More requests wait for a run to end: they are neither read nor dropped.
  static constexpr std::size_t kMaxRuns = 8;
  // The program ends within seconds unless an error box waits for the user:
  // a run that takes longer is ended, so that no request waits for ever.
  static constexpr std::uint32_t kRunLimitMs = 60000;

  explicit HostSession(const HostServices& services) : services_(services) {}
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Serves until the input ends and every run has been answered. 0 when the
  // input ended between two requests and every reply was written; 1 when it
  // ended inside one, sent a length over the limit (no later reply could be
  // matched to its request) or a reply could not be written.
  int Serve();

 private:
  // A request ready to run: its parameter file, if any, is written, so that
  // a waiting request holds no more memory than its id.
  struct Run {
    std::string id;
    std::u16string arguments;
    std::u16string parameterFile;  // removed once the run has ended
  };

  void Answer(const std::string& reply);
  void AnswerStatus(const std::string& id);
  // The run for a request; its reply instead when it cannot run.
  std::optional<Run> Prepare(const std::string& id, const BrowserRequest& request);
  void StartRun(Run run);
  void Work();
  void Execute(const Run& run);
  void FinishRuns();

  HostServices services_;
  std::mutex output_lock_;
  bool output_failed_ = false;

  std::mutex runs_lock_;
  // The reader waits here for a free run, the workers for work.
  std::condition_variable run_ended_;
  std::condition_variable work_arrived_;
  std::deque<Run> waiting_;
  std::size_t idle_workers_ = 0;
  bool closing_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace zyp::messaging
