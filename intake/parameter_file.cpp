#include "intake/parameter_file.h"

#include "cookies/cookie_naming.h"

namespace zyp::intake {

bool IsParameterFilePath(std::u16string_view path) {
  if (path.size() < 4) return false;
  const char16_t drive = path[0] >= u'a' && path[0] <= u'z' ? static_cast<char16_t>(path[0] - 32) : path[0];
  if (drive < u'A' || drive > u'Z' || path[1] != u':' || (path[2] != u'\\' && path[2] != u'/')) return false;
  std::u16string_view name = path.substr(path.find_last_of(u"\\/") + 1);
  // "C:\x\CON:" opens the console as "C:\x\CON" does.
  name = name.substr(0, name.find(u':'));
  return !name.empty() && !cookies::IsReservedDeviceName(name);
}

}  // namespace zyp::intake
