// The command line of both programs: the macro run after the login macro,
// --strict, --help, --version and bad command lines.
#include <gtest/gtest.h>

#include <sstream>

#include "kestrim/kestrim.h"
#include "tavo/commands.h"
#include "term_support.h"

namespace {

using termtest::count;
using termtest::Scratch;

// A session through run() in the scratch folder.
template <class Run>
int session(const Scratch& s, const std::string& input, const gx::RunOptions& o, std::string& out,
            Run run) {
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(s.dir());
  std::istringstream in(input);
  std::ostringstream os;
  const int rc = run(in, os, o);
  std::filesystem::current_path(old);
  out = os.str();
  return rc;
}

int tavoRun(std::istream& in, std::ostream& out, const gx::RunOptions& o) {
  return tavo::run(in, out, o);
}
int kestrimRun(std::istream& in, std::ostream& out, const gx::RunOptions& o) {
  return kestrim::run(in, out, o);
}

TEST(CommandLineMacro, RunsAfterLoginAndBeforeTheTerminal) {
  for (auto [run, ext] : {std::pair{&tavoRun, std::string(".tcm")}, {&kestrimRun, ".kcm"}}) {
    Scratch s;
    s.write("login" + ext, "LOGINX\n");
    s.write("run" + ext, "RUNX\n");
    gx::RunOptions o;
    o.macro = "run" + ext;
    std::string out;
    EXPECT_EQ(session(s, "TERMX\nEXIT\n", o, out, run), 0) << ext;
    const size_t login = out.find("?LOGINX"), mac = out.find("?RUNX"), term = out.find("?TERMX");
    ASSERT_NE(login, std::string::npos) << out;
    ASSERT_NE(mac, std::string::npos) << out;
    ASSERT_NE(term, std::string::npos) << out;
    EXPECT_LT(login, mac);
    EXPECT_LT(mac, term);
    EXPECT_EQ(count(out, "?RUNX"), 1u);
    // With --strict the three error messages fail the run.
    o.strict = true;
    EXPECT_EQ(session(s, "TERMX\nEXIT\n", o, out, run), 1) << ext;
    // A clean run stays 0 under --strict, also when the input just ends.
    s.write("run" + ext, "MENU\n");
    std::filesystem::remove(s.dir() / ("login" + ext));
    EXPECT_EQ(session(s, "", o, out, run), 0) << out;
    EXPECT_EQ(count(out, "?"), 0u) << out;
  }
}

TEST(CommandLineMacro, ALongPathIsOpenedWhole) {
  // Longer than the 40 columns a typed "@name" line can hold.
  Scratch s;
  const std::string sub = "a_rather_long_folder_name/and_another_one_inside";
  std::filesystem::create_directories(s.dir() / sub);
  s.write(sub + "/run.tcm", "RUNX\n");
  gx::RunOptions o;
  o.macro = sub + "/run.tcm";
  o.strict = true;
  std::string out;
  EXPECT_EQ(session(s, "", o, out, tavoRun), 1);
  EXPECT_EQ(count(out, "?RUNX"), 1u) << out;
}

TEST(CommandLine, HelpVersionAndUsage) {
  Scratch s;
  for (const std::string prog : {"tavo", "kestrim"}) {
    const std::string bin = termtest::quote(termtest::program(prog));
    termtest::Result r = s.sh(bin + " --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty());
    for (const char* w : {"--help", "--version", "--strict", ".hlp", "_history", "usage: "})
      EXPECT_NE(r.out.find(w), std::string::npos) << prog << " --help lacks " << w;
    r = s.sh(bin + " --version");
    EXPECT_EQ(r.status, 0);
    // The versions the programs' banners give.
    EXPECT_EQ(r.out, prog == "tavo" ? "tavo version 9.0\n" : "kestrim version 2\n");
    // Bad command lines: one line on standard error, nothing run, status 2.
    for (const std::string bad : {"--bogus", "-x", "a b", "nosuch"}) {
      s.write("a" + std::string(prog == "tavo" ? ".tcm" : ".kcm"), "EXIT\n");
      r = s.sh(bin + " " + bad);
      EXPECT_EQ(r.status, 2) << prog << " " << bad;
      EXPECT_TRUE(r.out.empty()) << r.out;
      EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
      EXPECT_NE(r.err.find("usage: " + prog), std::string::npos) << r.err;
    }
  }
}

TEST(CommandLine, BatchRunsAndTheirStatus) {
  Scratch s;
  std::filesystem::copy_file(std::string(TK_SOURCE_DIR) + "/examples/triplet.tav",
                             s.dir() / "triplet.tav");
  s.write("good.tcm", "DATA triplet\nSYSTEM\n");
  s.write("bad.tcm", "DATA triplet\nSYSTEX\nSYSTEM\n");
  s.write("-odd.tcm", "SYSTEX\n");
  const std::string tavo = termtest::quote(termtest::program("tavo"));
  termtest::Result r = s.sh(tavo + " good < /dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Version 9.0"), std::string::npos);
  EXPECT_NE(r.out.find("tav>_SYSTEM"), std::string::npos) << r.out;
  EXPECT_EQ(count(r.out, "\n?"), 0u);
  EXPECT_EQ(s.sh(tavo + " --strict good.tcm < /dev/null").status, 0);
  // One bad command among good ones fails a strict run only.
  r = s.sh(tavo + " bad.tcm < /dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("?SYSTEX"), std::string::npos);
  EXPECT_EQ(s.sh(tavo + " --strict bad.tcm < /dev/null").status, 1);
  EXPECT_EQ(s.sh(tavo + " bad.tcm --strict < /dev/null").status, 1);
  EXPECT_EQ(s.sh(tavo + " --strict -- -odd < /dev/null").status, 1);
  // Without a macro the terminal's commands decide.
  EXPECT_EQ(s.sh("printf 'SYSTEX\\nEXIT\\n' | " + tavo + " --strict").status, 1);
  EXPECT_EQ(s.sh("printf 'MENU\\nEXIT\\n' | " + tavo + " --strict").status, 0);
  const std::string kestrim = termtest::quote(termtest::program("kestrim"));
  s.write("bad.kcm", "NTOT\nNOSUCH\n");
  s.write("good.kcm", "NTOT\n");
  EXPECT_EQ(s.sh(kestrim + " --strict bad < /dev/null").status, 1);
  EXPECT_EQ(s.sh(kestrim + " bad < /dev/null").status, 0);
  r = s.sh(kestrim + " --strict good.kcm < /dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Total number of ray vectors =       0"), std::string::npos) << r.out;
}

// A pipe whose reader goes away: the session goes on (or ends as at the end
// of its input), it is not killed by SIGPIPE and does not read for ever.
TEST(BrokenPipes, AReaderThatLeavesDoesNotKillTheSession) {
  Scratch s;
  std::filesystem::copy_file(std::string(TK_SOURCE_DIR) + "/examples/triplet.tav",
                             s.dir() / "triplet.tav");
  const std::string tavo = termtest::quote(termtest::program("tavo"));
  // The plot file is a FIFO. Its reader is there when the plot starts and
  // leaves (when the session makes the file "go") before the file is written.
  ASSERT_EQ(s.sh("mkfifo p.ps").status, 0);
  s.write("plot.tcm",
          "DATA triplet\nDEFINE/Q p.ps\nTRACE Q\n\n\n\n\n\n\n\n\n\n\n"
          "$ touch go\n$ sleep 1\nCLOSE/Q\nCAP\n");
  termtest::Result r = s.sh(
      "sh -c " + termtest::quote("(exec 3<p.ps; while [ ! -e go ]; do sleep 0.05; done) & " +
                                 std::string("printf 'SYSTEM\\nEXIT\\n' | timeout 120 ") + tavo +
                                 " plot"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Error writing plot file p.ps"), std::string::npos) << r.out;
  // The failed CLOSE ends the macro; the session goes on at the terminal.
  EXPECT_NE(r.out.find("Line 16 of plot.tcm: the command failed"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("tav>_CAP"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Focal length"), std::string::npos) << "SYSTEM ran after it\n" << r.out;
  // The terminal output piped into a reader that stops early, with input
  // that never ends: each program ends cleanly.
  const std::string kestrim = termtest::quote(termtest::program("kestrim"));
  for (const auto& [prog, cmd] : {std::pair{tavo, std::string("MENU")}, {kestrim, "NTOT"}}) {
    std::filesystem::remove(s.dir() / "st");
    s.sh("sh -c " + termtest::quote("(yes " + cmd + " | timeout 120 " + prog +
                                    "; echo $? > st) | head -c 100 > /dev/null"));
    EXPECT_EQ(termtest::slurp(s.dir() / "st"), "0\n") << cmd;
  }
}

}  // namespace

namespace {

// What a newcomer meets first: --help names a manual page that opens from
// the build tree, an unknown word points to HELP/B, and the batch macro the
// README runs is shipped and runs clean.
TEST(FirstHour, ManualHintUnknownWordsAndTheShippedScan) {
  Scratch s;
  for (const std::string prog : {"tavo", "kestrim"}) {
    const std::string bin = termtest::quote(termtest::program(prog));
    termtest::Result r = s.sh(bin + " --help");
    const size_t at = r.out.find("Manual:     ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string how = r.out.substr(at + 12, r.out.find('\n', at) - at - 12);
    // Installed: "man prog"; else "man -l" and a page that exists.
    if (how != "man " + prog) {
      ASSERT_EQ(how.rfind("man -l ", 0), 0u) << how;
      EXPECT_TRUE(std::filesystem::exists(how.substr(7))) << how;
    }
    r = s.sh("printf 'FOO\\nEXIT\\n' | " + bin);
    EXPECT_NE(r.out.find("?FOO"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Not a command or a macro file; HELP/B lists the commands."),
              std::string::npos)
        << r.out;
  }
  const std::string examples = std::string(TK_SOURCE_DIR) + "/examples";
  for (const char* f : {"scan.tcm", "triplet.tav"})
    std::filesystem::copy_file(examples + "/" + f, s.dir() / f);
  const termtest::Result r =
      s.sh(termtest::quote(termtest::program("tavo")) + " --strict scan.tcm < /dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(count(r.out, "(X/T3)"), 3u) << r.out;
}

}  // namespace
