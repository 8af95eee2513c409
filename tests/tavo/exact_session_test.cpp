// The field-integrated maps against the first-order evaluation, their
// limits and symmetries, Maxwell's equations for the expanded fields, and
// the EXACT and FRINGE commands in whole sessions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "aber_numeric.h"
#include "exact_support.h"
#include "session.h"
#include "tavo/exact/exact.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace {

using tavo::da::Exps;
using tavo::da::Poly;
using tavo::da::Space;

// Rows from row 3 on: (code, length, field, bore[, rotation]); a system end
// is appended.
void table(abertest::Session& t, const std::vector<std::vector<double>>& rows) {
  int r = 3;
  for (const auto& v : rows) {
    for (int c = 0; c < 4; ++c) t.s.bdata(r, c + 1) = v[c];
    if (v.size() > 4) t.s.rotat[r] = v[4];
    ++r;
  }
  t.s.bdata(r, 1) = 9.0;
  tavo::Mat4 a;
  tavo::stigmat(t.s, 1, a);
}

using exacttest::mapOf;

const std::vector<std::vector<double>> kTriplet = {
    {3.0, 3.0, 0, 0},      {4.1, 0.06, 0.129905, 0.006}, {3.0, 0.05, 0, 0},
    {4.02, 0.06, -0.226126, 0.006}, {3.0, 0.05, 0, 0}, {4.1, 0.06, 0.129905, 0.006},
    {3.0, 0.2, 0, 0}};

}  // namespace

TEST(ExactLimits, FirstOrderOfTheHardEdgeIsTheMatrixEvaluation) {
  // Plain, rotated, and a solenoid (first order only: its hard edge has no
  // finite third order).
  const std::vector<std::vector<std::vector<double>>> systems = {
      kTriplet,
      {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01, 0.3}, {3.0, 0.1, 0, 0}, {4.0, 0.1, -0.25, 0.01, -0.7},
       {3.0, 0.5, 0, 0}},
      {{3.0, 0.5, 0, 0}, {11.0, 0.2, 0.8, 0.02}, {3.0, 0.5, 0, 0}}};
  for (size_t k = 0; k < systems.size(); ++k) {
    abertest::Session t;
    table(t, systems[k]);
    tavo::Mat4 a;
    tavo::stigmat(t.s, 1, a);
    // First order alone, with steps fine enough that the integration's
    // error sits below the matrices' rounding.
    const Space sp(4, 1);
    const auto map = mapOf(t, tavo::EdgeModel::Hard, sp, 1.0, 64.0);
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 4; ++c) {
        Exps e{0, 0, 0, 0, 0};
        e[c - 1] = 1;
        EXPECT_NEAR(map[r - 1].coef(e), a(r, c), 1e-12 * (1.0 + std::fabs(a(r, c))))
            << "system " << k << " M(" << r << "," << c << ")";
      }
  }
}

TEST(ExactLimits, SoftEdgeTendsToTheHardEdgeAsTheFringeShrinks) {
  abertest::Session t;
  table(t, kTriplet);
  const Space sp(4, 3);
  const auto hard = mapOf(t, tavo::EdgeModel::Hard, sp);
  double last = 1e30;
  for (double c : {0.2, 0.05, 0.0125}) {
    const auto soft = mapOf(t, tavo::EdgeModel::Soft, sp, c);
    double worst = 0.0;
    for (int p : {0, 2})
      for (const Exps& e : {Exps{0, 3, 0, 0, 0}, Exps{0, 1, 0, 2, 0}, Exps{0, 2, 0, 1, 0},
                            Exps{0, 0, 0, 3, 0}, Exps{3, 0, 0, 0, 0}, Exps{1, 2, 0, 0, 0}}) {
        const double h = hard[p].coef(e);
        if (h != 0.0) worst = std::max(worst, std::fabs(soft[p].coef(e) - h) / std::fabs(h));
      }
    EXPECT_LT(worst, last) << "c = " << c;
    last = worst;
  }
  EXPECT_LT(last, 0.01);
}

