// Input that must not hurt the analyses: the terminal ending at every
// prompt, letters where numbers belong, macros that end early, empty ray
// sets, sets without a paraxial pair, and outputs that cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class Input : public kqtest::WorkDir {
 protected:
  void SetUp() override {
    WorkDir::SetUp();
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "identity.cof", "identity.cof");
    auto v = kqtest::imagePair();
    v.push_back({1e-6, 1e-4, -1e-6, 2e-4, 0.5});
    v.push_back({-2e-6, -1e-4, 1e-6, -2e-4, -0.5});
    v.push_back({0.5e-6, 0, 0.5e-6, 0, 0});
    kqtest::writeSet("b.bin", v);
  }
  // No temporary file of an abandoned write is left, and every file but the
  // session's inputs is complete: ray sets hold whole records.
  void expectClean(const std::string& what) {
    for (const auto& e : fs::directory_iterator(".")) {
      const std::string n = e.path().filename().string();
      EXPECT_EQ(n.find(".tmp"), std::string::npos) << what << ": " << n;
      if (e.path().extension() == ".bin") {
        const auto size = fs::file_size(e.path());
        EXPECT_TRUE(size >= 108 && (size - 108) % 48 == 0) << what << ": " << n << " " << size;
      }
    }
  }
};

// Each command with a full set of answers.
const std::vector<std::vector<std::string>> kDialogs = {
    {"MAP/Q", "X", "2"},
    {"MAP/Q", "O", "1.5", "0"},
    {"MAXIMA", "3"},
    {"SORT/P s", "5", "0", "4", "M"},
    {"SORT/F s", "5", "0", "0"},
    {"SORT/C s", "0", "0.5", "C"},
    {"SHADOW g", "0", "H", "12.7", "6.35", "30", "Y"},
    {"FIND identity", "n", "12.7", "1 0", "0", "1", "1"},
    {"PLOT/Q", "Y", "X", "T", "", ""},
    {"TRANS identity", "n"},
    {"PROFIL", "X", "20"},
    {"DIFF d", "10", "0", "3"},
    {"DELTAE e"},
};

std::string join(const std::vector<std::string>& v, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && i < v.size(); ++i) s += v[i] + "\n";
  return s;
}

TEST_F(Input, TheTerminalMayEndAtEveryPrompt) {
  for (const auto& d : kDialogs) {
    for (size_t cut = 1; cut <= d.size(); ++cut) {
      Session s("DATA b\n" + join(d, cut));
      EXPECT_EQ(s.rc, 0) << d[0] << " cut " << cut;
      expectClean(d[0] + " cut " + std::to_string(cut));
    }
  }
}

TEST_F(Input, LettersAtEveryPromptAreAskedAgainOrTakenAsTheirOptions) {
  for (const auto& d : kDialogs) {
    for (size_t i = 1; i < d.size(); ++i) {
      auto bad = d;
      bad[i] = "qqq";
      Session s("DATA b\n" + join(bad, bad.size()));
      EXPECT_EQ(s.rc, 0) << d[0] << " letters at " << i;
      expectClean(d[0] + " letters at " + std::to_string(i));
    }
  }
}

TEST_F(Input, AMacroThatEndsEarlyReturnsToTheTerminal) {
  for (const auto& d : kDialogs) {
    for (size_t cut = 1; cut < d.size(); ++cut) {
      std::ofstream("m.kcm") << "DATA b\n" << join(d, cut);
      Session s("@m\nNTOT\nEXIT\n");
      EXPECT_EQ(s.rc, 0);
      EXPECT_TRUE(s.has("Total number of ray vectors =")) << d[0] << " cut " << cut << s.text();
      expectClean(d[0] + " macro cut " + std::to_string(cut));
    }
  }
}

