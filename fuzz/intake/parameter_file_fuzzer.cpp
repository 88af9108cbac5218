// Any parameter file, with or without its header: reading and parsing it
// never fails, the file is deleted exactly when its header matched, and the
// registry key is never created and never left open.
#include <cstdlib>

#include "cookies/cookie_store.h"
#include "intake/argument_list.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"
#include "tests/fakes/fake_registry.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr char16_t kFile[] = u"C:\\Temp\\p.txt";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses whether the file starts with the header, and
  // whether the settings key exists.
  const bool withHeader = data[0] & 1;
  const bool withKey = data[0] & 2;
  std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
  if (withHeader) content = "ZYP Parameter File\r\n" + content;

  zyp::fakes::FakeFiles files;
  zyp::fakes::FakeLocale locale;
  zyp::fakes::FakeRegistry registry;
  if (withKey) registry.AddKey(u"SOFTWARE\\Tarvesk Software\\Pelloran");
  files.AddFile(kFile, content);
  zyp::cookies::CookieStore cookies(files, locale);

  const zyp::intake::CommandLine commandLine(u"prog " + std::u16string(kFile));
  const auto arguments = zyp::intake::BuildArgumentList(kFile, commandLine, files, locale);
  const auto lines = zyp::intake::DecodeParameterLines({content.begin(), content.end()}, locale);
  const bool headerMatched = !lines.empty() && locale.EqualIgnoreCase(lines[0], u"ZYP Parameter File");
  Check(files.HasFile(kFile) != headerMatched);
  Check(!arguments.empty());
  for (const auto& argument : arguments) Check(argument.find(u'\0') == std::u16string::npos);

  const auto fields = zyp::intake::ParseArgumentList(arguments, {cookies, registry});
  Check(fields.Address == arguments.front());
  Check(fields.ExtraText == (fields.LinkText.empty() ? fields.PageTitle : fields.LinkText));
  Check(registry.HasKey(u"SOFTWARE\\Tarvesk Software\\Pelloran") == withKey);
  Check(registry.openKeys == 0);
  return 0;
}