TEST(ExactLimits, HardEdgeTendsToTheClosedFormForAThinLens) {
  // One quadrupole at fixed focal length, ever shorter: the closed form is
  // the thin-lens limit of the hard edge with its edge fields.
  double last = 1e30;
  for (double len : {0.04, 0.01, 0.0025}) {
    abertest::Session t;
    // k L = 1/f fixed: B3 = a / (qep f L).
    const double f = 0.5, a = 0.01, b3 = a / (t.qep() * f * len);
    table(t, {{3.0, 1.0, 0, 0}, {4.0, len, b3, a}, {3.0, 1.0, 0, 0}});
    tavo::Mat4 m;
    tavo::stigmat(t.s, 3, m);
    const Space sp(4, 3);
    const auto map = mapOf(t, tavo::EdgeModel::Hard, sp);
    double mx = 1, my = 1;
    tavo::mag(t.s, t.s.syspa, mx, my);
    const double closed = mx * t.s.aber3.total(1, 1);   // x: theta^3
    const double exact = map[0].coef(Exps{0, 3, 0, 0, 0});
    const double rel = std::fabs(exact - closed) / std::fabs(closed);
    EXPECT_LT(rel, last) << "L = " << len;
    last = rel;
  }
  EXPECT_LT(last, 0.02);
}

TEST(ExactSymmetry, RotatedQuadrupoleCarriesItsOctupoleAlong) {
  // A quadrupole with a superimposed octupole, turned by pi/2, is the same
  // quadrupole with the field reversed and the octupole unchanged (an
  // octupole is invariant under a quarter turn).
  const Space sp(4, 3);
  abertest::Session a, b;
  table(a, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01, M_PI / 2}, {28.0, 0.1, 0.02, 0.01},
            {3.0, 0.5, 0, 0}});
  table(b, {{3.0, 1.0, 0, 0}, {4.0, 0.1, -0.2, 0.01}, {28.0, 0.1, 0.02, 0.01}, {3.0, 0.5, 0, 0}});
  for (auto model : {tavo::EdgeModel::Hard, tavo::EdgeModel::Soft}) {
    const auto ma = mapOf(a, model, sp), mb = mapOf(b, model, sp);
    for (int p = 0; p < 4; ++p)
      for (int m = 0; m < sp.size(); ++m)
        EXPECT_NEAR(ma[p][m], mb[p][m], 1e-9 * (1.0 + std::fabs(mb[p][m]))) << p << " " << m;
    // The octupole matters: without it the terms change.
    EXPECT_GT(std::fabs(ma[0].coef(Exps{0, 3, 0, 0, 0})), 0.0);
  }
}

