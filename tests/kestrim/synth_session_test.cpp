// Whole sessions: SYNTH in each mode on a coefficient file, the set reopened
// with DATA and listed with VALUES; and the example coefficient files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "workdir.h"
#include "kestrim/kestrim.h"
#include "kestrim/kq.h"

namespace {

namespace fs = std::filesystem;

class SynthSession : public kqtest::WorkDir {
 protected:
  void SetUp() override {
    WorkDir::SetUp();
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "identity.cof", "identity.cof");
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  }
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST_F(SynthSession, EachModeThenDataAndValues) {
  // identity.cof: unit matrix, object-to-aperture distance 1 m.
  const std::string input =
      "SYNTH/N identity\n2\n16\ns\n10 10\n\n0.2 0.2\n\n\n\nq\n"
      "NTOT\n"
      "SYNTH/N identity\n1\n50\n\n10\n\n0.2\n\n0.5\n0.5 0.5\nq\n"
      "NTOT\n"
      "SYNTH/N identity\n3\n256\ns\n0.2 0.2\n0.2 0.2\n\n\n\nq\n"
      "NTOT\n"
      "DATA identity\n"
      "VALUES 3\n"
      "EXIT\n";
  std::istringstream in(input);
  std::ostringstream out;
  EXPECT_EQ(kestrim::run(in, out), 0);
  const std::string t = out.str();
  EXPECT_NE(t.find("Total number of ray vectors ="), std::string::npos);
  EXPECT_EQ(count(t, "Random (1), Regular (2) or Divergence specified (3) mode (CR for 2) > "), 3u) << t;
  // Regular 81 + 2, random 50 + 2, divergence 625 + 2.
  EXPECT_NE(t.find("      83 rays generated total."), std::string::npos);
  EXPECT_NE(t.find("      52 rays generated total."), std::string::npos);
  EXPECT_NE(t.find("     627 rays generated total."), std::string::npos);
  EXPECT_NE(t.find(" Energy distribution in dist.fit"), std::string::npos);
  EXPECT_TRUE(fs::exists("dist.fit"));
  // DATA reopens the last set; VALUES lists the paraxial pair first.
  EXPECT_NE(t.find("   627 rays in file."), std::string::npos);
  EXPECT_NE(t.find(" C   Object X      Object Th     Object Y      Object Ph   Object DE"), std::string::npos);
  // Ray 2 of the divergence set: a thousandth of the aperture's 1e-4 rad.
  EXPECT_NE(t.find(gx::fG(1e-7, 13, 5, 1)), std::string::npos);
}

TEST_F(SynthSession, MacroDrivesSynthWithTheReviewAndEchoesItsAnswers) {
  std::ofstream("syn.kcm") << "SYNTH S sol\nidentity\ny\n\nn\nn\nn\nn\nn\nn\n2\n16\ns\n10 10\n\n0.2 0.2\n\n\n\nq\n";
  std::istringstream in("@syn\nEXIT\n");
  std::ostringstream out;
  EXPECT_EQ(kestrim::run(in, out), 0);
  const std::string t = out.str();
  EXPECT_NE(t.find(" Solenoid option active."), std::string::npos) << t;
  EXPECT_NE(t.find(" Saving new coefficients in file identity.cof"), std::string::npos);
  EXPECT_TRUE(fs::exists("sol.bin"));
  EXPECT_EQ(fs::file_size("sol.bin"), 108u + 83u * 48u);
  // The saved file still reads as the identity.
  std::istringstream none;
  std::ostringstream sink;
  kestrim::Kestrim k(none, sink);
  std::string name = "identity.cof";
  ASSERT_EQ(kestrim::cofin(k, name), 0);
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(k.bmat(r, c), r == c ? 1.0 : 0.0);
}

TEST_F(SynthSession, ExampleFilesHoldPhysicalSystems) {
  std::istringstream none;
  std::ostringstream sink;
  kestrim::Kestrim k(none, sink);
  std::string id = "identity";
  ASSERT_EQ(kestrim::cofin(k, id), 0);
  double xo, tho, yo, pho;
  kestrim::coftran(k, 1e-6, 2e-3, -3e-6, 4e-3, 1.0, xo, tho, yo, pho);
  EXPECT_EQ(xo, 1e-6);
  EXPECT_EQ(tho, 2e-3);
  EXPECT_EQ(yo, -3e-6);
  EXPECT_EQ(pho, 4e-3);

  std::string tr = "triplet";
  ASSERT_EQ(kestrim::cofin(k, tr), 0);
  const gx::Mat<4, 4> m = kestrim::cof1(k);
  // Liouville: unit determinant in each plane; point-to-point imaging.
  EXPECT_NEAR(m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1), 1.0, 1e-12);
  EXPECT_NEAR(m(3, 3) * m(4, 4) - m(3, 4) * m(4, 3), 1.0, 1e-12);
  EXPECT_EQ(m(1, 2), 0.0);
  EXPECT_EQ(m(3, 4), 0.0);
  double fx, fy;
  kestrim::coffocal(k, fx, fy);
  EXPECT_NEAR(fx, -(-0.05) / (-3.6), 1e-15);
  // Demagnified 20 x 16: a 10 micron object gives a 0.5 by 0.625 micron image.
  kestrim::coftran(k, 5e-6, 0, 5e-6, 0, 0, xo, tho, yo, pho);
  EXPECT_NEAR(xo, -0.25e-6, 1e-15);
  EXPECT_NEAR(yo, -0.3125e-6, 1e-15);
}

}  // namespace

