#pragma once
// Per-browser user agents and the page title and link text that a caller can
// leave for the next request, in the key "SOFTWARE\Tarvesk Software\Pelloran"
// of the current user's hive. The key is only ever opened, never created, and
// no registry problem is ever reported: a failing step ends its operation.
#include <string_view>

#include "intake/request_fields.h"
#include "platform/registry.h"

namespace zyp::intake {

inline constexpr std::u16string_view kSettingsKeyPath = u"SOFTWARE\\Tarvesk Software\\Pelloran";
inline constexpr std::u16string_view kDefaultUserAgent = u"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// UserAgent from "ZYPAgent" + BrowserTag, DefaultUserAgent when that is empty.
void ReadAgentSetting(platform::Registry& registry, RequestFields& fields);
// UserAgent into "ZYPAgent" + BrowserTag.
void WriteAgentSetting(platform::Registry& registry, RequestFields& fields);
// UserAgent from "ZYPAgentFF" (tag exactly FF), PageTitle and LinkText from
// the pending values, which are then deleted.
void LoadPendingSettings(platform::Registry& registry, RequestFields& fields);

}  // namespace zyp::intake