TEST(ExactMaxwell, ExpandedFieldsAreFreeOfDivergenceAndCurl) {
  // Soft-edged quadrupole, sextupole, octupole (rotated) and solenoid: the
  // series of B satisfy div B = 0 and curl B = 0 through the complete degrees.
  const int order = 5;
  const Space sp(2, order);
  const Poly x = Poly::var(sp, 0), y = Poly::var(sp, 1);
  for (int n : {0, 2, 3, 4}) {
    tavo::Lattice lat;
    tavo::FieldLens e;
    e.n = n;
    e.k = 1.3;
    e.zin = 0.0;
    e.zout = 0.05;
    e.bore = 0.01;
    e.cosa = std::cos(0.4);
    e.sina = std::sin(0.4);
    lat.lens.push_back(e);
    tavo::MapSettings set;
    set.model = tavo::EdgeModel::Soft;
    const double z = 0.003, h = 1e-5;
    Poly b[3] = {Poly(sp), Poly(sp), Poly(sp)}, bp[3] = {Poly(sp), Poly(sp), Poly(sp)},
         bm[3] = {Poly(sp), Poly(sp), Poly(sp)};
    tavo::fieldAt(lat, set, z, x, y, b[0], b[1], b[2]);
    tavo::fieldAt(lat, set, z + h, x, y, bp[0], bp[1], bp[2]);
    tavo::fieldAt(lat, set, z - h, x, y, bm[0], bm[1], bm[2]);
    // d/dx, d/dy of a series; d/dz by a central difference.
    auto dd = [&](const Poly& p, int v) {
      Poly r(sp);
      for (int m = 0; m < sp.size(); ++m) {
        Exps ex = sp.exps(m);
        if (ex[v] == 0) continue;
        const double c = p[m] * ex[v];
        --ex[v];
        r[sp.index(ex)] += c;
      }
      return r;
    };
    auto dz = [&](int c) { return (bp[c] - bm[c]) * (0.5 / h); };
    const Poly div = dd(b[0], 0) + dd(b[1], 1) + dz(2);
    const Poly cx = dd(b[2], 1) - dz(1);
    const Poly cy = dz(0) - dd(b[2], 0);
    const Poly cz = dd(b[1], 0) - dd(b[0], 1);
    double scale = 0.0;
    for (const Poly& p : {dd(b[0], 0), dd(b[1], 0), dd(b[0], 1), dz(0), dz(2)})
      scale = std::max(scale, p.norm());
    for (int m = 0; m < sp.upTo(order - 2); ++m) {
      // d/dz by differences: 1e-5 of the largest term.
      EXPECT_NEAR(div[m], 0.0, 1e-5 * scale) << "n " << n << " monomial " << m;
      EXPECT_NEAR(cx[m], 0.0, 1e-5 * scale) << "n " << n << " monomial " << m;
      EXPECT_NEAR(cy[m], 0.0, 1e-5 * scale) << "n " << n << " monomial " << m;
      EXPECT_NEAR(cz[m], 0.0, 1e-9 * scale) << "n " << n << " monomial " << m;
    }
  }
}

namespace {

class ExactSession : public abertest::SessionDir {};

// Values of the first line that starts with label after the marker.
std::vector<double> row(const std::string& out, const std::string& marker, const std::string& label,
                        int n) {
  const size_t at = out.find(marker);
  if (at == std::string::npos) return std::vector<double>(n, NAN);
  return abertest::numbersAfter(out.substr(at), label, n);
}

}  // namespace

TEST_F(ExactSession, ClosedFormColumnIsTheAb3ListingAndTheSoftEdgeMovesTheImage) {
  const std::string out = run("DATA triplet\nAB3\nEXACT\nEXIT\n");
  const auto ab3 = abertest::numbersAfter(out, "(X/T3)  = ", 1);
  const auto ex = row(out, " System", "(X/T3)", 3);
  ASSERT_FALSE(std::isnan(ex[2])) << out;
  EXPECT_NEAR(ex[0], ab3[0], 1e-5 * std::fabs(ab3[0]));
  // The thick lenses change the spherical term by percents, not its sign.
  EXPECT_GT(ex[1] * ex[0], 0.0);
  EXPECT_NEAR(ex[1], ex[0], 0.2 * std::fabs(ex[0]));
  // The three lens shares add up to the system term (third order is additive).
  double sum = 0.0;
  for (int lensRow : {4, 6, 8})
    sum += row(out, "Lens at row  " + std::to_string(lensRow), "(X/T3)", 3)[1];
  EXPECT_NEAR(sum, ex[1], 1e-5 * std::fabs(ex[1]));   // six printed digits
  EXPECT_NE(out.find("Fifth-order aperture terms, soft edge (micron/mrad^5)"), std::string::npos);
  EXPECT_NE(out.find("Image-distance shift"), std::string::npos);
}

TEST_F(ExactSession, FringeSetsShowsAndRefuses) {
  const std::string out = run("FRINGE\nFRINGE 0.5\nFRINGE -2\nFRINGE\nEXIT\n");
  EXPECT_NE(out.find("Fringe length lambda = 1.0000"), std::string::npos) << out;
  EXPECT_NE(out.find("?FRINGE- The fringe factor must be a positive number."), std::string::npos);
  size_t n = 0, at = 0;
  while ((at = out.find("Fringe length lambda = 0.50000", at)) != std::string::npos) ++n, ++at;
  EXPECT_EQ(n, 3u) << out;   // set, kept after the refusal, shown again
}

