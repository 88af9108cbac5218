#pragma once
// A small reader for the companions' journal: one JSON object per line.
// Strings come back as UTF-16 code units, so a \u escape of a lone
// surrogate is read back exactly (JSON libraries reject such a line).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zyp::e2e {

class JsonValue {
 public:
  enum class Type { Null, Bool, Number, String, Array, Object };

  JsonValue() = default;
  static JsonValue Boolean(bool value);
  static JsonValue Number(double value);
  static JsonValue String(std::u16string value);
  static JsonValue Array(std::vector<JsonValue> items);
  static JsonValue Object(std::vector<std::pair<std::string, JsonValue>> members);

  Type GetType() const { return type_; }
  bool IsNull() const { return type_ == Type::Null; }

  // Member of an object; a null value when there is none.
  const JsonValue& operator[](std::string_view name) const;
  bool Has(std::string_view name) const;

  // The value read as the given kind; a neutral value when it is another.
  bool AsBool() const { return type_ == Type::Bool && boolean_; }
  std::int64_t AsInt() const { return type_ == Type::Number ? static_cast<std::int64_t>(number_) : 0; }
  const std::u16string& AsText() const;
  const std::vector<JsonValue>& Items() const { return items_; }
  // An object's members in their order (names hold ASCII only).
  const std::vector<std::pair<std::string, JsonValue>>& Members() const { return members_; }
  std::vector<std::u16string> AsTexts() const;

 private:
  Type type_ = Type::Null;
  bool boolean_ = false;
  double number_ = 0;
  std::u16string text_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// One JSON value; nothing when the text is not exactly one well-formed value.
std::optional<JsonValue> ParseJson(std::string_view text);

struct JsonLines {
  std::vector<JsonValue> values;
  std::vector<std::string> badLines;  // complete lines that are not JSON
};

// Complete lines only: a last line without its line break may still be being
// written and is left for the next read.
JsonLines ParseJsonLines(std::string_view content);

}  // namespace zyp::e2e
