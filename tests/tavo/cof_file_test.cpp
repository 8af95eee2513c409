// COFOUT: the coefficient file record by record, its reading rules, the
// naming dialog and the cases that must not hurt.
#include <cmath>

#include "aber_numeric.h"
#include "session.h"
#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"
#include "tavo/cof/cof.h"

using abertest::numbersAfter;
namespace fs = std::filesystem;

namespace {

class CofFile : public abertest::SessionDir {};

// Reads a coefficient file by the reading rules: numeric groups are
// list-directed reads that start on a new record and run over as many
// records as they need.
struct CofData {
  std::string title;
  char shape = ' ';
  std::vector<std::vector<double>> groups;   // in file order, shape excluded
  bool ok = false;
};

CofData readCof(const std::vector<std::string>& recs) {
  CofData d;
  size_t r = 0;
  if (recs.empty()) return d;
  d.title = recs[r++].substr(0, 50);
  auto group = [&](int n) {
    gx::ListScanner sc(n);
    while (!sc.done() && r < recs.size()) {
      if (!sc.add(recs[r++])) return false;
    }
    if (static_cast<int>(sc.items().size()) < n) return false;
    std::vector<double> v;
    for (int k = 0; k < n; ++k) {
      double x = 0.0;
      if (!gx::listReal(sc.items()[k].text, x)) return false;
      v.push_back(x);
    }
    d.groups.push_back(v);
    return true;
  };
  for (int n : {4, 4, 1})
    if (!group(n)) return d;
  if (r >= recs.size()) return d;
  const std::string shape = gx::pad(recs[r++], 80);
  const size_t nb = shape.find_first_not_of(' ');
  d.shape = nb == std::string::npos ? ' ' : shape[nb];
  for (int n : {1, 1, 16, 40, 24, 12, 4})
    if (!group(n)) return d;
  d.ok = true;
  return d;
}

std::vector<std::string> splitFields(const std::string& rec) {
  std::vector<std::string> f;
  std::string cur;
  for (char c : rec) {
    if (c == ',') {
      f.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  f.push_back(cur);
  return f;
}

TEST_F(CofFile, TripletFileFollowsTheLayoutAndTheListings) {
  const std::string out =
      run("DATA triplet\nSMAT\nAB2 A\nAB3 A\nTHIRD/I\nCHROM\nCOFOUT trip\ns\n");
  ASSERT_TRUE(fs::exists("trip.cof")) << out;
  EXPECT_NE(out.find(" Collimator distance assumed to be 3.0000 m"), std::string::npos) << out;
  EXPECT_NE(out.find("Square or Circular aperture collimator? > "), std::string::npos);
  EXPECT_NE(out.find(" Square aperture collimators."), std::string::npos);
  EXPECT_NE(out.find(" Shadow plane distance assumed to be 0.10000 m"), std::string::npos);
  EXPECT_NE(out.find(" Total system length 3.4800 m"), std::string::npos);
  EXPECT_NE(out.find(" Chromatic coefficients calculated with a 0.5% energy spread."),
            std::string::npos);
  EXPECT_NE(out.find(" (X/XDe and Y/YDe are probably inaccurate.)"), std::string::npos);

  const auto rec = lines("trip.cof");
  ASSERT_EQ(rec.size(), 22u);
  // 1: a blank and the 50-character title.
  EXPECT_EQ(rec[0].size(), 51u);
  EXPECT_EQ(rec[0].substr(0, 1), " ");
  EXPECT_NE(rec[0].find("Separated triplet"), std::string::npos);
  // 2, 3: four 1PG12.4 fields; the aperture at the end of the 3 m first row:
  // 1e-5 + 3 x 2e-4 = 6.1e-4 m.
  EXPECT_EQ(rec[1], "  1.0000E-05,   0.000    ,  1.0000E-05,   0.000    ");
  EXPECT_EQ(rec[2], "  6.1000E-04,   0.000    ,  6.1000E-04,   0.000    ");
  EXPECT_EQ(rec[3], "    3.0000000");
  EXPECT_EQ(rec[4], " S");
  EXPECT_EQ(rec[5], "   0.1000000");
  // 7: the sum of the row lengths, 3 + 3 x 0.06 + 2 x 0.05 + 0.2.
  EXPECT_EQ(rec[6], "   3.4800000");
  for (int r = 7; r <= 10; ++r) {
    EXPECT_EQ(rec[r].size(), 51u) << r;
    EXPECT_EQ(splitFields(rec[r]).size(), 4u);
  }
  for (int r = 11; r <= 14; ++r) {
    EXPECT_EQ(rec[r].size(), 129u) << r;
    for (const auto& f : splitFields(rec[r])) EXPECT_EQ(f.size(), 12u);
  }
  for (int r = 15; r <= 16; ++r) {
    EXPECT_EQ(rec[r].size(), 123u) << r;
    EXPECT_EQ(rec[r].substr(rec[r].size() - 4), ",0,0");
    auto f = splitFields(rec[r]);
    ASSERT_EQ(f.size(), 12u);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(f[k].size(), 11u);
  }
  EXPECT_EQ(rec[17], "0,0,0,0,0,0");
  EXPECT_EQ(rec[18], "0,0,0,0,0,0");
  for (int r = 19; r <= 20; ++r) {
    auto f = splitFields(rec[r]);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].size(), 12u);
  }
  EXPECT_EQ(rec[21], " Coefficients from TAVO");

  // The numbers are those of the listings.
  const CofData d = readCof(rec);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.shape, 'S');
  const auto& m = d.groups[5];
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) {
      const std::string label = "B(" + std::to_string(r) + "," + std::to_string(c) + ") = ";
      const double smat = numbersAfter(out, label, 1)[0];
      EXPECT_NEAR(m[(r - 1) * 4 + (c - 1)], smat, 5e-4 * std::fabs(smat) + 1e-12) << label;
    }
  const auto& t3 = d.groups[7];
  auto img = numbersAfter(out, "C21\n System     ", 4);   // THIRD/I, m/rad^3
  EXPECT_NEAR(t3[0], img[0], 5e-4 * std::fabs(img[0]));
  EXPECT_NEAR(t3[1], img[1], 5e-4 * std::fabs(img[1]));
  EXPECT_NEAR(t3[12], img[2], 5e-4 * std::fabs(img[2]));
  EXPECT_NEAR(t3[13], img[3], 5e-4 * std::fabs(img[3]));
  EXPECT_EQ(t3[10], 0.0);
  EXPECT_EQ(t3[11], 0.0);
  EXPECT_EQ(t3[22], 0.0);
  EXPECT_EQ(t3[23], 0.0);
  // x^3 (position 9): AB3 prints micron/micron^3 = 1e-12 of m/m^3.
  const double x3 = numbersAfter(out, "(X/X3)  = ", 1)[0];
  EXPECT_NEAR(t3[8], x3 * 1e12, 5e-4 * std::fabs(x3 * 1e12));
  // Chromatic: CHROM prints X/THDM = 2000 x the file's Th%DE.
  const double xthdm = numbersAfter(out, "X/THDM =", 1)[0];
  EXPECT_NEAR(d.groups[9][0] * 2000.0, xthdm, 1e-3 * std::fabs(xthdm)) << out;
  for (double v : d.groups[8]) EXPECT_EQ(v, 0.0);
}

