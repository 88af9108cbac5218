#pragma once
// The program's exceptions. Each carries the UTF-16 text that the error box
// shows; the abort kind stops an action without being reported.
#include <cstdint>
#include <exception>
#include <string>

namespace zyp {

class Error : public std::exception {
 public:
  explicit Error(std::u16string message) : message_(std::move(message)) {}
  const std::u16string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return "zyp::Error"; }

 private:
  std::u16string message_;
};

// A failed system call, with the platform's error code, its system message
// and, where known, the name of the call (for traces; never shown).
class PlatformError : public Error {
 public:
  PlatformError(std::uint32_t code, std::u16string message, const char* call = "")
      : Error(std::move(message)), code_(code), call_(call) {}
  std::uint32_t Code() const noexcept { return code_; }
  const char* Call() const noexcept { return call_; }

 private:
  std::uint32_t code_;
  const char* call_;
};

// Ends the current action silently: the error box never shows it.
class AbortError : public Error {
 public:
  AbortError() : Error(u"Operation aborted") {}
};

// The text of an error report: the message with "." appended, unless it is
// empty or already ends in "." or in a character below ".".
inline std::u16string ErrorReportText(std::u16string message) {
  if (!message.empty() && message.back() > u'.') message.push_back(u'.');
  return message;
}

}  // namespace zyp
