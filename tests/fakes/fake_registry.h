#pragma once
// The current user's hive in memory: keys by path, values by name with the
// registry's case-insensitive names; a key's subkeys are the keys whose path
// continues its own after a backslash. Counts open keys so a test can see that
// every operation closed its handle.
#include <map>
#include <memory>
#include <string>

#include "platform/ascii_text.h"
#include "platform/error.h"
#include "platform/registry.h"

namespace zyp::fakes {

class FakeRegistry : public platform::Registry {
 public:
  struct Value {
    std::u16string name;  // as first written
    platform::RegistryValue value;
  };
  using Key = std::map<std::u16string, Value>;  // folded name -> value

  std::map<std::u16string, Key> keys;  // folded path -> key
  bool refuseWrites = false;
  int openKeys = 0;
  int opens = 0;

  void AddKey(const std::u16string& path) { keys[Fold(path)]; }
  bool HasKey(const std::u16string& path) const { return keys.count(Fold(path)) != 0; }
  void SetString(const std::u16string& path, const std::u16string& name, const std::u16string& text) {
    keys[Fold(path)][Fold(name)] = {name, StringValue(text)};
  }
  void SetRaw(const std::u16string& path, const std::u16string& name, platform::RegistryValue value) {
    keys[Fold(path)][Fold(name)] = {name, std::move(value)};
  }
  // The text of a string value as stored (up to its first NUL), or nothing.
  std::optional<std::u16string> GetString(const std::u16string& path, const std::u16string& name) const {
    const auto key = keys.find(Fold(path));
    if (key == keys.end()) return std::nullopt;
    const auto value = key->second.find(Fold(name));
    if (value == key->second.end()) return std::nullopt;
    std::u16string text;
    const auto& data = value->second.value.data;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
      if (c == 0) break;
      text.push_back(c);
    }
    return text;
  }
  bool HasValue(const std::u16string& path, const std::u16string& name) const {
    return GetString(path, name).has_value();
  }

  std::unique_ptr<platform::RegistryKey> OpenCurrentUserKey(const std::u16string& path) override {
    ++opens;
    const auto key = keys.find(Fold(path));
    if (key == keys.end()) return nullptr;
    return std::make_unique<OpenKey>(*this, key->second);
  }
  std::unique_ptr<platform::RegistryKey> CreateCurrentUserKey(const std::u16string& path) override {
    ++opens;
    if (refuseWrites) throw PlatformError(5, u"Access denied", "RegCreateKeyExW");
    const std::u16string folded = Fold(path);
    // Every missing key above it comes too.
    for (std::size_t at = folded.find(u'\\'); at != std::u16string::npos; at = folded.find(u'\\', at + 1))
      keys[folded.substr(0, at)];
    return std::make_unique<OpenKey>(*this, keys[folded]);
  }
  bool DeleteCurrentUserKey(const std::u16string& path) override {
    const std::u16string folded = Fold(path);
    const auto key = keys.find(folded);
    if (key == keys.end()) return false;
    if (refuseWrites) throw PlatformError(5, u"Access denied", "RegDeleteKeyW");
    // A key with subkeys stays, as the system refuses to delete it.
    const auto below = keys.lower_bound(folded + u'\\');
    if (below != keys.end() && below->first.starts_with(folded + u'\\'))
      throw PlatformError(5, u"Access denied", "RegDeleteKeyW");
    keys.erase(key);
    return true;
  }

 private:
  // REG_SZ data: the text in UTF-16 LE and one terminating NUL.
  static platform::RegistryValue StringValue(const std::u16string& text) {
    platform::RegistryValue value{1, {}};
    for (const char16_t c : text) {
      value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      value.data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
  }
  static std::u16string Fold(const std::u16string& text) {
    std::u16string folded = text;
    for (auto& c : folded) c = AsciiLower(c);
    return folded;
  }

  class OpenKey : public platform::RegistryKey {
   public:
    OpenKey(FakeRegistry& registry, Key& key) : registry_(registry), key_(key) { ++registry_.openKeys; }
    ~OpenKey() override { --registry_.openKeys; }
    std::optional<platform::RegistryValue> Query(const std::u16string& name) override {
      const auto value = key_.find(Fold(name));
      if (value == key_.end()) return std::nullopt;
      return value->second.value;
    }
    void SetString(const std::u16string& name, const std::u16string& text) override {
      if (registry_.refuseWrites) throw PlatformError(5, u"Access denied");
      key_[Fold(name)] = {name, StringValue(text)};
    }
    void DeleteValue(const std::u16string& name) override { key_.erase(Fold(name)); }

   private:
    FakeRegistry& registry_;
    Key& key_;
  };
};

}  // namespace zyp::fakes
