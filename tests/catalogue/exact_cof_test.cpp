// A soft-edge coefficient file written by TAVO for the octupole-corrected
// triplet, read and used by KESTRIM: an aperture-edge ray lands where the
// file's own first-, third- and fifth-order terms put it, and once the third
// order is cancelled the fifth order dominates. The worked example of the
// octupole correction, through both programs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kestrim/kq.h"
#include "kestrim/state.h"
#include "tavo/commands.h"
#include "kestrim/kestrim.h"
#include "../tavo/session.h"

namespace {

namespace fs = std::filesystem;

std::vector<double> numbers(const std::string& line) {
  std::vector<double> v;
  std::string t = line;
  for (char& ch : t)
    if (ch == ',') ch = ' ';
  std::istringstream in(t);
  double x;
  while (in >> x) v.push_back(x);
  return v;
}

class ExactCof : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/exact_cof_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = fs::current_path();
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet_oct.tav", dir_ / "triplet_oct.tav");
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  std::vector<std::string> lines(const std::string& name) {
    std::vector<std::string> v;
    std::ifstream f(name);
    for (std::string l; std::getline(f, l);) v.push_back(l);
    return v;
  }
  fs::path dir_, old_;
};

}  // namespace

TEST_F(ExactCof, KestrimMapsTheFifthOrderOfTheCorrectedSoftEdgeFile) {
  {
    std::istringstream in("DIAG -1\nDATA triplet_oct\nEXACT/F\nEXACT/C\nCOFOUT/E octsoft\nC\nEXIT\n");
    std::ostringstream out;
    ASSERT_EQ(tavo::run(in, out), 0);
    ASSERT_NE(out.str().find("Field before"), std::string::npos) << out.str();
  }
  const auto rec = lines("octsoft.cof");
  ASSERT_GE(rec.size(), 22u);
  // Aperture half-angle in x (rad): the collimator's half-width less the
  // object's, over the collimator distance. The x-plane terms (x|theta),
  // (x|theta^3), (x|theta^5) in metres and radians.
  const double a = (numbers(rec[2]).at(0) - numbers(rec[1]).at(0)) / numbers(rec[3]).at(0);
  const double c1 = numbers(rec[7]).at(1);
  const double c3 = numbers(rec[15]).at(0);
  const double c5 = numbers(rec[17]).at(0);
  ASSERT_GT(a, 0.0);
  ASSERT_NE(c5, 0.0);

  std::istringstream kin;
  std::ostringstream kout;
  kestrim::Kestrim k{kin, kout};
  std::string name = "octsoft";
  ASSERT_EQ(kestrim::cofin(k, name), 0) << kout.str();
  for (double t : {a, -a, 0.5 * a}) {
    double xo = 0, tho = 0, yo = 0, pho = 0;
    EXPECT_EQ(kestrim::cofcheck(k, 0.0, 0.999 * t, 0.0, 0.0), 0);
    kestrim::coftran(k, 0.0, t, 0.0, 0.0, 0.0, xo, tho, yo, pho);
    const double first = c1 * t, third = c3 * t * t * t, fifth = c5 * std::pow(t, 5);
    EXPECT_NEAR(xo, first + third + fifth, 1e-6 * std::fabs(fifth)) << t;
    // Midplane symmetry: a ray in the x plane stays there.
    EXPECT_NEAR(yo, 0.0, 1e-6 * std::fabs(fifth));
    if (t == a) {
      // The fifth order is what is left at the aperture edge.
      EXPECT_GT(std::fabs(fifth), std::fabs(third));
      // The refitted system is stigmatic: defocus is not what sets the spot.
      EXPECT_GT(std::fabs(fifth), std::fabs(first));
    }
  }
}

// examples/exact.tcm and exact.kcm: the spot through the soft-edge map with
// the octupoles off, with the fields of the closed-form correction and with
// those of the correction against the map itself. Correcting the aberration
// the fields really have must beat correcting the hard-edge model of them,
// and the fifth order of weak, well-placed octupoles must not undo it.
TEST_F(ExactCof, TheWorkedExampleShrinksTheSpotWithEachCorrection) {
  for (const char* f : {"exact.tcm", "exact.kcm", "octupole_triplet.tav"})
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / f, dir_ / f);
  std::string out;
  {
    std::istringstream in("@exact\n");
    std::ostringstream o;
    ASSERT_EQ(tavo::run(in, o), 0);
    out = o.str();
  }
  // Closed form, hard edge, soft edge of the system's (X/T3) in the first
  // EXACT (after CRAM) and the last (after EXACT/C).
  const size_t first = out.find(" System"), last = out.rfind(" System");
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(first, last) << out;
  const auto cram = abertest::numbersAfter(out.substr(first), "(X/T3)", 3);
  const auto soft = abertest::numbersAfter(out.substr(last), "(X/T3)", 3);
  EXPECT_LT(std::fabs(cram[0]), 1e-4);
  EXPECT_GT(std::fabs(cram[2]), 1e-2);  // the soft edge keeps its own
  EXPECT_LT(std::fabs(soft[2]), 1e-6 * std::fabs(cram[2]));
  EXPECT_GT(std::fabs(soft[0]), 1e-2);  // now the closed form is off
  // Weak octupoles: CRAM's and EXACT/C's fields stay below 0.1 T.
  for (const char* label : {"Octupole  1 =", "Octupole  2 =", "Octupole  3 ="}) {
    const auto b = abertest::numbersAfter(out, label, 1);
    EXPECT_LT(std::fabs(b[0]), 0.1) << label;
  }
  const size_t table = out.find("Change (Tesla)");
  ASSERT_NE(table, std::string::npos) << out;
  std::istringstream rows(out.substr(out.find('\n', table) + 1));
  for (int k = 1; k <= 3; ++k) {
    double n = 0, row = 0, before = 0, after = 0, change = 0;
    ASSERT_TRUE(rows >> n >> row >> before >> after >> change) << out.substr(table);
    EXPECT_EQ(n, k);
    EXPECT_LT(std::fabs(after), 0.1) << "octupole " << k;
  }
  for (const char* f : {"octoff.cof", "octcram.cof", "octsoft.cof"}) {
    const auto rec = lines(f);
    ASSERT_EQ(rec.size(), 22u) << f;
    EXPECT_NE(numbers(rec[17]).at(0), 0.0) << f;  // the fifth order is written
  }

  std::istringstream kin("@exact\nEXIT\n");
  std::ostringstream kout;
  ASSERT_EQ(kestrim::run(kin, kout), 0);
  const std::string k = kout.str();
  std::vector<double> spot;
  for (size_t at = k.find("max. extent is"); at != std::string::npos;
       at = k.find("max. extent is", at + 1))
    spot.push_back(abertest::numbersAfter(k.substr(at), "max. extent is", 1)[0]);
  ASSERT_EQ(spot.size(), 3u) << k;
  EXPECT_LT(spot[1], 0.5 * spot[0]);
  EXPECT_LT(spot[2], 0.01 * spot[1]);
  EXPECT_GT(spot[2], 0.0);
}
