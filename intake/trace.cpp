#include "intake/trace.h"

#include "intake/utf8.h"

namespace zyp::intake {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendEscaped(std::string& out, char32_t c) {
  switch (c) {
    case u'"':
      out += "\\\"";
      return;
    case u'\\':
      out += "\\\\";
      return;
    case u'\n':
      out += "\\n";
      return;
    case u'\r':
      out += "\\r";
      return;
    case u'\t':
      out += "\\t";
      return;
    default:
      break;
  }
  if (c < 0x20) {
    out += "\\u00";
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 0xF];
    return;
  }
  AppendUtf8(out, c);
}

std::string Decimal(std::uint64_t n) { return std::to_string(n); }

}  // namespace

bool TraceLine::Key(std::string_view key) {
  if (json_.size() >= kLineLimitBytes) return false;
  json_ += ",\"";
  json_ += key;
  json_ += "\":";
  return true;
}

void TraceLine::Quoted(std::u16string_view value, std::size_t limit) {
  json_ += '"';
  std::size_t i = 0;
  for (; i < value.size() && i < limit && json_.size() < kLineLimitBytes; ++i) {
    const char16_t c = value[i];
    if (IsHighSurrogate(c) && i + 1 < value.size() && IsLowSurrogate(value[i + 1])) {
      AppendEscaped(json_, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(value[i + 1]) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendEscaped(json_, 0xFFFD);
    } else {
      AppendEscaped(json_, c);
    }
  }
  if (i < value.size()) json_ += "\xE2\x80\xA6[+" + Decimal(value.size() - i) + "]";
  json_ += '"';
}

TraceLine& TraceLine::Text(std::string_view key, std::u16string_view value) {
  if (Key(key)) Quoted(value, kTextLimitUnits);
  return *this;
}

TraceLine& TraceLine::Texts(std::string_view key, const std::vector<std::u16string>& values) {
  if (!Key(key)) return *this;
  json_ += '[';
  std::size_t i = 0;
  for (; i < values.size() && json_.size() < kLineLimitBytes; ++i) {
    if (i > 0) json_ += ',';
    Quoted(values[i], kTextLimitUnits);
  }
  if (i < values.size())
    json_ += std::string(i > 0 ? "," : "") + "\"\xE2\x80\xA6[+" + Decimal(values.size() - i) + "]\"";
  json_ += ']';
  return *this;
}

TraceLine& TraceLine::Word(std::string_view key, std::string_view value) {
  if (Key(key)) Quoted(std::u16string(value.begin(), value.end()), kTextLimitUnits);
  return *this;
}

TraceLine& TraceLine::Number(std::string_view key, std::int64_t value) {
  if (Key(key)) json_ += std::to_string(value);
  return *this;
}

TraceLine& TraceLine::Flag(std::string_view key, bool value) {
  if (Key(key)) json_ += value ? "true" : "false";
  return *this;
}

std::string TraceLine::Finish() && {
  json_ += "}\n";
  return std::move(json_);
}

Trace::Trace(platform::TraceOutput& output) : output_(&output), startMs_(output.MonotonicMs()) {}

TraceLine Trace::Begin(std::string_view step) {
  std::string prefix = "{\"t_ms\":" + Decimal(output_->MonotonicMs() - startMs_) + ",\"time\":\"" + output_->UtcTime() +
                       "\",\"pid\":" + Decimal(output_->ProcessId());
  TraceLine line(std::move(prefix));
  line.Word("step", step);
  return line;
}

void Trace::End(std::string line, bool last) {
  const std::size_t room = kRunLimitBytes - (last ? 0 : kExitReserveBytes);
  if (written_ + line.size() > room) {
    if (last || full_) return;
    full_ = true;
    std::string notice = std::move(Begin("trace_limit").Number("limit_bytes", kRunLimitBytes)).Finish();
    written_ += notice.size();
    output_->Append(notice);
    return;
  }
  written_ += line.size();
  output_->Append(line);
}

void Trace::NoteCause(std::string_view cause) {
  if (output_ != nullptr) cause_ = cause;
}

void Trace::Exit(int exitCode) {
  if (output_ == nullptr) return;
  TraceLine line = Begin("exit");
  line.Number("code", exitCode).Word("reason", ExitReason(exitCode));
  if (exitCode != 0 && !cause_.empty()) line.Word("cause", cause_);
  End(std::move(line).Finish(), true);
}

std::string_view ExitReason(int exitCode) {
  switch (exitCode) {
    case 0:
      return "delivered";
    case 1:
      return "an error stopped the request and was shown in an error box";
    case 2:
      return "not delivered";
    case 3:
      return "handed over: the whole message is in the pipe, not yet read";
    default:
      return "see the exit codes in docs/protocol.md";
  }
}

}  // namespace zyp::intake
