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
#include <string_view>
#include <thread>
#include <vector>

#include "messaging/browser_request.h"
#include "messaging/host_reply.h"
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
  // The parameter files' names: this prefix, a random part and an
  // extension (see platform/private_files.h), which only this host makes.
  static constexpr std::u16string_view kParameterFilePrefix = u"ZYPBrowserHost-";
  // A parameter file is written just before its program starts, which reads
  // it at once, and is removed when the run ends, at the run limit at the
  // latest. One that is older was left by a host that was ended while it
  // ran (a browser ends its host when it likes) and holds a site's cookies:
  // a host that starts removes it.
  static constexpr std::uint64_t kStaleParameterFileMs = kRunLimitMs;
  // How many of its names a start looks at, at most: what is left over goes
  // at a later start.
  static constexpr std::size_t kMaxStaleFileNames = 256;

  explicit HostSession(const HostServices& services) : services_(services) {}
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Removes what hosts that were ended left behind, then serves until the
  // input ends and every run has been answered. 0 when the input ended
  // between two requests and every reply was written; 1 when it ended inside
  // one, sent a length over the limit (no later reply could be matched to
  // its request) or a reply could not be written.
  int Serve();

 private:
  // A request ready to run: the program's control word, or what its
  // parameter file is to hold.
  struct Run {
    std::string id;
    std::u16string controlWord;
    std::string parameterBytes;
    std::size_t cookiesLeftOut = 0;
    bool cookieFileKept = false;  // every cookie was left out: the program was given no list
  };

  void Answer(const std::string& reply);
  void AnswerStatus(const std::string& id);
  void AnswerRun(const Run& run, Outcome outcome, std::optional<std::uint32_t> exitCode, const std::string& message);
  void RemoveStaleParameterFiles();
  void RemoveParameterFile(const std::u16string& path);
  // The run for a request; its reply instead when it cannot run.
  std::optional<Run> Prepare(const std::string& id, const BrowserRequest& request);
  void StartRun(Run run);
  void Work();
  void Execute(Run run);
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
