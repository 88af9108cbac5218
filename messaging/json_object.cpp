#include "messaging/json_object.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "intake/utf8.h"

namespace zyp::messaging {

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Printable ASCII that stands for itself in a JSON string.
constexpr bool IsPlain(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One pass over the text, left to right; every fault is reported where it
// was met, so that the first one decides.
class Reader {
 public:
  Reader(std::string_view json, std::size_t maxEntries) : json_(json), maxEntries_(maxEntries) {}

  void Object(const std::vector<std::string_view>& kept, std::map<std::string, JsonValue, std::less<>>& members) {
    if (json_.starts_with("\xEF\xBB\xBF")) at_ = 3;
    SkipSpace();
    if (Peek() != '{') {
      // An array is refused as it opens, as any value nested too deeply is.
      if (Peek() == '[') throw JsonRefusal{"not a JSON object"};
      SkipValue(0);
      End();
      throw JsonRefusal{"not a JSON object"};
    }
    std::u16string name;
    Entries(&name, [&] {
      if (const std::optional<std::string_view> keptName = KeptName(name, kept))
        members[std::string(*keptName)] = KeptValue(*keptName);
      else
        SkipValue(1);
    });
    End();
  }

 private:
  [[noreturn]] void Invalid() const { throw JsonRefusal{"not valid JSON (at byte " + std::to_string(at_ + 1) + ")"}; }

  // The byte at the reading place; a NUL at the end, which no JSON text
  // outside a string may hold either.
  char Peek() const { return at_ < json_.size() ? json_[at_] : '\0'; }

  void Expect(char c) {
    if (Peek() != c) Invalid();
    ++at_;
  }

  void SkipSpace() {
    while (at_ < json_.size() && (json_[at_] == ' ' || json_[at_] == '\t' || json_[at_] == '\n' || json_[at_] == '\r'))
      ++at_;
  }

  void End() {
    SkipSpace();
    if (at_ != json_.size()) Invalid();
  }

  static std::optional<std::string_view> KeptName(const std::u16string& name,
                                                  const std::vector<std::string_view>& kept) {
    for (const std::string_view candidate : kept)
      if (std::equal(name.begin(), name.end(), candidate.begin(), candidate.end(),
                     [](char16_t a, char b) { return a == static_cast<unsigned char>(b); }))
        return candidate;
    return std::nullopt;
  }

  // A string from its opening quote; its text is added to out when there is
  // one. Returns its JSON text.
  std::string_view String(std::u16string* out) {
    const std::size_t start = at_;
    Expect('"');
    for (;;) {
      if (at_ >= json_.size()) Invalid();
      const auto c = static_cast<unsigned char>(json_[at_]);
      if (c == '"') {
        ++at_;
        return json_.substr(start, at_ - start);
      }
      if (c == '\\') {
        Escape(out);
      } else if (c < 0x20) {
        Invalid();
      } else if (c < 0x80) {
        // A run of plain characters at once: addresses and cookie lists are
        // mostly that, and a request may hold 64 MiB of them.
        const std::size_t from = at_;
        while (at_ < json_.size() && IsPlain(json_[at_])) ++at_;
        if (out) out->append(json_.begin() + from, json_.begin() + at_);
      } else {
        const std::optional<char32_t> decoded = intake::ReadUtf8(json_, at_);
        if (!decoded) Invalid();
        if (out) intake::AppendUtf16(*out, *decoded);
      }
    }
  }

  void Escape(std::u16string* out) {
    ++at_;
    char16_t unit = 0;
    switch (Peek()) {
      case '"':
      case '\\':
      case '/':
        unit = static_cast<char16_t>(json_[at_]);
        break;
      case 'b':
        unit = u'\b';
        break;
      case 'f':
        unit = u'\f';
        break;
      case 'n':
        unit = u'\n';
        break;
      case 'r':
        unit = u'\r';
        break;
      case 't':
        unit = u'\t';
        break;
      case 'u':
        for (int i = 0; i < 4; ++i) {
          ++at_;
          const int digit = HexDigit(Peek());
          if (digit < 0) Invalid();
          unit = static_cast<char16_t>(unit << 4 | digit);
        }
        // Each escape is one code unit: a pair gives its character, an
        // unpaired surrogate stays what it is.
        break;
      default:
        Invalid();
    }
    ++at_;
    if (out) out->push_back(unit);
  }

  std::string_view Number() {
    const std::size_t start = at_;
    if (Peek() == '-') ++at_;
    if (Peek() == '0') {
      ++at_;
    } else {
      if (!IsDigit(Peek())) Invalid();
      while (IsDigit(Peek())) ++at_;
    }
    if (Peek() == '.') {
      ++at_;
      if (!IsDigit(Peek())) Invalid();
      while (IsDigit(Peek())) ++at_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      if (!IsDigit(Peek())) Invalid();
      while (IsDigit(Peek())) ++at_;
    }
    return json_.substr(start, at_ - start);
  }

  void Literal(std::string_view word) {
    for (const char c : word) Expect(c);
  }

  // A value that is neither an array nor an object.
  bool Scalar(JsonValue* value) {
    JsonValue scratch;
    JsonValue& into = value ? *value : scratch;
    switch (Peek()) {
      case '"':
        into.kind = JsonValue::Kind::String;
        into.raw = String(value ? &into.text : nullptr);
        return true;
      case 't':
        into.kind = JsonValue::Kind::Boolean;
        Literal("true");
        return true;
      case 'f':
        into.kind = JsonValue::Kind::Boolean;
        Literal("false");
        return true;
      case 'n':
        into.kind = JsonValue::Kind::Null;
        Literal("null");
        return true;
      case '[':
      case '{':
        return false;
      default:
        into.kind = JsonValue::Kind::Number;
        into.raw = Number();
        return true;
    }
  }

  // Calls entry at each value of the array or object that opens here; an
  // object's member name is read into name first, when one is given.
  template <typename Entry>
  void Entries(std::u16string* name, Entry entry) {
    const char close = Peek() == '[' ? ']' : '}';
    ++at_;
    SkipSpace();
    if (Peek() == close) {
      ++at_;
      return;
    }
    for (;;) {
      SkipSpace();
      if (close == '}') {
        if (name) name->clear();
        String(name);
        SkipSpace();
        Expect(':');
        SkipSpace();
      }
      entry();
      SkipSpace();
      if (Peek() == ',') {
        ++at_;
        continue;
      }
      Expect(close);
      return;
    }
  }

  // A value whose arrays and objects would open at depth: skipped, read only
  // as far as needed to find its end and every fault in it.
  void SkipValue(std::size_t depth) {
    if (Scalar(nullptr)) return;
    if (depth >= kMaxJsonDepth) throw JsonRefusal{"not a request: nested too deeply"};
    Entries(nullptr, [&] { SkipValue(depth + 1); });
  }

  JsonValue KeptValue(std::string_view name) {
    JsonValue value;
    if (Scalar(&value)) return value;
    const bool array = Peek() == '[';
    value.kind = array ? JsonValue::Kind::Array : JsonValue::Kind::Object;
    Entries(nullptr, [&] {
      if (Peek() == '[' || Peek() == '{') throw JsonRefusal{std::string(name) + ": nested too deeply"};
      // Past the cap an entry is still read, for its faults, and counted.
      if (array && value.count < maxEntries_)
        Scalar(&value.entries.emplace_back());
      else
        Scalar(nullptr);
      ++value.count;
    });
    return value;
  }

  std::string_view json_;
  std::size_t maxEntries_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonObject::Find(std::string_view name) const {
  const auto found = members_.find(name);
  return found == members_.end() ? nullptr : &found->second;
}

JsonValue* JsonObject::Find(std::string_view name) { return const_cast<JsonValue*>(std::as_const(*this).Find(name)); }

JsonObject ReadJsonObject(std::string_view json, const std::vector<std::string_view>& kept, std::size_t maxEntries) {
  JsonObject object;
  Reader(json, maxEntries).Object(kept, object.members_);
  return object;
}

}  // namespace zyp::messaging
