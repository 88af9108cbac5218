#pragma once
// A request's JSON object, read strictly by the JSON grammar and kept only as
// far as the host uses it. Numbers keep their text as sent, whatever their
// size, so that an id goes back exactly as it came; texts are UTF-16 code
// units as the browsers count them, an escaped unpaired surrogate included
// (Firefox sends one for a page's broken text), so that one such text is for
// its member to judge instead of making the whole request unreadable.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zyp::messaging {

struct JsonValue {
  enum class Kind { Null, Boolean, Number, String, Array, Object };
  Kind kind = Kind::Null;
  // Number and String: the value's JSON text exactly as it was sent.
  std::string_view raw;
  // String: the text, with its escapes undone.
  std::u16string text;
  // Array and Object: how many entries it holds.
  std::size_t count = 0;
  // Array: its first entries, as many as the reader keeps, none of them an
  // array or an object.
  std::vector<JsonValue> entries;
};

// Why a text was not read as a request; the reason is the refusal's message.
struct JsonRefusal {
  std::string reason;
};

class JsonObject {
 public:
  // The kept member of that name; null when the object has none.
  const JsonValue* Find(std::string_view name) const;
  JsonValue* Find(std::string_view name);

 private:
  friend JsonObject ReadJsonObject(std::string_view json, const std::vector<std::string_view>& kept,
                                   std::size_t maxEntries);
  std::map<std::string, JsonValue, std::less<>> members_;
};

// Nesting of any value is refused beyond this depth: what the host skips
// must not cost it more than its size.
inline constexpr std::size_t kMaxJsonDepth = 64;

// Reads json, which must be one object (a UTF-8 byte-order mark in front is
// skipped). Of its members, only those named in kept (after their escapes are
// undone) are kept; a kept member whose value is an array or an object may not
// nest further, and its object's members are not kept. Of a kept array, the
// first maxEntries entries are kept and the rest only counted: an array of
// tiny values would otherwise cost many times its text. A member named twice
// keeps its last value. Throws JsonRefusal: "not valid JSON (at byte N)", "not
// a JSON object", "not a request: nested too deeply", or "<name>: nested too
// deeply" for a kept member; the first fault met decides.
JsonObject ReadJsonObject(std::string_view json, const std::vector<std::string_view>& kept, std::size_t maxEntries);

}  // namespace zyp::messaging
