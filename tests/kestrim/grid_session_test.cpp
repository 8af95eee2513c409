// SHADOW and FIND in whole sessions: which rays a grid passes (holes, bars,
// folding, rotation), the output set with its paraxial pair, and the grid
// angle and coefficients from a shadow pattern.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "gxlib/fortran/fortio.h"
#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class Grid : public kqtest::WorkDir {};

// Beam rays at the reference plane (the grid's plane 0).
std::vector<Ray> beam() {
  auto v = kqtest::imagePair();
  v.push_back({3e-6, 1e-4, 3e-6, 0, 0});      // inside the hole at the origin
  v.push_back({4e-6, 0, 0, 0, 0});            // on the bar
  v.push_back({-3e-6, 0, -3e-6, 0, 0});       // folds onto (3, 3)
  v.push_back({13.7e-6, 0, 0, 0, 0});         // the next hole: 1 micron in
  v.push_back({10e-6, 0, 10e-6, 0, 0});       // corner of the neighbouring holes
  return v;
}

TEST_F(Grid, DefaultGridPassesTheRaysInItsHolesAfterThePair) {
  kqtest::writeSet("b.bin", beam());
  Session s("DATA b\nSHADOW out\n0\n\n\n\n\nY\nEXIT\n");
  EXPECT_EQ(s.rc, 0);
  EXPECT_TRUE(s.has("Hole full width     6.3500    "));
  EXPECT_TRUE(s.has(" Of      7 rays processed,      4 passed through the grid.")) << s.text();
  auto out = kqtest::readSet("out.bin");
  ASSERT_EQ(out.size(), 6u);
  auto b = beam();
  // The pair first, then the passed rays unchanged.
  EXPECT_EQ(out[0], b[0]);
  EXPECT_EQ(out[1], b[1]);
  EXPECT_EQ(out[2], b[2]);
  EXPECT_EQ(out[3], b[4]);
  EXPECT_EQ(out[4], b[5]);
  EXPECT_EQ(out[5], b[6]);
  // The current set stays as it was.
  EXPECT_EQ(s.k.ntot, 7);
}

TEST_F(Grid, QuarterTurnOfASquareGridPassesTheSameRays) {
  kqtest::writeSet("b.bin", beam());
  Session a("DATA b\nSHADOW r0\n0\nH\n12.7\n6.35\n0\nY\nEXIT\n");
  Session b("DATA b\nSHADOW r90\n0\nH\n12.7\n6.35\n90\nY\nEXIT\n");
  EXPECT_EQ(kqtest::readSet("r0.bin"), kqtest::readSet("r90.bin"));
  EXPECT_EQ(kqtest::readSet("r0.bin").size(), 6u);
}

TEST_F(Grid, BarAtTheOriginAndAGridPlaneAwayFromTheSet) {
  auto v = kqtest::imagePair();
  v.push_back({3e-6, 0, 3e-6, 0, 0});     // on the bar
  v.push_back({4e-6, 0, 4e-6, 0, 0});     // in the hole
  v.push_back({0, 4e-3, 0, 4e-3, 0});     // at 1000 micron it is at (4, 4) micron
  kqtest::writeSet("c.bin", v);
  Session s("DATA c\nSHADOW bar\n0\nb\n\n\n\nY\nSHADOW far\n1000\nB\n\n\n\nY\nEXIT\n");
  EXPECT_TRUE(s.has("Grid bar centred at origin."));
  auto near = kqtest::readSet("bar.bin");
  ASSERT_EQ(near.size(), 3u);   // the angled ray starts on the bar
  EXPECT_EQ(near[2], v[3]);
  auto far = kqtest::readSet("far.bin");
  ASSERT_EQ(far.size(), 4u);   // 1000 micron on it has reached a hole
  EXPECT_EQ(far[2], v[3]);
  EXPECT_EQ(far[3], v[4]);
}

TEST_F(Grid, NotProceedingLeavesNoFileAndAPairOnlySetGivesThePair) {
  kqtest::writeSet("b.bin", beam());
  Session s("DATA b\nSHADOW nope\n0\n\n\n\n\nN\nEXIT\n");
  EXPECT_FALSE(fs::exists("nope.bin"));
  kqtest::writeSet("p.bin", kqtest::imagePair());
  Session t("DATA p\nSHADOW\n\n0\n\n\n\n\nY\nEXIT\n");
  EXPECT_TRUE(t.has("Filename for output rayset (CR for ps.bin) > "));
  EXPECT_EQ(kqtest::readSet("ps.bin").size(), 2u);
}

// A system with D01 = M(3,4)/M(4,4) = 0.1 m/rad and the shadow plane 0.1 m
// behind the image: a 12.7 micron grid seen with a 50.8 micron shadow
// period has cos(angle) = 12.7 (0.1 + 0.1) / (0.1 * 50.8) = 0.5.
void findSystem() {
  std::ifstream in(std::string(TK_SOURCE_DIR) + "/examples/identity.cof");
  std::ofstream out("find.cof");
  int n = 0;
  for (std::string l; std::getline(in, l); ++n) {
    if (n == 9) l = "   0.000    ,   0.000    ,   1.000    ,   0.1000   ";
    out << l << "\n";
  }
}

TEST_F(Grid, FindGivesTheGridAngleAndCoefficientsAndKeepsItsAnswers) {
  findSystem();
  Session s("FIND find\nn\n\n0.0508 0\n\n1\n1\nFIND find\nn\n\n\n\n\n\nEXIT\n");
  EXPECT_EQ(s.rc, 0);
  EXPECT_TRUE(s.has("                    D01 =   0.10000     m/rad")) << s.text();
  EXPECT_EQ(s.count("Acute grid angle calculated to be    30.000     degrees"), 2u);
  EXPECT_EQ(s.count("(True angle    60.000     degrees)"), 2u);
  // A1 = p L c / (w cos(t) P tan(t)) = 0.1 / (4 sin 60) = B1 here.
  const std::string a = gx::fG(0.025 / std::sin(M_PI / 3), 13, 5, 1);
  EXPECT_EQ(s.count("(x/th1) = " + a + " m/rad1"), 2u);
  EXPECT_EQ(s.count("(y/ph1) = " + a + " m/rad1"), 2u);
  // The second FIND offers the first one's answers.
  EXPECT_TRUE(s.has("Order of polynomial fitted to grid shadow pattern ( 1 ) > "));
  EXPECT_TRUE(s.has("Period of shadows   5.08000E-02 +/-   0.0000    "));   // mm
}

TEST_F(Grid, FindWithoutCoefficientsStops) {
  Session s("FIND\nnothere\n\nEXIT\n");
  EXPECT_TRUE(s.has("Unable to continue with FIND.\a"));
}

}  // namespace
