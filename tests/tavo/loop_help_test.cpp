// The shipped help file: an entry for every command, in the help-file
// format, reachable through HELP.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tavo/commands.h"

namespace {

struct Entry {
  std::vector<std::string> keywords;
  std::vector<std::string> text;
};

std::vector<Entry> readHelp(const std::string& path) {
  std::ifstream f(path);
  std::vector<Entry> entries;
  std::string line;
  while (std::getline(f, line)) {
    if (!line.empty() && line[0] == '#') {
      Entry e;
      std::string t = line.substr(1);
      if (!t.empty() && t[0] == '*') t.erase(0, 1);
      for (char& c : t)
        if (c == ',') c = ' ';
      std::istringstream words(t);
      for (std::string w; words >> w;) e.keywords.push_back(w);
      entries.push_back(e);
    } else if (!entries.empty()) {
      entries.back().text.push_back(line);
    }
  }
  return entries;
}

const std::string kHelpFile = std::string(TK_SOURCE_DIR) + "/share/tavo.hlp";

TEST(LoopHelpFile, EveryCommandHasAnEntryWithAnExample) {
  const std::vector<Entry> entries = readHelp(kHelpFile);
  ASSERT_FALSE(entries.empty()) << kHelpFile;
  std::map<std::string, const Entry*> byName;
  for (const Entry& e : entries) {
    ASSERT_FALSE(e.keywords.empty());
    byName[e.keywords.front()] = &e;
  }
  for (int i = 0; i < 60; ++i) {
    const std::string w = tavo::kCommands[i].word;
    if (w.empty()) continue;
    auto it = byName.find(w);
    ASSERT_NE(it, byName.end()) << "no help entry for " << w;
    const Entry& e = *it->second;
    int prose = 0;
    bool example = false;
    for (const std::string& l : e.text) {
      if (l.rfind("Example:", 0) == 0) example = true;
      else if (!l.empty()) ++prose;
    }
    EXPECT_GE(prose, 1) << w;
    EXPECT_TRUE(example) << w;
    for (const std::string& l : e.text) EXPECT_LE(l.size(), 80u) << w << ": " << l;
    // One entry fits on a screen without the pager, so that HELP word in a
    // macro never eats the macro's next line.
    EXPECT_LT(e.text.size(), 20u) << w;
  }
}

TEST(LoopHelpFile, HelpListsAndShowsTheShippedEntries) {
  char t[] = "/tmp/tavo_helpXXXXXX";
  const std::string dir = mkdtemp(t);
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  std::istringstream in("HELP\nHELP/B\nHELP CAP\nHELP @\n");
  std::ostringstream out;
  EXPECT_EQ(tavo::run(in, out, false), 0);
  std::filesystem::current_path(old);
  std::filesystem::remove_all(dir);
  const std::string o = out.str();
  EXPECT_NE(o.find(" TAVO designs probe-forming lens systems."), std::string::npos) << o;
  EXPECT_NE(o.find(" List of keywords for help information:"), std::string::npos);
  EXPECT_NE(o.find(" HELP      P         PTF       S         STIG      EXIT      \n"),
            std::string::npos)
      << o;
  EXPECT_NE(o.find(" CAP shows the title of the system"), std::string::npos);
  EXPECT_NE(o.find(" @name runs the commands in the file name.tcm"), std::string::npos);
  EXPECT_EQ(o.find("No help information available"), std::string::npos);
}

}  // namespace
