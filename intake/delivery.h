#pragma once
// How far a request got, and the exit code that tells a browser integration
// whether it may rely on the queue manager or must fall back to its own
// download.
namespace zyp::intake {

enum class Delivery {
  NotDelivered,  // nothing sent, nothing started
  Delivered,     // the control message posted or a companion started
  Queued,        // a queue message handed to the pipe client, not yet read
};

// How far a queued message got on the pipe by the end of the run.
enum class PipeProgress {
  Incomplete,  // not all of it went into the pipe: the manager drops any part
  InPipe,      // all of it is in the pipe, unread: the manager may still take it
  Read,        // the manager read all of it
};

// 0: delivered, including a queue message the pipe's server read.
// 1: an error stopped the request and was reported.
// 2: nothing of the request can reach the queue manager.
// 3: the whole queue message is in the pipe but was not read yet; the caller
//    treats it as handed over, not as lost.
constexpr int ExitCodeFor(Delivery delivery, PipeProgress progress, bool errorReported) {
  if (errorReported) return 1;
  if (delivery == Delivery::Delivered) return 0;
  if (delivery == Delivery::Queued && progress == PipeProgress::Read) return 0;
  if (delivery == Delivery::Queued && progress == PipeProgress::InPipe) return 3;
  return 2;
}

}  // namespace zyp::intake
