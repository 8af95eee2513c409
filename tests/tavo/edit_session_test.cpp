// Element editing and the final listing, through whole TAVO sessions.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"

namespace {

namespace fs = std::filesystem;
using abertest::numbersAfter;

class Edit : public abertest::SessionDir {
 protected:
  // Particle, beam, drift 0.5, quadrupole, drift 0.2, end: six rows.
  void sixRows() {
    writeSystem("six.tav", "Six rows",
                {{0, 1, 1.007276, 3, 0},
                 {1, 1e-5, 1e-3, 1e-5, 1e-3, 0},
                 {3, 0.5, 0, 0},
                 {4.1, 0.1, 0.3, 0.01},
                 {3, 0.2, 0, 0},
                 {9, 0, 0, 0}});
  }
  // The rows (columns 1..4) of a saved system file, from its third line on.
  std::vector<std::vector<double>> saved(const std::string& name) {
    std::vector<std::vector<double>> rows;
    auto l = lines(name);
    for (size_t i = 3; i < l.size() && l[i].find("SENTINEL") == std::string::npos; ++i) {
      std::vector<double> r;
      std::string t = l[i];
      for (char& ch : t)
        if (ch == ',') ch = ' ';
      std::istringstream in(t);
      double v;
      while (in >> v) r.push_back(v);
      rows.push_back(r);
    }
    return rows;
  }
};

TEST_F(Edit, ElementNumberOutOfRangeAsksAndZeroEditsTheRowBeforeTheEnd) {
  sixRows();
  std::string o = run("DATA six\nELEMEN 99\n0\nn\nELEMEN\nabc\nELEMEN 3\nn\n");
  EXPECT_NE(o.find("?TAVO -  99 is not a valid element number, max =  6"), std::string::npos);
  EXPECT_NE(o.find("Element number > "), std::string::npos);
  EXPECT_NE(o.find("ELEMENT -  5"), std::string::npos);   // the drift before the end
  // A letter at the prompt returns to the command prompt; ELEMEN 3 still runs.
  EXPECT_NE(o.find("ELEMENT -  3"), std::string::npos);
}

TEST_F(Edit, TypeCodeRulesOfTheEditor) {
  sixRows();
  // 1 and 0.5 (kinds 1 and 0) are refused, 9 ends the edit unchanged.
  std::string o = run("DATA six\nELEMEN 4\ny\n1\n0.5\n9\nSAVE a\n"
                      // 0 keeps the code; the field becomes 0.4.
                      "ELEMEN 4\ny\n0\n\n0.4\n\nSAVE b\n"
                      // The quadrupole becomes a drift: only its length is asked.
                      "ELEMEN 4\ny\n3\n0.15\nSAVE c\n");
  EXPECT_NE(o.find("%ELEM-       1.00 Illegal type code"), std::string::npos);
  EXPECT_NE(o.find("%ELEM-       0.50 Illegal type code"), std::string::npos);
  auto a = saved("a.tav");
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[1], (std::vector<double>{4.1, 0.1, 0.3, 0.01}));
  auto b = saved("b.tav");
  EXPECT_EQ(b[1], (std::vector<double>{4.1, 0.1, 0.4, 0.01}));
  auto c = saved("c.tav");
  EXPECT_EQ(c[1][0], 3.0);
  EXPECT_EQ(c[1][1], 0.15);
  // The length grew by 0.05 m.
  EXPECT_NE(o.find("%System total length changed by  5.000E-02 m."), std::string::npos);
}

TEST_F(Edit, SystemEndAndParticleStaySound) {
  sixRows();
  std::string o = run("DATA six\nELEMEN 6\ny\n3\n9\n"
                      "ELEMEN 1\ny\n\n\n-2\n0\n4\n\nSAVE d\nSMAT\n");
  // The system end cannot become another element.
  EXPECT_NE(o.find("%ELEM- The system end must stay"), std::string::npos);
  EXPECT_NE(o.find("%ELEM- The particle energy must be positive."), std::string::npos);
  auto l = lines("d.tav");
  ASSERT_GE(l.size(), 2u);
  EXPECT_NE(l[1].find("4.000000"), std::string::npos);   // the new energy
  EXPECT_EQ(saved("d.tav").back()[0], 9.0);
}

