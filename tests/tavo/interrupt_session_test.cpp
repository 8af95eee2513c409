// Ctrl-C in whole TAVO sessions: a question or a fit interrupted leaves the
// system exactly as it was before the command, a file being written never
// appears, a macro chain ends with one message, and a second Ctrl-C at the
// command prompt ends the session with status 130.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "gxlib/fortran/interrupt.h"
#include "session.h"

namespace {

// The terminal as the line editor presents it: each line typed in turn; a
// line "^C" is the interrupt key pressed while that read waits.
class Keyboard : public gx::LineSource {
 public:
  explicit Keyboard(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  bool readLine(std::string_view prompt, std::string& line) override {
    if (at_ >= lines_.size()) return false;
    prompts.emplace_back(prompt);
    const std::string& l = lines_[at_++];
    if (l == "^C") {
      gx::interruptRaise();
      return false;
    }
    line = l;
    return true;
  }

  std::vector<std::string> prompts;  // the prompt of each line read

 private:
  std::vector<std::string> lines_;
  size_t at_ = 0;
};

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

class Interrupt : public abertest::SessionDir {
 protected:
  void SetUp() override {
    abertest::SessionDir::SetUp();
    gx::interruptClear();
    // The example triplet with its fields a few per cent off: STIG has work.
    writeSystem("detuned.tav", "Detuned triplet",
                {{0.0, 1.0, 1.007276, 3.0, -1.0}, {1.0, 1e-5, 2e-4, 1e-5, 2e-4, 0.01},
                 {3, 3.0, 0, 0}, {4.1, 0.06, 0.125, 0.006}, {3, 0.05, 0, 0},
                 {4.02, 0.06, -0.22, 0.006}, {3, 0.05, 0, 0}, {4.1, 0.06, 0.125, 0.006},
                 {3, 0.2, 0, 0}, {9, 0, 0, 0}});
  }
  void TearDown() override {
    gx::interruptClear();
    abertest::SessionDir::TearDown();
  }
  // A session at the terminal; pollAt > 0 presses Ctrl-C at that poll of
  // long work (counted over the whole session).
  std::string session(const std::vector<std::string>& typed, int& rc, int pollAt = 0,
                      bool terminal = true) {
    Keyboard keys(typed);
    std::istringstream piped;
    std::string all;
    for (const std::string& l : typed) all += l + "\n";
    if (!terminal) piped.str(all);
    std::ostringstream out;
    gx::RunOptions o;
    o.lines = terminal ? &keys : nullptr;
    int polls = 0;
    o.onPoll = [&] {
      if (++polls == pollAt) gx::interruptRaise();
    };
    rc = tavo::run(piped, out, o);
    polls_ = polls;
    prompts_ = keys.prompts;
    return out.str();
  }
  int polls_ = 0;
  std::vector<std::string> prompts_;
};

TEST_F(Interrupt, AQuestionInterruptedLeavesTheSystemAsItWas) {
  int rc = -1;
  // MASK has taken the variable mask when its question for the coefficient
  // mask is interrupted; the next MASK shows the mask as it was.
  const std::vector<std::string> typed = {"DATA detuned", "SAVE before", "SYSTEM", "MASK",
                                          "1 4 3 1", "1", "^C", "SAVE after", "SYSTEM", "MASK",
                                          "1"};
  const std::string out = session(typed, rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(count(out, "\n Interrupted\n"), 1u) << out;
  ASSERT_EQ(prompts_.size(), typed.size());
  // The first row of the variable mask, as each MASK offers it.
  EXPECT_EQ(prompts_[10], prompts_[4]);
  EXPECT_EQ(lines("after.tav"), lines("before.tav"));
  // The system's optics as they were: both SYSTEM listings agree.
  const auto f1 = abertest::numbersAfter(out, "Focal length", 2);
  const auto f2 = abertest::numbersAfter(out, "Focal length", 2, 1);
  ASSERT_TRUE(std::isfinite(f1[0]) && std::isfinite(f1[1])) << out;
  EXPECT_EQ(f1, f2) << out;
}

TEST_F(Interrupt, AFitInterruptedMidwayKeepsTheFieldsAndCanRunAgain) {
  int rc = -1;
  // Uninterrupted, for the number of polls a whole fit makes and its result.
  const std::string whole = session({"DATA detuned", "STIG", "S", "SAVE fitted", "EXIT"}, rc);
  ASSERT_EQ(rc, 0);
  const int fitPolls = polls_;
  ASSERT_GT(fitPolls, 20) << whole;
  const std::string out =
      session({"DATA detuned", "SAVE before", "STIG", "S", "SAVE after", "STIG", "S", "SAVE again",
               "EXIT"},
              rc, fitPolls / 2);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(count(out, "Interrupted"), 1u) << out;
  // Half-way through the fit the fields had moved: they are back.
  EXPECT_EQ(lines("after.tav"), lines("before.tav"));
  // The fit run again from there ends where an uninterrupted one does.
  EXPECT_EQ(lines("again.tav"), lines("fitted.tav"));
}

TEST_F(Interrupt, AnIntegrationInterruptedReturnsAndTheNextOneIsWhole) {
  int rc = -1;
  const std::string whole = session({"DATA detuned", "EXACT", "EXIT"}, rc);
  ASSERT_EQ(rc, 0);
  // The integration steps poll: an EXACT listing takes many of them.
  const int exactPolls = polls_;
  ASSERT_GT(exactPolls, 100) << whole;
  const std::string out = session({"DATA detuned", "EXACT", "EXACT", "EXIT"}, rc, exactPolls / 2);
  EXPECT_EQ(rc, 0) << out;
  ASSERT_EQ(count(out, "\n Interrupted\n"), 1u) << out;
  // What a whole EXACT prints, the one after the interrupted one prints.
  const std::string loaded = session({"DATA detuned", "EXIT"}, rc);
  ASSERT_EQ(whole.compare(0, loaded.size(), loaded), 0);
  const std::string listing = whole.substr(loaded.size());
  ASSERT_GT(listing.size(), 200u) << whole;
  EXPECT_EQ(out.substr(out.find(" Interrupted\n") + 13), listing) << out;
}

TEST_F(Interrupt, AFileBeingWrittenNeverAppears) {
  int rc = -1;
  // COFOUT has its file open while it asks for the collimator's shape.
  const std::string out =
      session({"DATA detuned", "COFOUT mine", "^C", "COFOUT mine", "C", "EXIT"}, rc);
  EXPECT_EQ(rc, 0) << out;
  ASSERT_EQ(count(out, "Interrupted"), 1u) << out;
  const std::string first = out.substr(0, out.find("Interrupted"));
  EXPECT_EQ(first.find("Coefficients written"), std::string::npos) << out;
  // Only the second COFOUT wrote the file, and nothing else is left.
  EXPECT_NE(out.find("Coefficients written to mine.cof"), std::string::npos) << out;
  for (const std::string& f : files())
    EXPECT_TRUE(f == "mine.cof" || f.find(".tav") != std::string::npos) << f;
}

TEST_F(Interrupt, AMacroChainEndsWithOneMessage) {
  std::ofstream("inner.tcm") << "STIG\nS\nSYSTEM\n";
  std::ofstream("outer.tcm") << "@inner\nSAVE notreached\n";
  // The end of a macro sets the diagnostic level: the system saved for
  // comparison has been through one.
  std::ofstream("prep.tcm") << "SYSTEM\n";
  int rc = -1;
  session({"DATA detuned", "STIG", "EXIT"}, rc);
  const int fitPolls = polls_ - 3;
  // Polls: one before each command up to STIG (seven), then the fit's own.
  const std::string out = session(
      {"DATA detuned", "@prep", "SAVE before", "@outer", "SAVE after", "EXIT"}, rc, 7 + fitPolls / 2);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(count(out, "Interrupted at line 1 of inner.tcm; the macro is left."), 1u) << out;
  EXPECT_EQ(count(out, "Interrupted"), 1u) << out;
  EXPECT_FALSE(std::filesystem::exists("notreached.tav"));
  EXPECT_EQ(lines("after.tav"), lines("before.tav"));
}

TEST_F(Interrupt, ASecondCtrlCAtTheCommandPromptEndsTheSession) {
  int rc = -1;
  // A press at an idle prompt only says how to end; a line typed resets it.
  std::string out = session({"DATA detuned", "^C", "SYSTEM", "^C", "PTF", "", "EXIT"}, rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(count(out, "Ctrl-C again, Ctrl-D or EXIT ends TAVO."), 2u) << out;
  // Two in a row end it, as EXIT would, with the status of an interrupt.
  out = session({"DATA detuned", "^C", "^C", "SYSTEM"}, rc);
  EXPECT_EQ(rc, 130) << out;
  EXPECT_EQ(count(out, "Interrupted: TAVO ends."), 1u) << out;
  EXPECT_EQ(out.find("M(1,1)"), std::string::npos) << out;
  // After a cancelled command one more press is the second.
  out = session({"DATA detuned", "STIG", "^C", "SYSTEM"}, rc, 3);
  EXPECT_EQ(rc, 130) << out;
  EXPECT_EQ(count(out, "\n Interrupted\n"), 1u) << out;
  EXPECT_EQ(count(out, "Interrupted: TAVO ends."), 1u) << out;
}

TEST_F(Interrupt, WithNobodyAtTheTerminalTheRunStops) {
  int rc = -1;
  const std::string out =
      session({"DATA detuned", "SAVE before", "STIG", "S", "SAVE after", "EXIT"}, rc, 3, false);
  EXPECT_EQ(rc, 130) << out;
  EXPECT_EQ(count(out, "Interrupted; the run stops."), 1u) << out;
  EXPECT_FALSE(std::filesystem::exists("after.tav"));
}

}  // namespace