TEST_F(Input, EmptySetsAndSetsWithoutAPairGiveMessages) {
  kqtest::writeSet("empty.bin", {});
  Session e("DATA empty\nMAP\nMAXIMA\nPLOT\nSORT x\n\n\nPROFIL/X x\nDIFF x\n\n\n\nEXIT\n");
  EXPECT_EQ(e.rc, 0);
  EXPECT_TRUE(e.has(" ? - No data for display.\n"));
  EXPECT_TRUE(e.has(" No data!\n"));
  EXPECT_TRUE(e.has(" ?KQSORT - Zero range.\n"));
  EXPECT_TRUE(e.has("  Zero range!\n"));
  EXPECT_TRUE(e.has(" ?KQDIFF - Zero range.\n"));
  EXPECT_FALSE(fs::exists("x.agp"));
  EXPECT_FALSE(fs::exists("xbr.fit"));

  // One ray: no pair to find the image planes from; the commands go on.
  kqtest::writeSet("one.bin", {Ray{1e-6, 0, 1e-6, 0, 0}});
  Session o("DATA one\nMAXIMA 0\nSORT o\n\n\nSHADOW os\n\n\n\n\n\nY\nEXIT\n");
  EXPECT_EQ(o.count(" Bad paraxial rays"), 3u) << o.text();
  EXPECT_TRUE(o.has("Of      1 rays processed,      0 passed through the grid."));
  // Two rays of the same angle: a degenerate pair.
  kqtest::writeSet("same.bin", {Ray{0, 1e-3, 0, 1e-3, 0}, Ray{1e-6, 1e-3, 0, 1e-3, 0},
                                Ray{1e-6, 0, 2e-6, 0, 0}});
  Session p("DATA same\nMAP/U\nX\n\nEXIT\n");
  EXPECT_TRUE(p.has(" Bad paraxial rays.\n"));
  EXPECT_TRUE(p.has(" Image plotted at Z =    0.0000     m"));
}

TEST_F(Input, UnwritableOutputsAreReportedAndNothingIsWritten) {
  Session s("DATA b\nSORT nodir/s\nPROFIL/X nodir/p\nDIFF nodir/d\nDELTAE nodir/e\n"
            "SHADOW nodir/g\nEXIT\n");
  EXPECT_TRUE(s.has(" ?KQSORT - Unable to open nodir/s.agp"));
  EXPECT_TRUE(s.has(" ?KQPROFILE - Unable to open nodir/px.fit"));
  EXPECT_TRUE(s.has(" ?KQDIFF - Unable to open nodir/d.fit"));
  EXPECT_TRUE(s.has(" ?KQDELTAE - Unable to open nodir/e.fit"));
  EXPECT_TRUE(s.has(" ?KQGRID - Unable to open nodir/g.bin."));
  EXPECT_FALSE(fs::exists("nodir"));
  // A file that cannot be the counter leaves the run number at 0.
  fs::create_directory("kestrim.run");
  Session m("DATA b\nMAP/U\nX\n\nEXIT\n");
  EXPECT_TRUE(m.has(" Run number    0 ......")) << m.text();
}

}  // namespace

namespace {

// Every analysis reads the set through the read channel in increasing ray
// order, a pass or two: no command reads a ray set some other way or steps
// back ray by ray.
TEST_F(Input, AnalysesReadTheSetInAFewForwardPasses) {
  auto v = kqtest::imagePair();
  for (int i = 0; i < 500; ++i) v.push_back({i * 1e-9, 1e-5, -i * 2e-9, 0, 0.001 * i});
  kqtest::writeSet("big.bin", v);
  const int n = static_cast<int>(v.size());
  for (const auto& d : kDialogs) {
    if (d[0].rfind("FIND", 0) == 0) continue;   // reads no rays
    std::istringstream in("DATA big\n" + join(d, d.size()));
    std::ostringstream out;
    kestrim::Kestrim k(in, out);
    kestrim::kqsession(k);
    // The count at DATA, then at most two passes and the pair.
    EXPECT_LE(k.rays.reads, 3LL * (n + 1) + 4) << d[0];
    EXPECT_LE(k.rays.rewinds, 4LL) << d[0];
    EXPECT_GE(k.rays.reads, 2LL * n) << d[0];
  }
}

}  // namespace
