// TOLERA: tolerance ensembles of the triplet, through whole sessions.
#include <map>
#include <sstream>

#include "session.h"

namespace abertest {
namespace {

// The manifest as columns by name, one map per variant row.
struct Manifest {
  std::vector<std::map<std::string, std::string>> rows;
  double num(int v, const std::string& col) const { return std::stod(rows.at(v).at(col)); }
};

Manifest readManifest(const fs::path& folder) {
  Manifest m;
  std::ifstream f(folder / "manifest.txt");
  std::string line;
  std::vector<std::string> names;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::vector<std::string> w;
    std::string t;
    while (in >> t) w.push_back(t);
    if (names.empty()) {
      names = w;
      continue;
    }
    std::map<std::string, std::string> r;
    for (size_t k = 0; k < names.size() && k < w.size(); ++k) r[names[k]] = w[k];
    m.rows.push_back(r);
  }
  return m;
}

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The dialog: folder, sizes (dx dy / rot / lens supply / sext oct), law,
// rows, count and seed, shape.
std::string tolera(const std::string& word, const std::string& folder, const std::string& sizes,
                   const std::string& rows, int n, int seed) {
  return word + " " + folder + "\n" + sizes + "\n\n" + rows + "\n" + std::to_string(n) + " " +
         std::to_string(seed) + "\nC\n";
}

class Tolera : public SessionDir {};

TEST_F(Tolera, ZeroSizesGiveTheNominalSystemInEveryVariant) {
  const std::string out =
      run("DATA triplet\n" + tolera("TOLERA", "zero", "0 0\n0\n0 0\n0 0", "", 5, 3) +
          "COFOUT plain\nC\n");
  ASSERT_NE(out.find("Ensemble written to zero"), std::string::npos) << out;
  // The nominal file is COFOUT's file of the same system, and every
  // variant is that file to the last digit.
  const std::string nominal = slurp(dir_ / "zero" / "nominal.cof");
  EXPECT_EQ(nominal, slurp(dir_ / "plain.cof"));
  for (int v = 1; v <= 5; ++v) {
    char name[16];
    std::snprintf(name, sizeof name, "v%04d.cof", v);
    EXPECT_EQ(slurp(dir_ / "zero" / name), nominal) << name;
  }
  const Manifest m = readManifest(dir_ / "zero");
  ASSERT_EQ(m.rows.size(), 6u);
  for (int v = 0; v <= 5; ++v) {
    for (const char* col : {"x0", "th0", "y0", "ph0", "dx.4", "rot.6", "psu.1", "psu.2"})
      EXPECT_EQ(m.rows[v].at(col), "0") << v << " " << col;
    EXPECT_EQ(m.num(v, "field.1"), 0.129905);
    EXPECT_EQ(m.num(v, "field.2"), 0.226126);
  }
}

TEST_F(Tolera, DisplacementShiftsTheImageByTheDisplacementCoefficient) {
  // Only the middle lens (row 6) is displaced, in x alone: the image offset
  // is DISP's first-order coefficient times the displacement drawn.
  const std::string out =
      run("DATA triplet\nDISP 1e-6\n" + tolera("TOLERA", "shift", "2e-6 0\n0\n0 0\n0 0", "6", 20, 11));
  const size_t first = out.find(" 1 Order displacement");
  ASSERT_NE(first, std::string::npos);
  // The line of quadrupole 2 (row 6): number, row, x/a, y/b.
  std::istringstream lines(out.substr(first));
  std::vector<double> c(2, NAN);
  for (std::string l; std::getline(lines, l);) {
    std::istringstream in(l);
    int q = 0, row = 0;
    if (in >> q >> row && q == 2 && row == 6) {
      in >> c[0] >> c[1];
      break;
    }
  }
  ASSERT_TRUE(std::isfinite(c[0]) && c[0] != 0.0) << out;
  const Manifest m = readManifest(dir_ / "shift");
  ASSERT_EQ(m.rows.size(), 21u);
  double spread = 0.0;
  for (int v = 1; v <= 20; ++v) {
    const double d = m.num(v, "dx.6");
    spread += d * d;
    EXPECT_EQ(m.num(v, "dy.6"), 0.0);
    EXPECT_NEAR(m.num(v, "x0"), c[0] * d, 1e-4 * std::fabs(c[0] * d) + 1e-15) << v;
    EXPECT_NEAR(m.num(v, "y0"), 0.0, 1e-18);
  }
  // The drawn displacements have about the rms asked for (20 draws).
  EXPECT_NEAR(std::sqrt(spread / 20.0), 2e-6, 0.8e-6);
}

TEST_F(Tolera, RefocusingUndoesASupplyError) {
  // Supply errors alone: Q1 and Q3 share supply 1, Q2 has supply 2. The
  // operator's refit restores the image, which for a pure supply error
  // means the fit variable times (1 + error) is the nominal field again.
  run("DATA triplet\n" + tolera("TOLERA", "psu", "0 0\n0\n0 1e-3\n0 0", "", 8, 5));
  const Manifest m = readManifest(dir_ / "psu");
  ASSERT_EQ(m.rows.size(), 9u);
  int moved = 0;
  for (int v = 1; v <= 8; ++v) {
    EXPECT_EQ(m.rows[v].at("refocused"), "1");
    const double e1 = m.num(v, "psu.1"), e2 = m.num(v, "psu.2");
    moved += e1 != 0.0;
    EXPECT_NEAR(m.num(v, "field.1") * (1.0 + e1), 0.129905, 1e-10) << v;
    EXPECT_NEAR(m.num(v, "field.2") * (1.0 + e2), 0.226126, 1e-10) << v;
  }
  EXPECT_EQ(moved, 8);
}

TEST_F(Tolera, SameSeedSameEnsembleOtherSeedAnother) {
  const std::string sizes = "1e-6 1e-6\n1e-4\n1e-4 1e-4\n1e-3 1e-3";
  run("DATA triplet\n" + tolera("TOLERA", "a", sizes, "", 6, 42) +
      tolera("TOLERA", "b", sizes, "", 6, 42) + tolera("TOLERA", "c", sizes, "", 6, 43));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_ / "a")) names.push_back(e.path().filename());
  ASSERT_EQ(names.size(), 8u);
  for (const auto& n : names) EXPECT_EQ(slurp(dir_ / "a" / n), slurp(dir_ / "b" / n)) << n;
  EXPECT_NE(slurp(dir_ / "a" / "v0001.cof"), slurp(dir_ / "c" / "v0001.cof"));
  // Gaussian errors cut at 3 sigma: no draw beyond 3 sigma of the parent.
  const Manifest m = readManifest(dir_ / "a");
  for (int v = 1; v <= 6; ++v)
    for (const char* col : {"dx.4", "dy.8", "rot.6"})
      EXPECT_LE(std::fabs(m.num(v, col)) / (col[0] == 'r' ? 1e-4 : 1e-6), 3.0 / 0.98657839);
}

