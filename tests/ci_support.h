// A case that needs what only some machines allow (a mount namespace, a bind
// mount) is skipped at a developer's desk, but in CI, where the machine is
// ours to set up, the missing capability fails the run.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace citest {
inline bool inCi() {
  const char* ci = std::getenv("CI");
  return ci && *ci && std::string_view(ci) != "0" && std::string_view(ci) != "false";
}
}  // namespace citest

#define TK_SKIP_OUTSIDE_CI(why)                     \
  do {                                              \
    if (citest::inCi()) GTEST_FAIL() << (why);      \
    GTEST_SKIP() << (why);                          \
  } while (0)
