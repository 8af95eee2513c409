// The sessions the documentation teaches, run as they are written there,
// and TRACE's settings typed the way a newcomer types them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"

namespace {

namespace fs = std::filesystem;

class Documented : public abertest::SessionDir {};

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

// The terminal input of the README's first session: each "tav> " line is a
// command, each line ending in a prompt's "> " gives the answer typed there
// (none: Enter); comments in parentheses and their continuation lines are
// not typed.
std::string readmeFirstSession() {
  std::ifstream f(fs::path(TK_SOURCE_DIR) / "README.md");
  std::string line, input;
  bool in = false;
  while (std::getline(f, line)) {
    if (line.rfind("## A first session", 0) == 0) in = true;
    if (!in) continue;
    const size_t c = line.find("  (");
    std::string typed = c == std::string::npos ? line : line.substr(0, c);
    while (!typed.empty() && typed.back() == ' ') typed.pop_back();
    if (typed.rfind("    tav> ", 0) == 0) {
      input += typed.substr(9) + "\n";
      if (typed.substr(9) == "EXIT") break;
    } else if (size_t p = line.find("> "); p != std::string::npos && line.rfind("    ", 0) == 0) {
      std::string answer = line.substr(p + 2);
      const size_t cc = answer.find('(');
      if (cc != std::string::npos) answer = answer.substr(0, cc);
      while (!answer.empty() && answer.back() == ' ') answer.pop_back();
      input += answer + "\n";
    }
  }
  return input;
}

}  // namespace

TEST_F(Documented, TheReadmesFirstSessionRunsAsWritten) {
  const std::string input = readmeFirstSession();
  ASSERT_NE(input.find("TRACE Q\n"), std::string::npos) << input;
  ASSERT_EQ(input.substr(input.size() - 5), "EXIT\n") << input;
  const std::string out = run(input);
  // Each prompt is answered once: nothing typed for the next command lands
  // in a prompt that refuses it.
  EXPECT_EQ(count(out, "Initial and final z-positions"), 1u) << out;
  EXPECT_EQ(count(out, "Extent for plot, mm"), 1u) << out;
  EXPECT_EQ(count(out, "Square or Circular aperture collimator?"), 1u) << out;
  EXPECT_TRUE(fs::exists("mine.cof"));
  EXPECT_TRUE(fs::exists("plt01.ps"));
  // HELP answered with the command list's pointer, then EXIT ended it.
  EXPECT_NE(out.find("\"tav>\" prompt"), std::string::npos) << out;
}

TEST_F(Documented, TraceSettingsWithoutTheSlashAreRefusedWithTheSlashForm) {
  const std::string out = run("DATA triplet\nTRACE O 2\nTRACE W 1.5\nTRACE F 3\nTRACE/O 2\n");
  EXPECT_EQ(count(out, "?TRACE- Settings take a slash: TRACE/O 2 (order)"), 3u) << out;
  // Only the slash form sets the order; nothing was misread before it.
  EXPECT_EQ(count(out, "Order set to"), 1u) << out;
  EXPECT_NE(out.find("Order set to   2"), std::string::npos) << out;
  EXPECT_EQ(out.find("Wait before plot set to"), std::string::npos) << out;
  EXPECT_EQ(out.find("Font set to"), std::string::npos) << out;
}