TEST_F(Tolera, ExactMapsKeepTheirConstantTermsInTheManifest) {
  // A displaced lens in the soft-edged map: the map's constant term is the
  // image offset, close to the closed form's (they differ by the fringes).
  const std::string sizes = "2e-6 2e-6\n0\n0 0\n0 0";
  run("DATA triplet\n" + tolera("TOLERA", "closed", sizes, "4", 2, 9) +
      tolera("TOLERA/E", "soft", sizes, "4", 1, 9));
  const Manifest c = readManifest(dir_ / "closed"), s = readManifest(dir_ / "soft");
  ASSERT_EQ(s.rows.size(), 2u);
  for (int v = 1; v <= 1; ++v) {
    EXPECT_EQ(c.rows[v].at("dx.4"), s.rows[v].at("dx.4"));
    EXPECT_NEAR(s.num(v, "x0"), c.num(v, "x0"), 0.2 * std::fabs(c.num(v, "x0")));
    EXPECT_NEAR(s.num(v, "y0"), c.num(v, "y0"), 0.2 * std::fabs(c.num(v, "y0")));
  }
  EXPECT_NE(slurp(dir_ / "soft" / "v0001.cof").find("0,0,0,0,0,0"), 0u);
}

TEST_F(Tolera, BadInputNeverOverwritesAndLeavesNothingHalfWritten) {
  fs::create_directory(dir_ / "taken");
  std::ofstream(dir_ / "taken" / "keep.txt") << "mine\n";
  std::ofstream(dir_ / "file") << "a file\n";
  const std::string out = run(
      "TOLERA x\n"                       // no system yet
      "DATA triplet\n"
      "TOLERA taken\n"                   // exists: asked again at the terminal
      "file\n"                           // a file of that name: asked again
      "new\n"
      "-1 0\n0 0\n"                      // a negative size is refused
      "x\n0\n0 0\n0 0\n\n"
      "5 7\n"                            // row 5 is a drift
      "4 8\n"
      "0 1\n"                            // no variants: refused
      "3 1\nC\n");
  EXPECT_NE(out.find("No lens system loaded"), std::string::npos);
  EXPECT_NE(out.find("?TOLERA- taken already exists."), std::string::npos);
  EXPECT_NE(out.find("?TOLERA- file already exists."), std::string::npos);
  EXPECT_NE(out.find("?TOLERA- An rms size must be a number not below 0."), std::string::npos);
  EXPECT_NE(out.find("?TOLERA- 5 is not the row of a lens."), std::string::npos);
  EXPECT_NE(out.find("?TOLERA- The number of variants is a whole number"), std::string::npos);
  EXPECT_NE(out.find("Ensemble written to new"), std::string::npos) << out;
  EXPECT_EQ(slurp(dir_ / "taken" / "keep.txt"), "mine\n");
  EXPECT_EQ(slurp(dir_ / "file"), "a file\n");
  EXPECT_EQ(readManifest(dir_ / "new").rows.size(), 4u);
  // The input ending in the dialog leaves no folder and no temporary.
  run("DATA triplet\nTOLERA cut\n1e-6 1e-6\n");
  for (const auto& f : files()) EXPECT_EQ(f.find("cut"), std::string::npos) << f;
}

}  // namespace
}  // namespace abertest
