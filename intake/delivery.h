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

// 0: delivered, including a queue message the pipe's server confirmed it read.
// 1: an error stopped the request and was reported.
// 2: the request was not delivered.
constexpr int ExitCodeFor(Delivery delivery, bool writeConfirmed, bool errorReported) {
  if (errorReported) return 1;
  if (delivery == Delivery::Delivered || (delivery == Delivery::Queued && writeConfirmed)) return 0;
  return 2;
}

}  // namespace zyp::intake
