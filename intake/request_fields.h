#pragma once
// The fields of one request, read from its argument list and the registry.
#include <string>

namespace zyp::intake {

struct RequestFields {
  std::u16string Address;
  std::u16string PageTitle;
  std::u16string LinkText;
  std::u16string BrowserTag;
  std::u16string UserAgent;
  bool LoadFromRegistry = false;
  // LinkText when it is not empty, else PageTitle.
  std::u16string ExtraText;
};

}  // namespace zyp::intake
