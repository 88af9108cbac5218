// Times the cookie list merge on long lists and prints how the time grows per
// tenfold list length. Exits with 1 when a tenfold list takes more than 12
// times as long, which no linear merge does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "cookies/cookie_merge.h"

#ifdef _WIN32
#include "platform/win32/system_locale.h"
using BenchLocale = zyp::win32::SystemLocale;
constexpr const char* kLocaleName = "the user's locale";
#else
#include "tests/fakes/fake_locale.h"
using BenchLocale = zyp::fakes::FakeLocale;
constexpr const char* kLocaleName = "ASCII folding";
#endif

namespace {

// Seven digits for every number, so that a list ten times as long has ten
// times as many characters, not more.
std::u16string Number(int n) {
  std::string digits = std::to_string(n);
  digits.insert(0, 7 - digits.size(), '0');
  return std::u16string(digits.begin(), digits.end());
}

std::u16string DistinctNames(int count) {
  std::u16string list;
  for (int i = 0; i < count; ++i) list += u"cookie" + Number(i) + u"=value" + Number(i) + u"; ";
  return list;
}

// One name in as many letter-case variants as asked for.
std::u16string CaseVariants(int count) {
  std::u16string list;
  for (int i = 0; i < count; ++i) {
    std::u16string name = u"sessionidentifier";
    for (std::size_t bit = 0; bit < name.size(); ++bit)
      if (i & (1 << bit)) name[bit] = static_cast<char16_t>(name[bit] - 32);
    list += name + u"=value" + Number(i) + u"; ";
  }
  return list;
}

// The best of several runs, in seconds, so that other work on the machine
// counts as little as it can; short lists are timed more often.
double Time(const std::u16string& list, int names, BenchLocale& locale) {
  const int runs = std::clamp(1000000 / names, 3, 20);
  double best = 1e9;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const std::u16string line = zyp::cookies::MergeCookieList(list, locale);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (line.empty()) std::printf("empty line\n");
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main() {
  BenchLocale locale;
  std::printf("cookie list merge, names compared by %s\n", kLocaleName);
  const int sizes[] = {10000, 100000, 1000000};
  double times[3];
  for (int i = 0; i < 3; ++i) {
    times[i] = Time(DistinctNames(sizes[i]), sizes[i], locale);
    std::printf("%8d distinct names: %9.1f ms\n", sizes[i], times[i] * 1000);
  }
  const double caseTime = Time(CaseVariants(100000), 100000, locale);
  std::printf("%8d letter-case variants of one name: %9.1f ms\n", 100000, caseTime * 1000);

  const double ratio5 = times[1] / times[0];
  const double ratio6 = times[2] / times[1];
  std::printf("ratio 10^5 / 10^4 names: %.2f\n", ratio5);
  std::printf("ratio 10^6 / 10^5 names: %.2f\n", ratio6);
  std::printf("ratio case variants / distinct names, 10^5 each: %.2f\n", caseTime / times[1]);
  const bool linear = ratio5 <= 12 && ratio6 <= 12;
  std::printf("%s\n", linear ? "linear" : "NOT LINEAR: a tenfold list took more than 12 times as long");
  return linear ? 0 : 1;
}
