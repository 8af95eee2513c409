// OPMD: ray sets to openPMD particle files and back, files from other codes
// read through the momentum formulas, and files that cannot be used.
#include <hdf5.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "session.h"
#include "workdir.h"
#include "kestrim/openpmd.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class Opmd : public kqtest::WorkDir {};

// Rays that a round trip could spoil: signed zeros, a subnormal, values
// near the ends of the double range, a NaN from an overflowed map, and
// slopes far from paraxial.
std::vector<Ray> awkwardSet() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  return {Ray{0, 0, 0, 0, 0},
          Ray{-1e-18, -3.07692e-7, 2e-18, -2.46154e-7, 0},
          Ray{-0.0, 0.1 + 0.2, 1e-6 / 3.0, -0.0, -0.0},
          Ray{4.9406564584124654e-324, 1e-300, -1e300, 2.0 / 3.0, 12.5},
          Ray{1.0 / 7.0, 3.0, -2.5e-5, -7.0, -99.5},
          Ray{nan, 1e-3, 2e-6, nan, 0.25}};
}

bool sameBits(const std::vector<Ray>& a, const std::vector<Ray>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < 5; ++j)
      if (std::bit_cast<std::uint64_t>(a[i][j]) != std::bit_cast<std::uint64_t>(b[i][j]))
        return false;
  return true;
}

TEST_F(Opmd, RoundTripThroughTheCommandIsExactToTheBit) {
  const std::vector<Ray> rays = awkwardSet();
  kqtest::writeSet("set.bin", rays, "Awkward rays");
  Session s("DATA set\nOPMD/W set\nproton\n3\nOPMD/R set.h5 back\nNTOT\nEXIT\n");
  EXPECT_TRUE(s.has("rays written to set.h5 (proton, 3.00000 MeV)")) << s.text();
  EXPECT_TRUE(s.has("rays read from set.h5 (proton, 3.00000 MeV) into back.bin")) << s.text();
  EXPECT_TRUE(s.has("Caption: Awkward rays"));
  EXPECT_TRUE(sameBits(kqtest::readSet("back.bin"), rays));
  // The set read back is the current one, with every ray.
  EXPECT_TRUE(s.has("Total number of ray vectors =       6")) << s.text();
  // The written set's own file is byte for byte the original.
  EXPECT_EQ(kqtest::slurp("back.bin"), kqtest::slurp("set.bin"));
}

TEST_F(Opmd, RoundTripOfAnIonAndAnElectronThroughTheLibrary) {
  std::vector<double> flat;
  for (const Ray& r : awkwardSet()) flat.insert(flat.end(), r.begin(), r.end());
  for (const auto& sp : {kestrim::opmd::Species{"#4He", 2, 4.001506},
                         kestrim::opmd::Species{"electron", -1, 5.48579909065e-4}}) {
    kestrim::opmd::Beam beam{sp, 0.5, 1e-12, "caption"};
    const std::string name = sp.type == "electron" ? "e.h5" : "he.h5";
    ASSERT_EQ(kestrim::opmd::write(name, flat, beam, true), "");
    kestrim::opmd::Read r;
    ASSERT_EQ(kestrim::opmd::read(name, 0, "", r), "");
    ASSERT_EQ(r.rays.size(), flat.size());
    for (size_t i = 0; i < flat.size(); ++i)
      EXPECT_EQ(std::bit_cast<std::uint64_t>(r.rays[i]), std::bit_cast<std::uint64_t>(flat[i])) << i;
    EXPECT_EQ(r.beam.species.type, sp.type);
    EXPECT_EQ(r.beam.species.charge, sp.charge);
    EXPECT_NEAR(r.beam.species.massAmu, sp.massAmu, 1e-12 * sp.massAmu);
    EXPECT_DOUBLE_EQ(r.beam.energyMeV, 0.5);
    EXPECT_DOUBLE_EQ(r.beam.totalCharge, 1e-12);
    EXPECT_TRUE(r.ownRecords);
  }
}

TEST_F(Opmd, AnExistingFileIsNeverReplaced) {
  kqtest::writeSet("set.bin", kqtest::imagePair());
  { std::ofstream("set.h5") << "precious"; }
  Session s("DATA set\nOPMD/W set\nEXIT\n");
  EXPECT_TRUE(s.has("?OPMD- set.h5 already exists; it is not replaced.")) << s.text();
  EXPECT_EQ(kqtest::slurp("set.h5"), "precious");
  // Nor a ray set when reading.
  std::vector<double> flat(10, 0.0);
  ASSERT_EQ(kestrim::opmd::write("in.h5", flat, {{"proton", 1, 1.007276466621}, 1, NAN, ""}, true), "");
  { std::ofstream("in.bin") << "precious"; }
  Session r("OPMD/R in.h5\nEXIT\n");
  EXPECT_TRUE(r.has("?OPMD- in.bin already exists")) << r.text();
  EXPECT_EQ(kqtest::slurp("in.bin"), "precious");
  // Nothing to write without a current set.
  Session none("OPMD/W x\nEXIT\n");
  EXPECT_TRUE(none.has("?OPMD- No current ray set")) << none.text();
  EXPECT_FALSE(fs::exists("x.h5"));
}

