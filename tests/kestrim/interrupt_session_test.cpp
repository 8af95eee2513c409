// Ctrl-C in whole KESTRIM sessions: SYNTH interrupted over an existing ray
// set leaves that set as it was, a map interrupted half-way through the
// rays leaves the set readable from its start, a macro chain ends with one
// message, and a second Ctrl-C at the command prompt ends the session.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gxlib/console/gxargs.h"
#include "gxlib/fortran/interrupt.h"
#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;

// The terminal as the line editor presents it; "^C" is the interrupt key
// pressed while that read waits.
class Keyboard : public gx::LineSource {
 public:
  explicit Keyboard(const std::string& typed) {
    std::istringstream in(typed);
    for (std::string l; std::getline(in, l);) lines_.push_back(l);
  }
  bool readLine(std::string_view, std::string& line) override {
    if (at_ >= lines_.size()) return false;
    const std::string& l = lines_[at_++];
    if (l == "^C") {
      gx::interruptRaise();
      return false;
    }
    line = l;
    return true;
  }

 private:
  std::vector<std::string> lines_;
  size_t at_ = 0;
};

// n rays through the example triplet, the set named after the coefficient
// file (triplet.bin).
std::string synth(int n) {
  return "SYNTH/N triplet\n1\n" + std::to_string(n) +
         "\nC\n10 10\n0 0\n0.3 0.3\n0 0\n0\n0 0\nQ\n";
}

class Interrupt : public kqtest::WorkDir {
 protected:
  void SetUp() override {
    kqtest::WorkDir::SetUp();
    gx::interruptClear();
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  }
  void TearDown() override {
    gx::interruptClear();
    kqtest::WorkDir::TearDown();
  }
  // A session at the terminal; Ctrl-C is pressed at poll pollAt of long
  // work (counted over the session; 0: never).
  std::string session(const std::string& typed, int& rc, int pollAt = 0) {
    Keyboard keys(typed);
    std::istringstream none;
    std::ostringstream out;
    gx::RunOptions o;
    o.lines = &keys;
    polls_ = 0;
    o.onPoll = [&] {
      if (++polls_ == pollAt) gx::interruptRaise();
    };
    // SYNTH seeds its random rays from the clock: every session the same
    // rays, however slowly the sessions run.
    o.clock = [] { return std::string("10:20:30"); };
    rc = kestrim::run(none, out, o);
    return out.str();
  }
  int polls_ = 0;
};