TEST_F(Edit, EndOfAMacroInsideAnEditChangesNothing) {
  sixRows();
  {
    std::ofstream m("part.tcm");
    m << "ELEMEN 4\ny\n\n0.1\n0.5\n";   // ends before the radius is asked
  }
  run("DATA six\n@part\nSAVE e\n");
  EXPECT_EQ(saved("e.tav")[1], (std::vector<double>{4.1, 0.1, 0.3, 0.01}));
}

TEST_F(Edit, InsertAndRemove) {
  sixRows();
  std::string o = run("DATA six\nINSERT 2\nSAVE f\nREMOVE 1\nREMOVE 2\nINSERT 1\n"
                      "REMOVE 7\nINSERT 9\nREMOVE 3\nSAVE g\nINSERT\n0\nREMOVE\nx\n4\nSAVE h\n");
  // A zero-length drift in row 3, count 7.
  EXPECT_NE(o.find("No. of elements changed by  1 to  7"), std::string::npos);
  auto f = saved("f.tav");
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0], (std::vector<double>{3, 0, 0, 0}));
  EXPECT_EQ(f[1], (std::vector<double>{3, 0.5, 0, 0}));
  EXPECT_NE(o.find("Cannot remove beam or particle element."), std::string::npos);
  EXPECT_NE(o.find("Cannot insert an element there."), std::string::npos);
  // The system end (row 7) is neither removed nor followed by a row.
  EXPECT_NE(o.find("Last element is number  6"), std::string::npos);
  EXPECT_EQ(saved("g.tav"), saved("six.tav"));
  // An answer of 0 does nothing; a letter is asked again.
  EXPECT_NE(o.find("After which element? > "), std::string::npos);
  EXPECT_NE(o.find("Which element? > "), std::string::npos);
  auto h = saved("h.tav");
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(h[1], (std::vector<double>{3, 0.2, 0, 0}));
}

TEST_F(Edit, FullTableRefusesInsertAndAcceptsRemove) {
  std::vector<std::vector<double>> rows = {{0, 1, 1.007276, 3, 0}, {1, 1e-5, 1e-3, 1e-5, 1e-3, 0}};
  for (int r = 3; r < 40; ++r) rows.push_back({3, 0.01 * r, 0, 0});
  rows.push_back({9, 0, 0, 0});
  writeSystem("full.tav", "Forty rows", rows);
  std::string o = run("DATA full\nINSERT 5\nREMOVE 5\nINSERT 5\nINSERT 5\n");
  EXPECT_NE(o.find("System already of maximum number of elements"), std::string::npos);
  EXPECT_NE(o.find("No. of elements changed by -1 to 39"), std::string::npos);
  EXPECT_NE(o.find("No. of elements changed by  1 to 40"), std::string::npos);
  EXPECT_EQ(o.find("to 41"), std::string::npos);
  EXPECT_EQ(o.find("No end element"), std::string::npos);
}