// ---- files as another code would write them ----

struct H5 {
  hid_t id;
  herr_t (*close)(hid_t);
  ~H5() {
    if (id >= 0) close(id);
  }
};

void attr(hid_t obj, const char* name, const std::string& v) {
  hid_t t = H5Tcopy(H5T_C_S1);
  H5Tset_size(t, v.size());
  hid_t s = H5Screate(H5S_SCALAR);
  hid_t a = H5Acreate2(obj, name, t, s, H5P_DEFAULT, H5P_DEFAULT);
  H5Awrite(a, t, v.data());
  H5Aclose(a), H5Sclose(s), H5Tclose(t);
}
void attr(hid_t obj, const char* name, double v) {
  hid_t s = H5Screate(H5S_SCALAR);
  hid_t a = H5Acreate2(obj, name, H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, H5P_DEFAULT);
  H5Awrite(a, H5T_NATIVE_DOUBLE, &v);
  H5Aclose(a), H5Sclose(s);
}
void data(hid_t g, const char* name, const std::vector<double>& v) {
  hsize_t n = v.size();
  hid_t s = H5Screate_simple(1, &n, nullptr);
  hid_t d = H5Dcreate2(g, name, H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
  attr(d, "unitSI", 1.0);
  H5Dclose(d), H5Sclose(s);
}
hid_t grp(hid_t p, const std::string& n) {
  return H5Gcreate2(p, n.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
}

struct Particle {
  double x, y, z, px, py, pz;
};

// A bunch of one species in each iteration given.
void foreign(const std::string& name, const std::vector<std::string>& iterations,
             const std::vector<std::string>& species, const std::vector<Particle>& ps,
             const std::vector<double>& status = {}) {
  H5 f{H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose};
  attr(f.id, "openPMD", "2.0.0");
  attr(f.id, "openPMDextension", "BeamPhysics;SpeciesType");
  attr(f.id, "basePath", "/data/%T/");
  attr(f.id, "particlesPath", "particles/");
  H5 d{grp(f.id, "data"), H5Gclose};
  for (const std::string& it : iterations) {
    H5 g{grp(d.id, it), H5Gclose};
    H5 p{grp(g.id, "particles"), H5Gclose};
    for (const std::string& sp : species) {
      H5 s{grp(p.id, sp), H5Gclose};
      attr(s.id, "speciesType", sp);
      attr(s.id, "numParticles", static_cast<double>(ps.size()));
      std::vector<double> c[6];
      for (const Particle& q : ps)
        for (int i = 0; i < 6; ++i) c[i].push_back((&q.x)[i]);
      H5 pos{grp(s.id, "position"), H5Gclose};
      data(pos.id, "x", c[0]), data(pos.id, "y", c[1]), data(pos.id, "z", c[2]);
      H5 mom{grp(s.id, "momentum"), H5Gclose};
      data(mom.id, "x", c[3]), data(mom.id, "y", c[4]), data(mom.id, "z", c[5]);
      if (!status.empty()) data(s.id, "particleStatus", status);
    }
  }
}

constexpr double kC = 299792458.0;
constexpr double kMeV = 1.602176634e-13;
constexpr double kMp = 1.007276466621 * 1.66053906660e-27;   // proton (kg)

// Momentum of a proton of kinetic energy T (MeV), from E^2 = p^2c^2 + m^2c^4.
double protonMomentum(double t) {
  const double e = t * kMeV + kMp * kC * kC;
  return std::sqrt(e * e - std::pow(kMp * kC * kC, 2)) / kC;
}

TEST_F(Opmd, AnotherCodesBunchBecomesSlopesAndEnergyDeviations) {
  // Three protons at one plane: on axis at 2 MeV (the mean momentum is
  // taken as the reference when the file gives none, so the three are
  // chosen to average to it), one at 2.02 MeV with slopes, one at its
  // partner's energy below. A dead one (status 0) is left out.
  const double p0 = protonMomentum(2.0);
  const double pa = protonMomentum(2.02);
  const double pb = 3 * p0 - p0 - pa;   // mean momentum p0
  const double tx = 0.01, ty = -0.02;
  const double pza = pa / std::sqrt(1 + tx * tx + ty * ty);
  foreign("beam.h5", {"7"}, {"proton"},
          {{1e-6, -2e-6, 0.5, 0, 0, p0}, {0, 0, 0.5, pza * tx, pza * ty, pza},
           {3e-6, 0, 0.5, 0, 0, pb}, {9, 9, 0.5, 0, 0, p0}},
          {1, 1, 1, 0});
  Session s("OPMD/R beam\nVALUES\nEXIT\n");
  EXPECT_TRUE(s.has("%OPMD- 1 particles whose particleStatus is not 1 are left out.")) << s.text();
  EXPECT_TRUE(s.has("%OPMD- No reference momentum in the file")) << s.text();
  EXPECT_TRUE(s.has("%OPMD- The file has no paraxial pair")) << s.text();
  const std::vector<Ray> rays = kqtest::readSet("beam.bin");
  ASSERT_EQ(rays.size(), 5u);
  // The pair in front: both rays through the axis at the file's plane.
  EXPECT_EQ(rays[0], (Ray{0, 0, 0, 0, 0}));
  EXPECT_EQ(rays[1], (Ray{0, 1e-3, 0, 1e-3, 0}));
  EXPECT_EQ(rays[2][0], 1e-6);
  EXPECT_EQ(rays[2][2], -2e-6);
  EXPECT_NEAR(rays[2][4], 0.0, 1e-9);
  EXPECT_NEAR(rays[3][1], tx, 1e-15);
  EXPECT_NEAR(rays[3][3], ty, 1e-15);
  EXPECT_NEAR(rays[3][4], 1.0, 1e-9);   // 2.02 MeV against 2 MeV: +1 %
  // Kinetic energy of the third from its momentum, by hand.
  const double tb = (std::sqrt(std::pow(pb * kC, 2) + std::pow(kMp * kC * kC, 2)) - kMp * kC * kC) / kMeV;
  EXPECT_NEAR(rays[4][4], 100 * (tb - 2.0) / 2.0, 1e-8);
}

TEST_F(Opmd, WrittenMomentaFollowFromEnergyAndSlopes) {
  // A ray at +1 % of 2 MeV with slopes 0.01, -0.02: read back through the
  // formulas alone (the exact records removed) it gives the same ray.
  std::vector<double> flat = {0, 0, 0, 0, 0, 0, 1e-3, 0, 1e-3, 0, 2e-6, 0.01, -1e-6, -0.02, 1.0};
  ASSERT_EQ(kestrim::opmd::write("w.h5", flat, {{"proton", 1, 1.007276466621}, 2.0, NAN, "w"}, true), "");
  {
    H5 f{H5Fopen("w.h5", H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose};
    ASSERT_GE(f.id, 0);
    const char* sp = "data/0/particles/proton/";
    for (const char* rec : {"slope", "energyDeviation"})
      EXPECT_GE(H5Ldelete(f.id, (std::string(sp) + rec).c_str(), H5P_DEFAULT), 0);
    // Momentum of the third particle, checked against the hand formula.
    H5 d{H5Dopen2(f.id, (std::string(sp) + "momentum/z").c_str(), H5P_DEFAULT), H5Dclose};
    std::vector<double> pz(3);
    H5Dread(d.id, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, pz.data());
    EXPECT_NEAR(pz[2], protonMomentum(2.02) / std::sqrt(1 + 1e-4 + 4e-4), 1e-12 * pz[2]);
  }
  kestrim::opmd::Read r;
  ASSERT_EQ(kestrim::opmd::read("w.h5", 0, "", r), "");
  EXPECT_FALSE(r.ownRecords);
  ASSERT_EQ(r.rays.size(), flat.size());
  for (size_t i = 0; i < flat.size(); ++i) EXPECT_NEAR(r.rays[i], flat[i], 1e-12) << i;
}

TEST_F(Opmd, SeveralIterationsAndGroupsAreChosenByTheUser) {
  const double p = protonMomentum(1.0);
  foreign("multi.h5", {"0", "10", "20"}, {"proton", "electron"}, {{1e-6, 0, 0, 0, 0, p}});
  Session s("OPMD/R multi\n5\n10\nneutron\nproton\nNTOT\nEXIT\n");
  EXPECT_TRUE(s.has("multi.h5 holds 3 iterations: 0 10 20")) << s.text();
  EXPECT_TRUE(s.has("Particle groups: electron proton")) << s.text();
  // 5 and neutron are not in the file: asked again.
  EXPECT_EQ(s.count("Iteration > "), 2u) << s.text();
  EXPECT_EQ(s.count("Particle group > "), 2u) << s.text();
  EXPECT_TRUE(s.has("rays read from multi.h5 (proton")) << s.text();
  EXPECT_TRUE(s.has("Total number of ray vectors =       3")) << s.text();
  // Through the library, a missing choice is an error that names them.
  kestrim::opmd::Read r;
  EXPECT_NE(kestrim::opmd::read("multi.h5", std::numeric_limits<std::uint64_t>::max(), "", r)
                .find("holds 3 iterations (0, 10, 20): name the one to read"),
            std::string::npos);
  EXPECT_NE(kestrim::opmd::read("multi.h5", 10, "", r).find("2 particle groups"), std::string::npos);
}

TEST_F(Opmd, FilesThatCannotBeUsedGiveAMessage) {
  const double p = protonMomentum(1.0);
  foreign("photons.h5", {"0"}, {"photon"}, {{0, 0, 0, 0, 0, p}});
  foreign("good.h5", {"0"}, {"proton"}, {{0, 0, 0, 0, 0, p}, {1e-6, 0, 0, 0, 0, p}});
  // A truncated copy, text, an empty file.
  {
    std::string all = kqtest::slurp("good.h5");
    std::ofstream("cut.h5", std::ios::binary) << all.substr(0, all.size() / 2);
    std::ofstream("text.h5") << "not an HDF5 file\n";
    std::ofstream("empty.h5");
  }
  // Records of the wrong length, a 2-D record, no momentum.
  fs::copy_file("good.h5", "short.h5");
  fs::copy_file("good.h5", "nomom.h5");
  fs::copy_file("good.h5", "flat.h5");
  {
    H5 f{H5Fopen("short.h5", H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose};
    H5Ldelete(f.id, "data/0/particles/proton/position/y", H5P_DEFAULT);
    H5 g{H5Gopen2(f.id, "data/0/particles/proton/position", H5P_DEFAULT), H5Gclose};
    data(g.id, "y", {0, 0, 0});
  }
  {
    H5 f{H5Fopen("nomom.h5", H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose};
    H5Ldelete(f.id, "data/0/particles/proton/momentum", H5P_DEFAULT);
  }
  {
    H5 f{H5Fopen("flat.h5", H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose};
    H5Ldelete(f.id, "data/0/particles/proton/position/x", H5P_DEFAULT);
    H5 g{H5Gopen2(f.id, "data/0/particles/proton/position", H5P_DEFAULT), H5Gclose};
    hsize_t dims[2] = {1, 2};
    hid_t sp = H5Screate_simple(2, dims, nullptr);
    hid_t d = H5Dcreate2(g.id, "x", H5T_NATIVE_DOUBLE, sp, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Dclose(d), H5Sclose(sp);
  }
  struct Case {
    const char* file;
    const char* message;
  } cases[] = {
      {"missing.h5", "?OPMD- missing.h5 does not exist"},
      {"text.h5", "?OPMD- text.h5 is not an HDF5 file, or it is damaged or truncated"},
      {"empty.h5", "?OPMD- empty.h5 is not an HDF5 file, or it is damaged or truncated"},
      {"cut.h5", "?OPMD- cut.h5 "},
      {"photons.h5", "?OPMD- photon holds photon particles: KESTRIM maps charged particles only"},
      {"short.h5", "?OPMD- position/y holds 3 values, not 2"},
      {"nomom.h5", "?OPMD- proton has no momentum/x record: the slopes and energies cannot be found"},
      {"flat.h5", "?OPMD- position/x is not a list of one value per particle (rank 2)"},
  };
  for (const Case& c : cases) {
    Session s(std::string("OPMD/R ") + c.file + " out\nNTOT\nEXIT\n");
    EXPECT_TRUE(s.has(c.message)) << c.file << "\n" << s.text();
    EXPECT_FALSE(fs::exists("out.bin")) << c.file;
    EXPECT_TRUE(s.has("Total number of ray vectors =       0")) << c.file;
  }
}

TEST_F(Opmd, NonFiniteParticlesFromAnotherCodeAreLeftOut) {
  const double p = protonMomentum(1.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  foreign("nan.h5", {"0"}, {"proton"},
          {{0, 0, 0, 0, 0, p}, {nan, 0, 0, 0, 0, p}, {0, 0, 0, 0, nan, p}, {0, 0, 0, 0, 0, -p}});
  Session s("OPMD/R nan\nNTOT\nEXIT\n");
  EXPECT_TRUE(s.has("%OPMD- 2 particles with values that are not finite numbers are left out.")) << s.text();
  EXPECT_TRUE(s.has("%OPMD- 1 particles that do not move forward (pz <= 0) are left out.")) << s.text();
  EXPECT_TRUE(s.has("Total number of ray vectors =       3")) << s.text();
}

}  // namespace