namespace {

TEST_F(SynthSession, AHugeEnergySpreadIsHistogrammedWithoutOverflow) {
  // 1e308 % spread: every deviation has a finite bin, none overflows an int.
  const std::string input = "SYNTH/N identity\n1\n20\n\n10\n\n0.2\n\n1e308\n0.5 0.5\nq\nNTOT\nEXIT\n";
  std::istringstream in(input);
  std::ostringstream out;
  EXPECT_EQ(kestrim::run(in, out), 0);
  const std::string t = out.str();
  EXPECT_NE(t.find("      22 rays generated total."), std::string::npos) << t;
  EXPECT_NE(t.find("Total number of ray vectors =      22"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(SynthSession, AnOutputThatCannotBeOpenedLeavesTheSetAndTheDialogInStep) {
  const std::string input =
      "SYNTH/N identity\n1\n50\n\n10\n\n0.2\n\n0.5\n0.5 0.5\nq\n"
      "SYNTH nodir/rays\nidentity\nn\n1\n77\n\n10\n\n0.2\n\n0.5\n0.5 0.5\nq\nNTOT\nEXIT\n";
  std::istringstream in(input);
  std::ostringstream out;
  EXPECT_EQ(kestrim::run(in, out), 0);
  const std::string t = out.str();
  EXPECT_NE(t.find("Unable to open nodir/rays.bin"), std::string::npos) << t;
  EXPECT_NE(t.find("?KQSYNTH- No ray set written."), std::string::npos);
  // The current set is still the 50 + 2 rays of the first SYNTH.
  EXPECT_NE(t.find("Total number of ray vectors =      52"), std::string::npos);
  // The last answer went to its question, not to the command prompt.
  EXPECT_EQ(t.find("?Q"), std::string::npos);
  EXPECT_FALSE(fs::exists("nodir"));
}

TEST_F(SynthSession, RandomRaysThatKeepMissingAreBoundedInAll) {
  // An object 1000 x 0.001 micron, flux-peaked: about 1e5 draws fall
  // outside the thin ellipse for every ray that passes.
  const std::string input =
      "SYNTH/N identity\n1\n199000\n\n1000 0.001\n\n0.2\n\n\n1 0\nq\nNTOT\nEXIT\n";
  std::istringstream in(input);
  std::ostringstream out;
  EXPECT_EQ(kestrim::run(in, out), 0);
  const std::string t = out.str();
  // The whole run is bounded by its total of rejected draws.
  const bool total = t.find("random rays fell outside the object or aperture; stopped at") != std::string::npos;
  const bool one = t.find("?KQSYNTH- No ray passes the object and aperture in") != std::string::npos;
  EXPECT_TRUE(total || one) << t;
  if (total) {
    EXPECT_NE(t.find("Use fewer rays, a rounder object or aperture, or square apertures."), std::string::npos);
  }
  EXPECT_EQ(t.find("199002 rays generated total."), std::string::npos);
}

}  // namespace
