// Round lenses from axial fields sampled into files: the analytic bell lens
// and einzel lens written at spacing a/20 (R/20) give the analytic lenses'
// Cs within 1e-4 and C5 within 1e-2, converging as the spacing shrinks; the
// derivative fit is exact for polynomials; bad files are refused by name.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <string>

#include "round_support.h"
#include "session.h"
#include "tavo/exact/fieldfile.h"

namespace {

class FieldFile : public abertest::SessionDir {};

void sample(const std::string& name, double lo, double hi, double h,
            const std::function<double(double)>& f) {
  std::ofstream o(name);
  o.precision(17);
  o << "# z (m)   field\n";
  const int n = static_cast<int>(std::lround((hi - lo) / h));
  for (int i = 0; i <= n; ++i) {
    const double z = lo + i * (hi - lo) / n;
    o << z << "  " << f(z) << "\n";
  }
}

TEST_F(FieldFile, DerivativesAreExactForPolynomials) {
  // A degree-8 polynomial: every derivative to the sixth from the fit.
  auto p = [](double z) { return 1.0 + z - 2 * z * z + 0.5 * std::pow(z, 5) - 0.1 * std::pow(z, 8); };
  std::ofstream o("poly.dat");
  o.precision(17);
  for (int i = 0; i <= 80; ++i) {
    const double z = -2.0 + i * 0.05;
    o << z << ", " << p(z) << "\n";
  }
  o.close();
  tavo::AxialTable t;
  std::string why;
  // Not level at its ends, but the reader's other checks are what matter
  // here: read it through the fit directly.
  EXPECT_FALSE(tavo::readAxialTable("poly.dat", t, why));
  t.z.clear();
  t.f.clear();
  for (int i = 0; i <= 80; ++i) {
    t.z.push_back(-2.0 + i * 0.05);
    t.f.push_back(p(t.z.back()));
  }
  t.h = 0.05;
  double d[7];
  const double z = 0.123;
  tavo::tableDerivs(t, z, 6, d);
  const double exact[7] = {p(z),
                           1 - 4 * z + 2.5 * std::pow(z, 4) - 0.8 * std::pow(z, 7),
                           -4 + 10 * std::pow(z, 3) - 5.6 * std::pow(z, 6),
                           30 * z * z - 33.6 * std::pow(z, 5),
                           60 * z - 168 * std::pow(z, 4),
                           60 - 672 * std::pow(z, 3),
                           -2016 * z * z};
  for (int k = 0; k <= 6; ++k) EXPECT_NEAR(d[k], exact[k], 1e-6 * (1 + std::fabs(exact[k]))) << k;
}

TEST_F(FieldFile, SampledBellLensConverges) {
  const double a = 0.002, b0 = 1.5, zc = 0.012;
  roundtest::System ref(1.0, roundtest::kElectronAmu, 0.2,
                        {{3.0, zc - 0.002, 0, 0}, {19.0, 0.004, b0, a}, {3.0, 0.06, 0, 0}});
  ASSERT_TRUE(ref.ok) << ref.why;
  const tavo::RoundOptics o = ref.optics();
  double lastCs = 1.0, lastC5 = 1.0;
  for (int div : {10, 20, 40}) {
    sample("axial1.dat", -40 * a, 40 * a, a / div,
           [&](double z) { return b0 / (1.0 + (z / a) * (z / a)); });
    roundtest::System sys(1.0, roundtest::kElectronAmu, 0.2,
                          {{3.0, zc - 0.002, 0, 0}, {19.0, 0.004, 1.0, -1.0}, {3.0, 0.06, 0, 0}});
    ASSERT_TRUE(sys.ok) << sys.why;
    const tavo::RoundOptics f = sys.optics();
    const double ecs = std::fabs(f.cs / o.cs - 1.0), ec5 = std::fabs(f.c5 / o.c5 - 1.0);
    if (div == 20) {
      EXPECT_LT(ecs, 1e-4);
      EXPECT_LT(ec5, 1e-2);
    }
    EXPECT_LT(ecs, lastCs) << div;
    EXPECT_LT(ec5, lastC5) << div;
    lastCs = ecs;
    lastC5 = ec5;
  }
}

TEST_F(FieldFile, SampledEinzelLensConverges) {
  // 30 keV gallium ions; the file holds the einzel lens's potential above
  // the outer electrodes' (V).
  const double r = 0.0015, len = 0.003, zc = 0.0235, ratio = 0.3, v0 = 30000.0;
  roundtest::System ref(1.0, 69.723, 0.03,
                        {{3.0, zc - 0.5 * len, 0, 0}, {15.0, len, ratio, r}, {3.0, 0.03, 0, 0}});
  ASSERT_TRUE(ref.ok) << ref.why;
  const tavo::RoundOptics o = ref.optics();
  const double w = 1.318 / r;
  double lastCs = 1.0, lastC5 = 1.0;
  for (int div : {10, 20, 40}) {
    sample("axial2.dat", -0.02, 0.02, r / div, [&](double z) {
      return 0.5 * (ratio - 1.0) * v0 * (std::tanh(w * (z + 0.5 * len)) - std::tanh(w * (z - 0.5 * len)));
    });
    roundtest::System sys(1.0, 69.723, 0.03,
                          {{3.0, zc - 0.5 * len, 0, 0}, {15.0, len, 1.0, -2.0}, {3.0, 0.03, 0, 0}});
    ASSERT_TRUE(sys.ok) << sys.why;
    const tavo::RoundOptics f = sys.optics();
    const double ecs = std::fabs(f.cs / o.cs - 1.0), ec5 = std::fabs(f.c5 / o.c5 - 1.0);
    if (div == 20) {
      EXPECT_LT(ecs, 1e-4);
      EXPECT_LT(ec5, 1e-2);
    }
    EXPECT_LT(ecs, lastCs) << div;
    EXPECT_LT(ec5, lastC5) << div;
    lastCs = ecs;
    lastC5 = ec5;
  }
}

TEST_F(FieldFile, BadFilesAreRefusedByName) {
  writeSystem("f.tav", "File lens",
              {{0, 1, roundtest::kElectronAmu, 0.2, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4},
               {3, 0.01, 0, 0}, {19, 0.004, 1.0, -3.0}, {3, 0.05, 0, 0}, {9, 0, 0, 0}});
  auto bell = [](double z) { return 1.0 / (1.0 + (z / 0.002) * (z / 0.002)); };
  auto exact = [&]() { return run("DATA f\nEXACT\nEXIT\n"); };
  std::string out = exact();
  EXPECT_NE(out.find("?EXACT- Cannot read the field file axial3.dat."), std::string::npos) << out;
  // Unsorted.
  {
    std::ofstream o("axial3.dat");
    for (int i = 0; i < 40; ++i) o << (i == 20 ? -0.1 : -0.08 + i * 0.004) << " " << bell(i) << "\n";
  }
  out = exact();
  EXPECT_NE(out.find("is not sorted: z at line 21 does not increase"), std::string::npos) << out;
  // Not numbers.
  {
    std::ofstream o("axial3.dat");
    o << "! a comment\n0.0 1.0\n0.001 one\n";
  }
  out = exact();
  EXPECT_NE(out.find("Line 3 of the field file axial3.dat is not two numbers"), std::string::npos)
      << out;
  // Too short: cut where the field is still strong.
  sample("axial3.dat", -0.004, 0.004, 0.0001, bell);
  out = exact();
  EXPECT_NE(out.find("axial3.dat is too short"), std::string::npos) << out;
  // Too coarse: samples a half-width apart.
  sample("axial3.dat", -0.1, 0.1, 0.001, bell);
  out = exact();
  EXPECT_NE(out.find("axial3.dat is too coarse"), std::string::npos) << out;
  // Good: the round table appears.
  sample("axial3.dat", -0.1, 0.1, 0.0001, bell);
  out = exact();
  EXPECT_NE(out.find("Round lenses, axial object"), std::string::npos) << out;
}

}  // namespace
