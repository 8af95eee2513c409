// Plot files named with DEFINE: a named file is never replaced by a later
// plot, and the run counter of the numbered files advances only for them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "session.h"

namespace {

namespace fs = std::filesystem;

class PlotNames : public abertest::SessionDir {
 protected:
  static std::string slurp(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  static size_t count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
  }
};

// Each trace asks two questions; Enter takes the offered range.
constexpr const char* kTrace = "\n\n";

TEST_F(PlotNames, ANamedPostScriptFileIsNeverReplaced) {
  const std::string first =
      run(std::string("DATA triplet\nDEFINE/Q fig.ps\nTRACE Q\n") + kTrace + "CLOSE\n");
  ASSERT_TRUE(fs::exists("fig.ps")) << first;
  const std::string kept = slurp("fig.ps");
  // A later plot in the same session (the file open, then closed by the
  // next plot) and one in a new session both meet the existing file.
  const std::string out = run(std::string("DATA triplet\nDEFINE/Q fig.ps\nTRACE Q\n") + kTrace +
                              "TRACE Q\n" + kTrace + "DEFINE/Q *\nTRACE Q\n" + kTrace + "EXIT\n");
  EXPECT_EQ(count(out, " ?PSSTART- Unable to open plot file fig.ps (it exists); DEFINE/Q another "
                       "name, or DEFINE/Q * for numbered files."),
            2u)
      << out;
  EXPECT_EQ(slurp("fig.ps"), kept);
  // The counter never moved for the named plots: the first numbered file
  // is the first of its series.
  EXPECT_TRUE(fs::exists("plt01.ps")) << out;
  EXPECT_FALSE(fs::exists("plt02.ps"));
  EXPECT_EQ(slurp("num.ps"), "    1\n");
}

TEST_F(PlotNames, SvgAndHpglNamesAreKeptToo) {
  const std::string out =
      run(std::string("DATA triplet\nDEFINE/V fig\nDEFINE/H fig\nTRACE V\n") + kTrace +
          "TRACE H\n" + kTrace + "CLOSE\nTRACE V\n" + kTrace + "TRACE H\n" + kTrace + "EXIT\n");
  EXPECT_TRUE(fs::exists("fig.svg"));
  EXPECT_TRUE(fs::exists("fig.hgl"));
  EXPECT_EQ(count(out, " ?SVGSTART- Unable to open plot file fig.svg (it exists)"), 1u) << out;
  EXPECT_EQ(count(out, " ?HPSTART- Unable to open plot file fig.hgl (it exists)"), 1u) << out;
  EXPECT_FALSE(fs::exists("svgnum.run"));
  EXPECT_FALSE(fs::exists("hpnum.hgl"));
  EXPECT_FALSE(fs::exists("num.svg"));
}

// In a macro the refusal is a failed command: the macro is left there, so
// the answers meant for the plot never run as commands.
TEST_F(PlotNames, ARefusedPlotEndsItsMacro) {
  { std::ofstream("fig.ps") << "the user's own file\n"; }
  { std::ofstream("p.tcm") << "DATA triplet\nDEFINE/Q fig.ps\nTRACE Q\n\n\nCAP\nkept\n"; }
  const std::string out = run("@p\nEXIT\n");
  EXPECT_NE(out.find("Unable to open plot file fig.ps (it exists)"), std::string::npos) << out;
  EXPECT_NE(out.find("Line 3 of p.tcm: the command failed"), std::string::npos) << out;
  EXPECT_EQ(out.find("New>"), std::string::npos) << out;
  EXPECT_EQ(slurp("fig.ps"), "the user's own file\n");
}

}  // namespace