TEST_F(Interrupt, SynthInterruptedKeepsTheSetItWasReplacing) {
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "identity.cof", "identity.cof");
  const std::string focal = "MAP/U\nF\n\n";
  int rc = -1;
  std::string out = session(synth(2000) + focal + "EXIT\n", rc);
  ASSERT_EQ(rc, 0) << out;
  const std::string before = kqtest::slurp("triplet.bin");
  ASSERT_EQ(kqtest::readSet("triplet.bin").size(), 2002u);
  const int first = polls_;
  auto plane = [](const std::string& t, size_t from) {
    const size_t a = t.find(" Image plotted at Z", from);
    return a == std::string::npos ? std::string() : t.substr(a, t.find('\n', a) - a);
  };
  const std::string z = plane(out, 0);
  ASSERT_FALSE(z.empty()) << out;
  // The same set rewritten from the identity map is stopped after some
  // thousands of its 20000 rays: its caption and focal positions were taken.
  out = session(synth(2000) + focal +
                    "SYNTH triplet\nidentity\nn\n1\n20000\n\n10\n\n0.2\n\n0.5\n0.5 0.5\nq\n" +
                    focal + "NTOT\nEXIT\n",
                rc, first + 6);
  EXPECT_EQ(rc, 0) << out;
  const size_t cut = out.find("\n Interrupted\n");
  ASSERT_NE(cut, std::string::npos) << out;
  EXPECT_NE(out.rfind("rays generated", cut), std::string::npos) << out;
  EXPECT_EQ(kqtest::slurp("triplet.bin"), before);
  // The set in memory is the one before: its rays, its focal planes.
  EXPECT_EQ(plane(out, cut), z) << out;
  EXPECT_NE(out.find("Total number of ray vectors =    2002", cut), std::string::npos) << out;
  // No temporary of the discarded set is left beside it.
  for (const auto& e : fs::directory_iterator("."))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(Interrupt, AMapInterruptedLeavesTheSetReadableFromItsStart) {
  int rc = -1;
  const std::string map = "MAP/U\nX\n\n";
  session(synth(5000) + "EXIT\n", rc);
  ASSERT_EQ(rc, 0);
  const int synthPolls = polls_;
  const std::string whole = session(synth(5000) + map + "EXIT\n", rc);
  ASSERT_EQ(rc, 0) << whole;
  // The map's plane, ray count and extents (the plot's run number moves on).
  auto lastMap = [](const std::string& t) {
    const size_t a = t.rfind(" Image plotted at Z");
    return a == std::string::npos ? std::string() : t.substr(a, t.find("Run number", a) - a);
  };
  const std::string once = lastMap(whole);
  ASSERT_NE(once.find("5002 rays."), std::string::npos) << whole;
  // Stopped part-way through the rays, then drawn again.
  const std::string out = session(synth(5000) + map + map + "EXIT\n", rc, 0);
  ASSERT_EQ(rc, 0);
  const int mapPolls = polls_ - synthPolls;
  ASSERT_GE(mapPolls, 8) << "a map of 5000 rays polls a few times per pass";
  const std::string cut = session(synth(5000) + map + map + "EXIT\n", rc, synthPolls + 3);
  EXPECT_EQ(rc, 0) << cut;
  ASSERT_NE(cut.find("\n Interrupted\n"), std::string::npos) << cut;
  // The map after the interrupted one is the map an uninterrupted session
  // draws, to the last digit.
  EXPECT_EQ(lastMap(cut), once);
  EXPECT_LT(cut.find(" Interrupted"), cut.rfind(" Image plotted at Z")) << cut;
}

TEST_F(Interrupt, AMacroChainEndsWithOneMessage) {
  std::ofstream("inner.kcm") << synth(20000) << "NTOT\n";
  std::ofstream("outer.kcm") << "@inner\nREG/L\n";
  int rc = -1;
  // Polls: one before each of @outer, @inner and SYNTH, then SYNTH's own.
  const std::string out = session("@outer\nNTOT\nEXIT\n", rc, 6);
  EXPECT_EQ(rc, 0) << out;
  size_t n = 0;
  for (size_t p = out.find("Interrupted"); p != std::string::npos; p = out.find("Interrupted", p + 1)) ++n;
  EXPECT_EQ(n, 1u) << out;
  EXPECT_NE(out.find("Interrupted at line 1 of inner.kcm; the macro is left."), std::string::npos)
      << out;
  // Neither macro went on; the terminal's NTOT ran, on no set at all.
  EXPECT_NE(out.find("Total number of ray vectors =       0"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists("triplet.bin"));
}

TEST_F(Interrupt, ASecondCtrlCAtTheCommandPromptEndsTheSession) {
  int rc = -1;
  std::string out = session("^C\nNTOT\n^C\nNTOT\nEXIT\n", rc);
  EXPECT_EQ(rc, 0) << out;
  out = session(synth(200) + "^C\n^C\nNTOT\n", rc);
  EXPECT_EQ(rc, 130) << out;
  EXPECT_NE(out.find("Interrupted: KESTRIM ends."), std::string::npos) << out;
  EXPECT_EQ(out.find("Total number of ray vectors"), std::string::npos) << out;
  // The set written before is complete.
  EXPECT_EQ(kqtest::readSet("triplet.bin").size(), 202u);
}

}  // namespace
