// Faults a newcomer meets in the first hour with KESTRIM: SYNTH/A onto an
// existing ray set, FIND on a stigmatic map, plot files named as written
// before they are complete, and captions and axis letters beyond the page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Session;

class FirstHour : public kqtest::WorkDir {
 protected:
  void SetUp() override {
    kqtest::WorkDir::SetUp();
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  }
};

std::string slurp(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// n rays (and the paraxial pair SYNTH writes first) through the example
// triplet, at its X image; SYNTH/N names the set after the coefficient
// file, the other qualifiers take the set's name and ask for the file.
std::string synth(char qual, const std::string& set, int n) {
  const std::string head = qual == 'N' ? std::string("SYNTH/N triplet\n")
                                       : std::string("SYNTH/") + qual + " " + set + "\ntriplet\nn\n";
  return head + "1\n" + std::to_string(n) + "\nC\n10 10\n0 0\n0.3 0.3\n0 0\n0\n0 0\nQ\n";
}

// The y coordinates of the point records of a PostScript plot file.
std::vector<int> psYs(const std::string& ps) {
  std::vector<int> v;
  std::istringstream in(ps.substr(ps.find("newpath 0 0 moveto")));
  std::vector<std::string> tok;
  for (std::string t; in >> t;) tok.push_back(t);
  for (size_t i = 2; i < tok.size(); ++i)
    if (tok[i] == "vl" || tok[i] == "il") v.push_back(std::stoi(tok[i - 1]));
  return v;
}

}  // namespace

TEST_F(FirstHour, SynthAppendKeepsTheRaysAndCaptionOfTheSet) {
  // 40 rays and the pair into triplet.bin, then 25 and a pair appended:
  // the set holds 42 + 27 = 69.
  Session s(synth('N', "", 40) + synth('A', "triplet", 25) + "DATA triplet\nEXIT\n");
  EXPECT_TRUE(s.has("Appending after the 42 rays the file holds.")) << s.text();
  EXPECT_TRUE(s.has("    69 rays in file.")) << s.text();
  EXPECT_EQ(s.k.ntot, 69);
}

TEST_F(FirstHour, SynthAppendRefusesWhatIsNotARaySet) {
  { std::ofstream("notes.bin") << "my notes"; }
  Session s(synth('A', "notes", 10) + "EXIT\n");
  EXPECT_TRUE(s.has("?KQIO- notes.bin is not a ray set; no rays appended to it.")) << s.text();
  EXPECT_EQ(slurp("notes.bin"), "my notes");
}

TEST_F(FirstHour, FindOnAStigmaticMapSaysWhyThereIsNoAngle) {
  Session s("FIND triplet\nn\n\n0.0508 0\n\nEXIT\n");
  EXPECT_TRUE(s.has("D01 is zero")) << s.text();
  EXPECT_FALSE(s.has("NaN")) << s.text();
  EXPECT_FALSE(s.has("Acute grid angle")) << s.text();
}

TEST_F(FirstHour, APlotFileIsNamedWrittenOnlyWhenComplete) {
  Session s(synth('N', "", 50) + "MAP/E S\nMAP/Q\nX\n\n" + "MAP/Q\nX\n\n" + "CLOSE\nEXIT\n");
  // While open the file is announced as open; the next plot completes it.
  EXPECT_TRUE(s.has(" Plot going to: plt01.ps (open, complete at CLOSE)")) << s.text();
  const size_t going2 = s.text().find(" Plot going to: plt02.ps");
  const size_t written1 = s.text().find(" Plot written to: plt01.ps");
  ASSERT_NE(written1, std::string::npos) << s.text();
  EXPECT_LT(written1, going2);
  EXPECT_EQ(s.count(" Plot written to: plt02.ps"), 0u);
  EXPECT_TRUE(s.has(" Plot output file plt02.ps closed."));
}

TEST_F(FirstHour, MapCaptionLandsOnThePage) {
  Session s(synth('N', "", 200) + "MAP/E S\nMAP/Q\nX\n\nCLOSE\nEXIT\n");
  const std::vector<int> ys = psYs(slurp("plt01.ps"));
  ASSERT_FALSE(ys.empty());
  // The square box takes 2w of the 2.15w high plot: its foot stands at
  // 0.15/2.15 of the 7027 units of height, 490 units up. The caption is
  // drawn between the foot of the page and the box, nothing at the foot.
  int below = 0, atFoot = 0;
  for (int y : ys) {
    below += y > 1 && y < 480;
    atFoot += y <= 1;
  }
  EXPECT_GT(below, 20);
  EXPECT_EQ(atFoot, 0);
}

TEST_F(FirstHour, PlotVerticalLetterStaysBesideItsAxis) {
  // A wide horizontal span (T, mrad as rad) against a narrow vertical one
  // (X, um as m): the letter must stand beside the box, not far below it.
  Session s(synth('N', "", 200) + "PLOT/Q\nX\nT\nX\n\n\nCLOSE\nEXIT\n");
  const std::vector<int> ys = psYs(slurp("plt01.ps"));
  ASSERT_FALSE(ys.empty());
  int atFoot = 0;
  for (int y : ys) atFoot += y <= 1;
  EXPECT_EQ(atFoot, 0) << "strokes pressed onto or below the page's foot";
}

TEST_F(FirstHour, DataOfTheOpenOutputSetCompletesIt) {
  Session s(synth('N', "", 30) + "SAVE s\nDATA s\nEXIT\n");
  EXPECT_TRUE(s.has("Output ray set s.bin completed.")) << s.text();
  EXPECT_FALSE(s.has("Unable to open s.bin")) << s.text();
  EXPECT_TRUE(s.has("R: Rays file opened: s.bin")) << s.text();
}

TEST_F(FirstHour, AFailedDataKeepsTheCurrentSet) {
  { std::ofstream("junk.bin") << "x"; }
  Session s(synth('N', "", 30) + "DATA missing\nDATA junk\nEXIT\n");
  EXPECT_TRUE(s.has("Unable to open missing.bin")) << s.text();
  EXPECT_TRUE(s.has("junk.bin is not a ray set")) << s.text();
  // 30 rays and the paraxial pair.
  EXPECT_EQ(s.count("The current ray set is kept (32 rays)."), 2u) << s.text();
  EXPECT_EQ(s.k.ntot, 32);
}