TEST_F(CofFile, SecondOrderRecordsMatchAb2) {
  writeSystem("sext.tav", "Sextupole and quadrupole",
              {{0.0, 1.0, 1.007276, 3.0, 0.0}, {1.0, 1e-5, 2e-4, 1e-5, 2e-4, 0.01},
               {3, 0.5, 0, 0}, {6, 0.1, 0.08, 0.01}, {3, 0.1, 0, 0}, {4, 0.06, 0.15, 0.006},
               {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA sext\nAB2 A\nCOFOUT sext\nc\n");
  EXPECT_NE(out.find(" Circular aperture collimatior."), std::string::npos);
  const auto rec = lines("sext.cof");
  ASSERT_EQ(rec.size(), 22u);
  EXPECT_EQ(rec[4], " C");
  const CofData d = readCof(rec);
  ASSERT_TRUE(d.ok);
  static const char* kMono[10] = {"X2", "XT", "XY", "XP", "T2", "TY", "TP", "Y2", "YP", "P2"};
  static const char* kRow[4] = {"X", "T", "Y", "P"};
  int nonzero = 0;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 10; ++c) {
      const std::string label = std::string("(") + kRow[r] + "/" + kMono[c] + ") ";
      const double v = numbersAfter(out, label, 1)[0];
      EXPECT_NEAR(d.groups[6][r * 10 + c], v, 5e-4 * std::fabs(v)) << label;
      if (v != 0.0) ++nonzero;
    }
  EXPECT_GT(nonzero, 10);
}

TEST_F(CofFile, OtherLineBreaksReadTheSame) {
  run("DATA triplet\nCOFOUT trip\nS\n");
  const auto rec = lines("trip.cof");
  ASSERT_EQ(rec.size(), 22u);
  const CofData a = readCof(rec);
  ASSERT_TRUE(a.ok);
  // Rewrite the numbers with other breaks: all sixteen first-order values on
  // one line, the second order five to a line with blanks between, the
  // object and aperture on one line each split differently.
  std::vector<std::string> alt;
  alt.push_back(rec[0]);
  alt.push_back(" 1.0E-05 0");
  alt.push_back(" 1.0E-05,0");
  alt.push_back("6.1E-04 , 0.0 ,6.1E-04,0.0");
  alt.push_back("3.0");
  alt.push_back("   s");
  alt.push_back("0.1");
  alt.push_back(" 3.48");
  std::string all;
  for (int r = 7; r <= 10; ++r) all += rec[r] + ",";
  alt.push_back(all.substr(0, all.size() - 1));
  for (int r = 11; r <= 14; ++r) {
    auto f = splitFields(rec[r]);
    std::string l1, l2;
    for (int k = 0; k < 5; ++k) l1 += f[k] + " ";
    for (int k = 5; k < 10; ++k) l2 += f[k] + " ";
    alt.push_back(l1);
    alt.push_back(l2);
  }
  alt.push_back(rec[15] + "," + rec[16]);
  alt.push_back("0 0 0");
  alt.push_back("0 0 0 0,0,0 0 0 0");
  alt.push_back(rec[19]);
  alt.push_back(rec[20]);
  alt.push_back("trailing records are ignored");
  const CofData b = readCof(alt);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.title, a.title);
  EXPECT_EQ(b.shape, 's');
  ASSERT_EQ(a.groups.size(), b.groups.size());
  for (size_t g = 0; g < a.groups.size(); ++g) {
    ASSERT_EQ(a.groups[g].size(), b.groups[g].size());
    for (size_t k = 0; k < a.groups[g].size(); ++k) EXPECT_EQ(a.groups[g][k], b.groups[g][k]) << g << "," << k;
  }
}

TEST_F(CofFile, ApertureAtTheEndOfTheFirstRow) {
  writeSystem("ap.tav", "Aperture example",
              {{0.0, 1.0, 1.007276, 3.0, 0.0}, {1.0, 1e-6, 1e-3, 1e-6, 1e-3, 0.0}, {3, 0.2, 0, 0},
               {4, 0.06, 0.15, 0.006}, {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  run("DATA ap\nCOFOUT ap\nS\n");
  const auto rec = lines("ap.cof");
  ASSERT_EQ(rec.size(), 22u);
  // 1e-6 + 0.2 x 1e-3 = 2.01e-4 m
  EXPECT_EQ(rec[2], "  2.0100E-04,   0.000    ,  2.0100E-04,   0.000    ");
  EXPECT_EQ(rec[3], "    0.2000000");
}

TEST_F(CofFile, NameRules) {
  const std::string out = run(
      "DATA triplet\nCOFOUT trip.dat\nS\nCOFOUT\nviaprompt\nS\nCOFOUT\n\nSMAT\n");
  EXPECT_TRUE(fs::exists("trip.dat"));
  EXPECT_FALSE(fs::exists("trip.dat.cof"));
  EXPECT_TRUE(fs::exists("viaprompt.cof"));
  EXPECT_NE(out.find("Filename for output > "), std::string::npos);
  // The blank answer ends the command quietly: the next command runs.
  EXPECT_NE(out.find("System Beam Matrix:"), std::string::npos);
  for (const auto& f : files()) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

TEST_F(CofFile, ExistingFileIsNeverOverwritten) {
  { std::ofstream("trip.cof") << "keep me\n"; }
  const std::string out = run("DATA triplet\nCOFOUT trip\nsecond\nS\n");
  EXPECT_NE(out.find(" trip.cof already exists."), std::string::npos) << out;
  EXPECT_EQ(lines("trip.cof"), std::vector<std::string>{"keep me"});
  ASSERT_TRUE(fs::exists("second.cof"));
  EXPECT_EQ(lines("second.cof").size(), 22u);
}

TEST_F(CofFile, InAMacroAnExistingNameEndsTheCommand) {
  { std::ofstream("trip.cof") << "keep me\n"; }
  { std::ofstream("twice.tcm") << "COFOUT trip\nDIAG 3\n"; }
  const std::string out = run("DATA triplet\n@twice\nCOFOUT\nfresh\nS\n");
  EXPECT_NE(out.find(" trip.cof already exists."), std::string::npos) << out;
  // The refusal ends the macro: its next line is neither a second name nor
  // a command of its own.
  EXPECT_NE(out.find("?TAVO- Line 1 of twice.tcm: the command failed; the macro is left."),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Diagnostic set to   3"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists("DIAG 3.cof"));
  EXPECT_EQ(lines("trip.cof"), std::vector<std::string>{"keep me"});
  EXPECT_TRUE(fs::exists("fresh.cof"));
}

TEST_F(CofFile, CoefficientsThatAreNotFiniteAreNeverWritten) {
  // The middle quadrupole of the triplet with a zero bore radius: first
  // order takes it as a drift, the system then has no image and the
  // third-order terms are infinite.
  std::ifstream in("triplet.tav");
  std::ofstream outFile("nobore.tav");
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (n == 7) line = "  4.02   ,    0.060000,   -0.226126,    0.000000";
    outFile << line << "\n";
  }
  outFile.close();
  const std::string out = run("DATA nobore\nCOFOUT nobore\nC\nSMAT\n");
  EXPECT_NE(out.find("?COFOUT- Coefficients that are not finite numbers: nobore.cof not written."),
            std::string::npos) << out;
  EXPECT_NE(out.find(" Element  6 (Quadrupole) has a zero bore radius."), std::string::npos);
  EXPECT_FALSE(fs::exists("nobore.cof"));
  for (const auto& f : files()) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

TEST_F(CofFile, BadNamesGiveAMessageAndNoFile) {
  const std::string longName(100, 'a');
  const std::string out = run("DATA triplet\nCOFOUT\nmy file\n" + longName + "\nnodir/x.cof\n\n" +
                              "COFOUT aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n\n");
  EXPECT_NE(out.find("?COFOUT- File name must not contain blanks."), std::string::npos) << out;
  EXPECT_NE(out.find("?COFOUT- File name longer than 13 characters."), std::string::npos);
  EXPECT_NE(out.find("?COFOUT- Unable to open nodir/x.cof"), std::string::npos);
  EXPECT_NE(out.find("?COFOUT- File name longer than 30 characters."), std::string::npos);
  EXPECT_FALSE(fs::exists("nodir"));
  for (const auto& f : files())
    EXPECT_TRUE(f.size() > 4 && f.substr(f.size() - 4) == ".tav") << "unexpected file " << f;
}

TEST_F(CofFile, NothingIsWrittenBeforeASystemIsLoaded) {
  const std::string out = run("COFOUT early\nTHIRD\nAB3\nAB2\n");
  EXPECT_FALSE(fs::exists("early.cof"));
  size_t n = 0;
  for (size_t at = out.find("No lens system loaded: type DATA first."); at != std::string::npos;
       at = out.find("No lens system loaded: type DATA first.", at + 1))
    ++n;
  EXPECT_EQ(n, 4u) << out;
}

TEST_F(CofFile, InputEndingInTheDialogLeavesNoFile) {
  run("DATA triplet\nCOFOUT trip\n");
  EXPECT_FALSE(fs::exists("trip.cof"));
  for (const auto& f : files()) EXPECT_EQ(f.find("trip.cof"), std::string::npos) << f;
  // The same from a macro that ends before the answer.
  { std::ofstream("m.tcm") << "COFOUT trip\n"; }
  run("DATA triplet\n@m\nSMAT\n");
  EXPECT_FALSE(fs::exists("trip.cof"));
}

TEST_F(CofFile, NonFiniteSumsNeverReachTheFile) {
  // A hand-made table: a drift and the system end; the third-order sums as
  // a zero magnification leaves them. KESTRIM could not read them back.
  abertest::Session t;
  t.s.bdata(3, 1) = 3.0;
  t.s.bdata(3, 2) = 0.2;
  t.s.bdata(4, 1) = 9.0;
  tavo::Mat4 a;
  tavo::stigmat(t.s, 3, a);
  t.s.aber3.total(1, 1) = INFINITY;
  t.s.aber3.total(1, 2) = NAN;
  t.in.str("S\n");
  tavo::cofout(t.s, a, "COFOUT inf.cof");
  EXPECT_FALSE(fs::exists("inf.cof"));
  EXPECT_NE(t.out.str().find("?COFOUT- Coefficients that are not finite numbers: inf.cof not written."),
            std::string::npos)
      << t.out.str();
}

}  // namespace