TEST_F(ExactSession, ShorterFringesBringTheSoftEdgeToTheHardEdge) {
  const std::string a = run("DATA triplet\nEXACT\nEXIT\n");
  const std::string b = run("DATA triplet\nFRINGE 0.05\nEXACT\nEXIT\n");
  const auto ra = row(a, " System", "(X/TP2)", 3), rb = row(b, " System", "(X/TP2)", 3);
  EXPECT_LT(std::fabs(rb[2] - rb[1]), std::fabs(ra[2] - ra[1]));
  EXPECT_NEAR(ra[1], rb[1], 1e-9 * std::fabs(ra[1]));   // the hard edge does not depend on it
}

TEST_F(ExactSession, UnmodelledElementsAndMissingSystemAreReported) {
  const std::string none = run("EXACT\nEXIT\n");
  EXPECT_NE(none.find("No lens system loaded: type DATA first."), std::string::npos);
  const std::string el = run("DATA electrostatic\nEXACT\nEXIT\n");
  EXPECT_NE(el.find("?EXACT- The round-lens model needs a positive radius in column 4 of row"),
            std::string::npos)
      << el;
  EXPECT_EQ(el.find("Third-order coefficients at the system end"), std::string::npos);
  // A solenoid: the hard edge says why it has no third order, the soft edge works.
  writeSystem("sol.tav", "Solenoid",
              {{0, 1, 1.007276, 3, 0}, {1, 1e-5, 2e-4, 1e-5, 2e-4, 0.01}, {3, 0.5, 0, 0},
               {11, 0.2, 0.8, 0.02}, {3, 0.5, 0, 0}, {9, 0, 0, 0}});
  const std::string sol = run("DATA sol\nEXACT\nEXIT\n");
  EXPECT_NE(sol.find("has no finite third-order aberration: use the soft edge."), std::string::npos)
      << sol;
  EXPECT_NE(sol.find("Fifth-order aperture terms"), std::string::npos);
}

TEST_F(ExactSession, RefitMakesTheSoftEdgedTripletStigmatic) {
  const std::string out = run("DATA triplet\nEXACT/F\nEXACT\nEXIT\n");
  const auto x = abertest::numbersAfter(out, "After minimisation (soft edge)  (X/TH) = ", 1);
  ASSERT_FALSE(std::isnan(x[0])) << out;
  EXPECT_LT(std::fabs(x[0]), 1e-6);
  EXPECT_NE(out.find("Field changes:"), std::string::npos);
  // The EXACT that follows sees the soft-edged system stigmatic at the end.
  for (const char* plane : {"(X/TH) hard = ", "(Y/PH) hard = "}) {
    const size_t at = out.rfind(plane);
    ASSERT_NE(at, std::string::npos) << out;
    const auto v = abertest::numbersAfter(out.substr(at), "soft = ", 1);
    EXPECT_LT(std::fabs(v[0]), 1e-6) << plane;
  }
}

namespace {

// Numbers of one comma-separated record.
std::vector<double> record(const std::vector<std::string>& lines, size_t k) {
  std::vector<double> v;
  if (k >= lines.size()) return v;
  std::string s = lines[k];
  for (char& ch : s)
    if (ch == ',') ch = ' ';
  std::istringstream in(s);
  double x;
  while (in >> x) v.push_back(x);
  return v;
}

}  // namespace

