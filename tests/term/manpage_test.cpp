// The manual pages: they format without a warning, and their command list
// holds every topic of the help file and every command of the table.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "kestrim/kestrim.h"
#include "tavo/commands.h"
#include "term_support.h"

namespace {

using termtest::quote;
using termtest::Scratch;

std::string page(const std::string& prog) { return std::string(TK_BINARY_DIR) + "/man/" + prog + ".1"; }

// The first keyword of every help topic ("#HELP, ?, COMMANDS" gives HELP).
std::vector<std::string> helpTopics(const std::string& prog) {
  std::vector<std::string> v;
  std::ifstream f(std::string(TK_SOURCE_DIR) + "/share/" + prog + ".hlp");
  for (std::string l; std::getline(f, l);) {
    if (l.empty() || l[0] != '#') continue;
    std::string t = l.substr(1);
    if (!t.empty() && t[0] == '*') t.erase(0, 1);
    const size_t e = t.find_first_of(" ,");
    v.push_back(t.substr(0, e));
  }
  return v;
}

TEST(ManualPage, FormatsWithoutWarnings) {
  Scratch s;
  for (const std::string prog : {"tavo", "kestrim"}) {
    ASSERT_TRUE(std::filesystem::exists(page(prog))) << page(prog);
    if (termtest::have("groff")) {
      termtest::Result r = s.sh("groff -ww -man -Tutf8 " + quote(page(prog)));
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "") << prog;
    }
    if (termtest::have("mandoc")) {
      termtest::Result r = s.sh("mandoc -T lint -W warning " + quote(page(prog)));
      EXPECT_EQ(r.out + r.err, "") << prog;
    }
    if (termtest::have("man")) {
      termtest::Result r = s.sh("MANWIDTH=80 man -l " + quote(page(prog)) + " | cat");
      EXPECT_EQ(r.status, 0);
      for (const char* sect : {"NAME", "SYNOPSIS", "OPTIONS", "COMMANDS", "CARRIAGE CONTROL",
                               "FILES", "EXIT STATUS", "EXAMPLES"})
        EXPECT_NE(r.out.find(sect), std::string::npos) << prog << " lacks " << sect;
      EXPECT_NE(r.out.find("login." + std::string(prog == "tavo" ? "tcm" : "kcm")), std::string::npos);
      EXPECT_NE(r.out.find("." + prog + "_history"), std::string::npos);
      EXPECT_NE(r.out.find("--strict"), std::string::npos);
    }
  }
}

TEST(ManualPage, ListsEveryHelpTopicAndCommand) {
  for (const std::string prog : {"tavo", "kestrim"}) {
    const std::string text = termtest::slurp(page(prog));
    const std::vector<std::string> topics = helpTopics(prog);
    ASSERT_GT(topics.size(), 40u) << prog;
    std::set<std::string> listed;
    for (const std::string& t : topics) {
      // roff writes "-" as "\-" and a backslash as "\e".
      std::string r;
      for (char c : t) r += c == '-' ? std::string("\\-") : c == '\\' ? std::string("\\e") : std::string(1, c);
      EXPECT_NE(text.find("\n.B " + r), std::string::npos) << prog << " page lacks " << t;
      listed.insert(t);
    }
    // Every word of the command table has its help topic, so its entry.
    const gx::ProgramInfo info = prog == "tavo" ? tavo::program() : kestrim::program();
    for (const std::string& w : info.words) {
      if (w.empty()) continue;
      EXPECT_TRUE(listed.count(w)) << prog << ": no help topic for " << w;
    }
  }
}

TEST(ManualPage, InstalledWithTheProgramsAndHelpFiles) {
  Scratch s;
  const std::string prefix = (s.dir() / "inst").string();
  termtest::Result r = s.sh(quote(TK_CMAKE) + " --install " + quote(TK_BINARY_DIR) +
                            " --prefix " + quote(prefix));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* f : {"bin/tavo", "bin/kestrim", "share/tavo/tavo.hlp", "share/tavo/kestrim.hlp",
                        "share/man/man1/tavo.1", "share/man/man1/kestrim.1"})
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(prefix) / f)) << f;
  EXPECT_EQ(termtest::slurp(prefix + "/share/man/man1/tavo.1"), termtest::slurp(page("tavo")));
}

}  // namespace
