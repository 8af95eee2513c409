// A soft-edge coefficient file written by TAVO for the octupole-corrected
// triplet, read and used by KESTRIM: an aperture-edge ray lands where the
// file's own first-, third- and fifth-order terms put it, and once the third
// order is cancelled the fifth order dominates.
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
