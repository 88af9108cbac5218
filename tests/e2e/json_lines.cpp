#include "tests/e2e/json_lines.h"

#include <cstdlib>

namespace zyp::e2e {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document() {
    auto value = Value();
    SkipSpace();
    if (!value || pos_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
      ++pos_;
  }

  bool Take(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool TakeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  std::optional<JsonValue> Value() {
    SkipSpace();
    if (pos_ >= text_.size()) return std::nullopt;
    const char c = text_[pos_];
    if (c == '{') return ObjectValue();
    if (c == '[') return ArrayValue();
    if (c == '"') {
      auto text = StringValue();
      if (!text) return std::nullopt;
      return JsonValue::String(std::move(*text));
    }
    if (TakeWord("true")) return JsonValue::Boolean(true);
    if (TakeWord("false")) return JsonValue::Boolean(false);
    if (TakeWord("null")) return JsonValue();
    return NumberValue();
  }

  std::optional<JsonValue> ObjectValue() {
    ++pos_;
    std::vector<std::pair<std::string, JsonValue>> members;
    if (Take('}')) return JsonValue::Object(std::move(members));
    do {
      SkipSpace();
      auto name = StringValue();
      if (!name || !Take(':')) return std::nullopt;
      auto value = Value();
      if (!value) return std::nullopt;
      members.emplace_back(std::string(name->begin(), name->end()), std::move(*value));
    } while (Take(','));
    if (!Take('}')) return std::nullopt;
    return JsonValue::Object(std::move(members));
  }

  std::optional<JsonValue> ArrayValue() {
    ++pos_;
    std::vector<JsonValue> items;
    if (Take(']')) return JsonValue::Array(std::move(items));
    do {
      auto value = Value();
      if (!value) return std::nullopt;
      items.push_back(std::move(*value));
    } while (Take(','));
    if (!Take(']')) return std::nullopt;
    return JsonValue::Array(std::move(items));
  }

  std::optional<JsonValue> NumberValue() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[pos_]) != std::string_view::npos)
      ++pos_;
    if (pos_ == start) return std::nullopt;
    const std::string number(text_.substr(start, pos_ - start));
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size()) return std::nullopt;
    return JsonValue::Number(value);
  }

  std::optional<char16_t> HexUnit() {
    if (pos_ + 4 > text_.size()) return std::nullopt;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= unsigned(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= unsigned(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= unsigned(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return static_cast<char16_t>(value);
  }

  // One UTF-8 sequence as UTF-16; nothing when it is ill-formed.
  bool AppendUtf8Sequence(std::u16string& out) {
    const auto lead = static_cast<unsigned char>(text_[pos_++]);
    int more = 0;
    char32_t c = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      more = 1, c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      more = 2, c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      more = 3, c = lead & 0x07;
    } else {
      return false;
    }
    for (int i = 0; i < more; ++i) {
      if (pos_ >= text_.size() || (static_cast<unsigned char>(text_[pos_]) & 0xC0) != 0x80) return false;
      c = (c << 6) | (static_cast<unsigned char>(text_[pos_++]) & 0x3F);
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    return true;
  }

  std::optional<std::u16string> StringValue() {
    if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
    ++pos_;
    std::u16string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        if (!AppendUtf8Sequence(out)) return std::nullopt;
        continue;
      }
      if (++pos_ >= text_.size()) return std::nullopt;
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
          out.push_back(u'"');
          break;
        case '\\':
          out.push_back(u'\\');
          break;
        case '/':
          out.push_back(u'/');
          break;
        case 'b':
          out.push_back(u'\b');
          break;
        case 'f':
          out.push_back(u'\f');
          break;
        case 'n':
          out.push_back(u'\n');
          break;
        case 'r':
          out.push_back(u'\r');
          break;
        case 't':
          out.push_back(u'\t');
          break;
        case 'u': {
          const auto unit = HexUnit();
          if (!unit) return std::nullopt;
          out.push_back(*unit);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

const JsonValue& NullValue() {
  static const JsonValue value;
  return value;
}

}  // namespace

JsonValue JsonValue::Boolean(bool value) {
  JsonValue v;
  v.type_ = Type::Bool;
  v.boolean_ = value;
  return v;
}

JsonValue JsonValue::Number(double value) {
  JsonValue v;
  v.type_ = Type::Number;
  v.number_ = value;
  return v;
}

JsonValue JsonValue::String(std::u16string value) {
  JsonValue v;
  v.type_ = Type::String;
  v.text_ = std::move(value);
  return v;
}

JsonValue JsonValue::Array(std::vector<JsonValue> items) {
  JsonValue v;
  v.type_ = Type::Array;
  v.items_ = std::move(items);
  return v;
}

JsonValue JsonValue::Object(std::vector<std::pair<std::string, JsonValue>> members) {
  JsonValue v;
  v.type_ = Type::Object;
  v.members_ = std::move(members);
  return v;
}

const JsonValue& JsonValue::operator[](std::string_view name) const {
  for (const auto& [key, value] : members_)
    if (key == name) return value;
  return NullValue();
}

bool JsonValue::Has(std::string_view name) const {
  for (const auto& member : members_)
    if (member.first == name) return true;
  return false;
}

const std::u16string& JsonValue::AsText() const {
  static const std::u16string empty;
  return type_ == Type::String ? text_ : empty;
}

std::vector<std::u16string> JsonValue::AsTexts() const {
  std::vector<std::u16string> texts;
  for (const JsonValue& item : items_) texts.push_back(item.AsText());
  return texts;
}

std::optional<JsonValue> ParseJson(std::string_view text) { return Parser(text).Document(); }

JsonLines ParseJsonLines(std::string_view content) {
  JsonLines lines;
  std::size_t start = 0;
  for (std::size_t end = content.find('\n'); end != std::string_view::npos; end = content.find('\n', start)) {
    const std::string_view line = content.substr(start, end - start);
    start = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    if (auto value = ParseJson(line))
      lines.values.push_back(std::move(*value));
    else
      lines.badLines.emplace_back(line);
  }
  return lines;
}

}  // namespace zyp::e2e