TEST_F(Edit, RotationsAndDisplacementsMoveWithTheirRows) {
  sixRows();
  std::string o = run("DATA six\nROTN/I\n0.01\nDISP/I\n0.002,0.003\nINSERT 3\nROTN/I\n\n"
                      "DISP/I\n\nREMOVE 3\nROTN/I\n\nDISP Z\nDISP/I\n\nROTN A 0.5\nROTN/I\n\n");
  // The quadrupole went from row 4 to row 5 and back, its settings with it.
  EXPECT_NE(o.find(" 5 Magn Quadrupole Rotation =     0.0100 rad > "), std::string::npos);
  EXPECT_NE(o.find(" 5 Magn Quadrupole Displacement (x,y) =     0.0020,    0.0030 (m) > "),
            std::string::npos);
  EXPECT_NE(o.find(" 4 Magn Quadrupole Rotation =     0.0100 rad > "), std::string::npos);
  EXPECT_NE(o.find("All displacements zeroed."), std::string::npos);
  EXPECT_NE(o.find(" 4 Magn Quadrupole Displacement (x,y) =     0.0000,    0.0000 (m) > "),
            std::string::npos);
  EXPECT_NE(o.find("All rotations set to    0.50000 Pi."), std::string::npos);
  EXPECT_NE(o.find(" 4 Magn Quadrupole Rotation =     1.5708 rad > "), std::string::npos);
}

TEST_F(Edit, SqueezMergesDriftRuns) {
  writeSystem("runs.tav", "Drift runs",
              {{0, 1, 1.007276, 3, 0},
               {1, 1e-5, 1e-3, 1e-5, 1e-3, 0},
               {3, 0.5, 0, 0},
               {3, 0.25, 0, 0},
               {4.1, 0.1, 0.3, 0.01},
               {3, 0.125, 0, 0},
               {3, 0.0625, 0, 0},
               {9, 0, 0, 0}});
  std::string o = run("DATA runs\nSQUEEZ\nSAVE sq\n");
  auto r = saved("sq.tav");
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0], (std::vector<double>{3, 0.75, 0, 0}));
  EXPECT_EQ(r[1], (std::vector<double>{4.1, 0.1, 0.3, 0.01}));
  EXPECT_EQ(r[2], (std::vector<double>{3, 0.1875, 0, 0}));
  EXPECT_EQ(r[3][0], 9.0);
  EXPECT_NE(o.find("No. of elements changed by -2 to  6"), std::string::npos);
}

TEST_F(Edit, EffectiveLengthsTwice) {
  writeSystem("eff.tav", "Effect",
              {{0, 1, 1.007276, 3, 0},
               {1, 1e-5, 1e-3, 1e-5, 1e-3, 0},
               {3, 0.5, 0, 0},
               {4.1, 0.1, 0.3, 0.01},
               {3, 0.5, 0, 0},
               {4.1, 0.1, 0.3, 0.01},
               {3, 0.003, 0, 0},
               {9, 0, 0, 0}});
  std::string o = run("DATA eff\nEFFECT\nSAVE e1\nEFFECT\nSAVE e2\n");
  auto a = saved("e1.tav");
  EXPECT_NEAR(a[1][1], 0.1 + 1.1 * 0.01, 1e-9);
  EXPECT_NEAR(a[0][1], 0.5 - 0.55 * 0.01, 1e-9);
  // The middle drift serves both lenses.
  EXPECT_NEAR(a[2][1], 0.5 - 2 * 0.55 * 0.01, 1e-9);
  EXPECT_EQ(a[4][1], 0.0);   // 0.003 m is too short
  EXPECT_NE(o.find("Quadrupole lens in position  4 extended by  1.10000E-02 m (1.1*[bore radius])."),
            std::string::npos);
  EXPECT_NE(o.find("Following flanking drift of lens in position  6 not long enough, setting it to zero."),
            std::string::npos);
  auto b = saved("e2.tav");
  EXPECT_NEAR(b[1][1], 0.1 + 2 * 1.1 * 0.01, 1e-9);
  EXPECT_NEAR(b[0][1], 0.5 - 2 * 0.55 * 0.01, 1e-9);
}

