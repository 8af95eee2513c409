// Failed commands in KESTRIM: a refused command ends the macro chain, and a
// --strict batch stops at the first failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "kestrim/kestrim.h"
#include "workdir.h"

namespace {

using Failures = kqtest::WorkDir;

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

int session(const std::string& macro, const std::string& input, bool strict, std::string& out) {
  gx::RunOptions o;
  o.macro = macro;
  o.strict = strict;
  std::istringstream in(input);
  std::ostringstream os;
  const int rc = kestrim::run(in, os, o);
  out = os.str();
  return rc;
}

// SYNTH naming a missing coefficient file is refused: the answer S that
// follows it in the macro must not start SHADOW, and the rest of the macro
// does not run.
TEST_F(Failures, ARefusedSynthEndsTheMacro) {
  std::ofstream("run.kcm") << "SYNTH rays\nnosuch\nS\nNTOT\n";
  std::string out;
  EXPECT_EQ(session("", "@run\nNTOT\n", false, out), 0);
  EXPECT_NE(out.find("nosuch.cof Does not exist."), std::string::npos) << out;
  EXPECT_NE(out.find("?KESTRIM- Line 1 of run.kcm: the command failed; the macro is left."),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Filename for output rayset"), std::string::npos) << out;
  EXPECT_EQ(out.find("kestrim> +S"), std::string::npos) << out;
  // Only the terminal's NTOT ran.
  EXPECT_EQ(count(out, "Total number of ray vectors"), 1u) << out;
}

// Under --strict the batch stops at the first failure, however it is worded,
// names the file and line, and exits with 1.
TEST_F(Failures, StrictStopsAtTheFirstFailure) {
  for (const std::string bad : {"DATA nosuch\n", "SYNTH rays\nnosuch\n", "@nosuch\n",
                                "NOSUCH\n"}) {
    std::ofstream("batch.kcm") << "NTOT\n" << bad << "NTOT\n";
    std::string out;
    EXPECT_EQ(session("batch.kcm", "NTOT\n", true, out), 1) << bad << out;
    EXPECT_EQ(count(out, "?KESTRIM- Line 2 of batch.kcm: the command failed; the run stops "
                         "(--strict)."),
              1u)
        << bad << out;
    EXPECT_EQ(count(out, "Total number of ray vectors"), 1u) << bad << out;
    EXPECT_EQ(session("batch.kcm", "NTOT\n", false, out), 0) << bad;
  }
  std::ofstream("good.kcm") << "NTOT\nREG/L\n";
  std::string out;
  EXPECT_EQ(session("good.kcm", "", true, out), 0) << out;
}

// A macro that calls itself twice: one refusal ends the whole chain.
TEST_F(Failures, ASelfCallingMacroEndsAtTheFirstRefusal) {
  std::ofstream("self.kcm") << "@self\n@self\n";
  std::string out;
  EXPECT_EQ(session("", "@self\nNTOT\n", false, out), 0);
  EXPECT_EQ(count(out, "nested deeper than 64 levels"), 1u);
  EXPECT_EQ(count(out, "the command failed"), 1u);
  EXPECT_EQ(count(out, "Total number of ray vectors"), 1u);
  EXPECT_LT(count(out, "\n"), 400u);
}

}  // namespace

namespace {

// KESTRIM's commands read file names from fields of 30 characters: a longer
// name is refused with a message, never cut to another file's name.
TEST_F(Failures, NamesLongerThanTheirFieldAreRefused) {
  const std::string name = "a_rather_long_ray_set_name_for_the_triplet.bin";
  std::ofstream(name.substr(0, 30)) << "a file under the cut name\n";
  std::string out;
  EXPECT_EQ(session("", "DATA " + name + "\nSAVE " + name + "\n", false, out), 0);
  EXPECT_EQ(count(out, "?KESTRIM- File name longer than 30 characters: " + name), 2u) << out;
  EXPECT_EQ(out.find("Rays file opened"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(name));
  // A name that fits is read whole, beyond the 40 columns of the line.
  std::ofstream("m234567890123456789012.kcm") << "NTOT\n";
  EXPECT_EQ(session("", "@                    m234567890123456789012.kcm\n", false, out), 0);
  EXPECT_EQ(count(out, "Total number of ray vectors"), 1u) << out;
}

}  // namespace