TEST_F(ExactSession, CoefficientFilesFromTheHardAndSoftEdgeMaps) {
  run("DATA triplet\nCOFOUT a\nC\nCOFOUT/H h\nC\nCOFOUT/E e\nC\nEXIT\n");
  const auto a = lines("a.cof"), h = lines("h.cof"), e = lines("e.cof");
  ASSERT_EQ(a.size(), 22u);
  ASSERT_EQ(h.size(), 22u);
  ASSERT_EQ(e.size(), 22u);
  // First order: the hard-edge map is the matrix evaluation.
  for (size_t k = 7; k <= 10; ++k) {
    const auto ra = record(a, k), rh = record(h, k);
    ASSERT_EQ(rh.size(), 4u);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(rh[c], ra[c], 1e-4 * (1e-3 + std::fabs(ra[c]))) << k;
  }
  // Third order: twelve values a record; the aperture terms as EXACT lists them.
  EXPECT_EQ(record(h, 15).size(), 12u);
  EXPECT_EQ(record(e, 16).size(), 12u);
  // Fifth order: zero for the hard edge, the soft edge's own terms.
  EXPECT_EQ(h[17], "0,0,0,0,0,0");
  const auto f = record(e, 17);
  ASSERT_EQ(f.size(), 6u);
  EXPECT_LT(f[0], 0.0);
  EXPECT_EQ(f[1], 0.0);   // theta^4 phi: midplane symmetry
  // Chromatic: the exact derivative agrees with the 0.5 % difference to the
  // size of the step.
  const auto ca = record(a, 19), ch = record(h, 19);
  ASSERT_EQ(ch.size(), 2u);
  EXPECT_NEAR(ch[0], ca[0], 0.01 * std::fabs(ca[0]));
  EXPECT_NEAR(ch[1], ca[1], 0.01 * std::fabs(ca[1]));
  EXPECT_EQ(e.back(), " Coefficients from TAVO");
}

TEST_F(ExactSession, CoefficientFileFromAMapOfAnUnmodelledSystemIsNotWritten) {
  const std::string out = run("DATA electrostatic\nCOFOUT/E el\nEXIT\n");
  EXPECT_NE(out.find("?COFOUT- The round-lens model needs a positive radius in column 4 of row"),
            std::string::npos)
      << out;
  for (const auto& n : files()) EXPECT_EQ(n.find("el.cof"), std::string::npos);
}

TEST(ExactSymmetry, MapIsSymplecticInCanonicalVariables) {
  // p_x = x'/s, p_y = y'/s (momentum 1, no vector potential outside the
  // quadrupoles): J^T S J = S for the Jacobian J of the map through the
  // complete degrees, for the hard and the soft edge.
  abertest::Session t;
  table(t, kTriplet);
  for (auto model : {tavo::EdgeModel::Hard, tavo::EdgeModel::Soft}) {
    const int order = model == tavo::EdgeModel::Hard ? 3 : 5;
    const Space sp(4, order);
    const auto m = mapOf(t, model, sp);
    const Poly X = Poly::var(sp, 0), PX = Poly::var(sp, 1), Y = Poly::var(sp, 2), PY = Poly::var(sp, 3);
    // Slopes from the canonical momenta at the object.
    const Poly inv = tavo::da::recip(tavo::da::sqrt(1.0 - PX * PX - PY * PY));
    const std::vector<Poly> in = {X, PX * inv, Y, PY * inv};
    std::vector<Poly> c;
    for (int v = 0; v < 4; ++v) c.push_back(tavo::da::compose(m[v], in));
    const Poly is = tavo::da::recip(tavo::da::sqrt(c[1] * c[1] + c[3] * c[3] + 1.0));
    const std::vector<Poly> out = {c[0], c[1] * is, c[2], c[3] * is};
    auto dd = [&](const Poly& p, int v) {
      Poly r(sp);
      for (int k = 0; k < sp.size(); ++k) {
        Exps ex = sp.exps(k);
        if (ex[v] == 0) continue;
        const double f = p[k] * ex[v];
        --ex[v];
        r[sp.index(ex)] += f;
      }
      return r;
    };
    std::vector<std::vector<Poly>> j(4);
    for (int r = 0; r < 4; ++r)
      for (int v = 0; v < 4; ++v) j[r].push_back(dd(out[r], v));
    // (J^T S J)(a, b) = sum over planes of J(q, a) J(p, b) - J(p, a) J(q, b).
    for (int a = 0; a < 4; ++a)
      for (int b = 0; b < 4; ++b) {
        Poly w(sp);
        for (int q : {0, 2}) {
          w.addProduct(j[q][a], j[q + 1][b]);
          w -= j[q + 1][a] * j[q][b];
        }
        const double want = (a == 0 && b == 1) || (a == 2 && b == 3)   ? 1.0
                            : (a == 1 && b == 0) || (a == 3 && b == 2) ? -1.0
                                                                      : 0.0;
        w -= want;
        for (int k = 0; k < sp.upTo(order - 1); ++k) {
          // Each degree measured against the size of the map's terms of that degree.
          const double scale = std::pow(1e3, sp.degree(k));
          EXPECT_NEAR(w[k], 0.0, 1e-7 * scale) << "edge " << static_cast<int>(model) << " (" << a
                                                << "," << b << ") monomial " << k;
        }
      }
  }
}