TEST_F(Edit, EffectWithoutFlankingDrifts) {
  writeSystem("bare.tav", "Bare",
              {{0, 1, 1.007276, 3, 0},
               {1, 1e-5, 1e-3, 1e-5, 1e-3, 0},
               {4.1, 0.1, 0.3, 0.01},
               {9, 0, 0, 0}});
  std::string o = run("DATA bare\nEFFECT\n");
  EXPECT_NE(o.find("  No prior flanking drift on lens in position  3, unable to accomodate effective length."),
            std::string::npos);
  EXPECT_NE(o.find("  No following flanking drift of lens in position  3, unable to accomodate effective length."),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// The final listing.

TEST_F(Edit, ExitAtALevelWritesTheListing) {
  std::string o = run("DATA triplet\nEXIT 1\nSMAT\n");
  EXPECT_NE(o.find("Output data in file triplet.lpt"), std::string::npos);
  EXPECT_EQ(o.find("System Beam Matrix"), std::string::npos);   // the run ended
  auto l = lines("triplet.lpt");
  ASSERT_GT(l.size(), 20u);
  EXPECT_NE(l[0].find("Separated triplet"), std::string::npos);
  EXPECT_NE(l[0].find("    file triplet.tav"), std::string::npos);
  std::string all;
  for (auto& x : l) all += x + "\n";
  // 3 + 0.06 + 0.05 + 0.06 + 0.05 + 0.06 + 0.2 m.
  EXPECT_NE(all.find("        TOTAL LENGTH =    3.48000"), std::string::npos);
  EXPECT_NE(all.find(" Diagnostic set to  1"), std::string::npos);
  EXPECT_NE(all.find("    6 Quadrupole 4.02 6.0000E-02-0.2261     6.0000E-03"), std::string::npos);
  EXPECT_NE(all.find(" Final beam vector;"), std::string::npos);
  EXPECT_NE(all.find("   10 System End"), std::string::npos);
}

TEST_F(Edit, ListingThatCannotBeCreatedGoesToTheConsole) {
  fs::create_directory("triplet.lpt");   // the name is taken
  std::string o = run("DATA triplet\nEXIT 4\n");
  EXPECT_NE(o.find("Unable to open triplet.lpt for output."), std::string::npos);
  EXPECT_NE(o.find("Output data in file CONSOLE"), std::string::npos);
  EXPECT_NE(o.find("TOTAL LENGTH =    3.48000"), std::string::npos);
  EXPECT_NE(o.find("Geometric Parameters"), std::string::npos);   // level 4
  EXPECT_TRUE(fs::is_directory("triplet.lpt"));
  // An earlier listing is never overwritten.
  { std::ofstream("doublet.lpt") << "earlier\n"; }
  o = run("DATA doublet\nEXIT 1\n");
  EXPECT_NE(o.find("Output data in file CONSOLE"), std::string::npos);
  EXPECT_EQ(lines("doublet.lpt"), std::vector<std::string>{"earlier"});
}

TEST_F(Edit, ExitTenAsksForTheLevel) {
  std::string o = run("DATA triplet\nEXIT 10\n0\n");
  EXPECT_NE(o.find("IDIAG for final run  > "), std::string::npos);
  EXPECT_FALSE(fs::exists("triplet.lpt"));
  o = run("DATA triplet\nEXIT 12\nx\nEXIT 12\n2\n");
  EXPECT_NE(o.find("Output data in file triplet.lpt"), std::string::npos);
  std::string all;
  for (auto& x : lines("triplet.lpt")) all += x + "\n";
  EXPECT_NE(all.find(" Diagnostic set to  2"), std::string::npos);
  EXPECT_NE(all.find("Quadrupole  MATRIX"), std::string::npos);   // level 2 prints matrices
}

TEST_F(Edit, DataAtAPositiveLevelListsAndEnds) {
  std::string o = run("DIAG 3\nDATA doublet\nSMAT\n");
  EXPECT_NE(o.find("Output data in file doublet.lpt"), std::string::npos);
  EXPECT_EQ(o.find("System Beam Matrix"), std::string::npos);
  std::string all;
  for (auto& x : lines("doublet.lpt")) all += x + "\n";
  EXPECT_NE(all.find(" Diagnostic set to  3"), std::string::npos);
  EXPECT_NE(all.find("System      MATRIX"), std::string::npos);   // level 3: running matrix
}

}  // namespace
