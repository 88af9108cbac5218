#include "intake/browser_settings.h"

#include <memory>

#include "platform/error.h"

namespace zyp::intake {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::u16string_view kAgentPrefix = u"ZYPAgent";
constexpr std::u16string_view kFirefoxAgent = u"ZYPAgentFF";
constexpr std::u16string_view kFirefoxTag = u"FF";
constexpr std::u16string_view kPendingPageTitle = u"ZYPPageTitle";
constexpr std::u16string_view kPendingLinkText = u"ZYPLinkText";

// A value that is missing or empty reads as empty text; a string is cut at
// its first NUL and not expanded; any other type ends the operation.
std::u16string ReadString(platform::RegistryKey& key, std::u16string_view name) {
  const auto value = key.Query(std::u16string(name));
  if (!value || value->data.empty()) return {};
  if (value->type != kRegSz && value->type != kRegExpandSz)
    throw Error(u"Invalid data type for '" + std::u16string(name) + u"'");
  std::u16string text;
  text.reserve(value->data.size() / 2);
  for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

// Null when the key is missing or full access to it is refused: either way
// the operation goes on without a key.
std::unique_ptr<platform::RegistryKey> OpenSettingsKey(platform::Registry& registry) {
  try {
    return registry.OpenCurrentUserKey(std::u16string(kSettingsKeyPath));
  } catch (const PlatformError&) {
    return nullptr;
  }
}

// Runs one operation on its own open key. A failing step ends the operation
// silently; what earlier steps set stays set, and the key is closed.
template <typename Steps>
void WithKey(platform::Registry& registry, Steps&& steps) {
  try {
    const std::unique_ptr<platform::RegistryKey> key = OpenSettingsKey(registry);
    steps(key.get());
  } catch (...) {
  }
}

std::u16string AgentValueName(const RequestFields& fields) { return std::u16string(kAgentPrefix) + fields.BrowserTag; }

}  // namespace

void ReadAgentSetting(platform::Registry& registry, RequestFields& fields) {
  WithKey(registry, [&](platform::RegistryKey* key) {
    if (key == nullptr) return;
    fields.UserAgent = ReadString(*key, AgentValueName(fields));
    if (fields.UserAgent.empty()) fields.UserAgent = kDefaultUserAgent;
  });
}

void WriteAgentSetting(platform::Registry& registry, RequestFields& fields) {
  WithKey(registry, [&](platform::RegistryKey* key) {
    if (key == nullptr) return;
    key->SetString(AgentValueName(fields), fields.UserAgent);
  });
}

void LoadPendingSettings(platform::Registry& registry, RequestFields& fields) {
  WithKey(registry, [&](platform::RegistryKey* key) {
    // With the key missing, both pending values read as empty: once asked to
    // load from the registry, the request takes its texts from there alone.
    if (key != nullptr && fields.BrowserTag == kFirefoxTag) fields.UserAgent = ReadString(*key, kFirefoxAgent);
    fields.PageTitle = key != nullptr ? ReadString(*key, kPendingPageTitle) : std::u16string();
    fields.LinkText = key != nullptr ? ReadString(*key, kPendingLinkText) : std::u16string();
    if (key != nullptr) {
      key->DeleteValue(std::u16string(kPendingLinkText));
      key->DeleteValue(std::u16string(kPendingPageTitle));
    }
  });
}

}  // namespace zyp::intake