// Fields whose scale is far below the lens (a fringe 1e-12 of the bore, an
// absurd field, a bore of 1e-300 m) would need steps past counting: the map
// is refused at once, naming the row, and nothing is built on it.
TEST_F(ExactSession, MapsTooFineToIntegrateAreRefusedNamingTheRow) {
  auto triplet = [&](const std::string& name, double field, double bore) {
    writeSystem(name + ".tav", "Triplet",
                {{0, 1, 1.007276, 3, 0}, {1, 1e-5, 2e-4, 1e-5, 2e-4, 0.01}, {3, 3, 0, 0},
                 {4.1, 0.06, field, bore}, {3, 0.05, 0, 0}, {4.02, 0.06, -0.226126, 0.006},
                 {3, 0.05, 0, 0}, {4.1, 0.06, 0.129905, 0.006}, {3, 0.2, 0, 0}, {9, 0, 0, 0}});
  };
  triplet("tesla30", 1e30, 0.006);
  triplet("tesla8", 1e8, 0.006);
  triplet("bore", 0.129905, 1e-300);
  const struct {
    const char* input;
    const char* hard;  // the hard edge's refusal ("" when it can be made)
    const char* soft;
  } cases[] = {
      {"DATA triplet\nFRINGE 1e-12\n", "", "Soft edge: Row 4: the fringe length"},
      {"DATA triplet\nFRINGE 1e-3\n", "", "Soft edge: Row 4: the fringe length"},
      {"DATA tesla30\n", "Hard edge: Row 4: the strength", "Soft edge: Row 4: the strength"},
      {"DATA tesla8\n", "Hard edge: Row 4: the strength", "Soft edge: Row 4: the strength"},
      {"DATA bore\n", "Hard edge: Row 4: the strength", "Soft edge: Row 4: the fringe length"},
  };
  for (const auto& c : cases) {
    const std::string out = run(std::string(c.input) + "EXACT\nCOFOUT/E e\nEXIT\n");
    if (*c.hard) {
      EXPECT_NE(out.find(c.hard), std::string::npos) << c.input << out;
    }
    EXPECT_NE(out.find(c.soft), std::string::npos) << c.input << out;
    EXPECT_NE(out.find("needs steps too short to integrate the map"), std::string::npos);
    // No fifth-order terms from a map that was never made.
    EXPECT_EQ(out.find("Fifth-order aperture terms"), std::string::npos) << c.input;
    // COFOUT/E writes nothing from it.
    EXPECT_NE(out.find("?COFOUT- Row 4: the "), std::string::npos) << c.input << out;
    EXPECT_FALSE(std::filesystem::exists("e.cof")) << c.input;
  }
  // The fit and the octupole correction leave the fields as they were: the
  // system saved after them is the one saved before.
  std::filesystem::copy_file(std::string(TK_SOURCE_DIR) + "/examples/octupole_triplet.tav",
                             "oct.tav");
  for (const std::string c : {"DATA triplet\nSAVE before\nFRINGE 1e-3\nEXACT/F\n",
                               "DATA oct\nSAVE before\nFRINGE 1e-3\nEXACT/C\n"}) {
    const std::string out = run(c + "SAVE after\nEXIT\n");
    EXPECT_NE(out.find("?EXACT- Row "), std::string::npos) << out;
    ASSERT_GE(lines("after.tav").size(), 5u);
    EXPECT_EQ(lines("after.tav"), lines("before.tav")) << c;
    std::filesystem::remove("after.tav");
    std::filesystem::remove("before.tav");
  }
}
