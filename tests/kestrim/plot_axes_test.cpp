// PLOT's axes name their quantity and the unit their ticks are in: the
// limits are metres and radians (and the energy deviation per cent), so
// the titles say so after the letter.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;

class PlotAxes : public kqtest::WorkDir {};

const char* kSynth = "SYNTH/N triplet\n1\n200\nC\n10 10\n0 0\n0.3 0.3\n0 0\n0.5\n0 0\nQ\n";

}  // namespace

TEST_F(PlotAxes, EveryAxisNamesItsQuantityAndUnit) {
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  kqtest::Session s(std::string(kSynth) +
                    "PLOT/Q\nX\nX\nT\n\n\nPLOT/V\nX\nE\nY\n\n\nPLOT/V\nX\nP\nX\n\n\nEXIT\n");
  const std::string ps = kqtest::slurp("plt01.ps");
  EXPECT_NE(ps.find("\n% text: X (m)\n"), std::string::npos) << s.text();
  EXPECT_NE(ps.find("\n% text: T (rad)\n"), std::string::npos);
  const std::string e = kqtest::slurp("plt01.svg"), p = kqtest::slurp("plt02.svg");
  EXPECT_NE(e.find("<title>E (%)</title>"), std::string::npos) << s.text();
  EXPECT_NE(e.find("<title>Y (m)</title>"), std::string::npos);
  EXPECT_NE(p.find("<title>P (rad)</title>"), std::string::npos);
  EXPECT_NE(p.find("<title>X (m)</title>"), std::string::npos);
  // No bare letter is left as a title.
  EXPECT_EQ(ps.find("\n% text: X\n"), std::string::npos);
}
