// Failed commands: what counts as one, what a macro does after one, and how
// a --strict batch ends.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "session.h"
#include "tavo/commands.h"

namespace {

using abertest::SessionDir;

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class Failures : public SessionDir {
 protected:
  // A session with the given command-line macro and terminal input.
  int session(const std::string& macro, const std::string& input, bool strict, std::string& out) {
    gx::RunOptions o;
    o.macro = macro;
    o.strict = strict;
    std::istringstream in(input);
    std::ostringstream os;
    const int rc = tavo::run(in, os, o);
    out = os.str();
    return rc;
  }
  static void write(const std::string& name, const std::string& text) {
    std::ofstream(name) << text;
  }
};

// Every refusal fails a strict batch, whatever its message looks like: the
// batch stops at it, names the file and the line, and exits with 1. MENU on
// the next line must not run.
TEST_F(Failures, StrictStopsAtEveryKindOfRefusal) {
  write("exists.cof", "not coefficients\n");
  // A quadrupole of 1e30 T: neither map can be integrated.
  writeSystem("absurd.tav", "Absurd",
              {{0, 1, 1.007276, 3, 0}, {1, 1e-5, 2e-4, 1e-5, 2e-4, 0.01}, {3, 1, 0, 0},
               {4, 0.06, 1e30, 0.006}, {3, 0.2, 0, 0}, {9, 0, 0, 0}});
  const struct {
    const char* lines;  // the macro up to and including the refused command
    int line;           // its line number
  } cases[] = {
      {"DATA nosuch\n", 1},                               // a missing system file
      {"SYSTEM\n", 1},                                    // no lens system loaded
      {"DATA triplet\nSAVE no_such_folder/kept\n", 2},    // SAVE cannot open
      {"DATA triplet\nCOFOUT exists\n", 2},               // COFOUT onto a file that exists
      {"DATA triplet\nFRINGE -1\n", 2},                   // a "?" message still counts
      {"@nosuch\n", 1},                                   // a macro that is not there
      {"DATA absurd\nEXACT\n", 2},                        // EXACT with neither map
  };
  for (const auto& c : cases) {
    write("batch.tcm", std::string(c.lines) + "MENU\n");
    std::string out;
    EXPECT_EQ(session("batch.tcm", "MENU\n", true, out), 1) << c.lines << out;
    EXPECT_EQ(count(out, "?TAVO- Line " + std::to_string(c.line) +
                             " of batch.tcm: the command failed; the run stops (--strict)."),
              1u)
        << c.lines << out;
    EXPECT_EQ(count(out, "TAVO commands:"), 0u) << c.lines << out;
    // Without --strict the status stays 0 and the terminal goes on.
    EXPECT_EQ(session("batch.tcm", "MENU\n", false, out), 0) << c.lines;
    EXPECT_EQ(count(out, "TAVO commands:"), 1u) << c.lines << out;
    EXPECT_NE(out.find("the macro is left."), std::string::npos) << c.lines << out;
  }
  // The same refusals typed at the terminal fail a strict run too.
  std::string out;
  EXPECT_EQ(session("", "SYSTEM\nMENU\n", true, out), 1);
  EXPECT_NE(out.find("?TAVO- Input line 1: the command failed; the run stops (--strict)."),
            std::string::npos)
      << out;
  EXPECT_EQ(count(out, "TAVO commands:"), 0u);
  // A clean strict run is 0.
  write("good.tcm", "DATA triplet\nSYSTEM\n");
  EXPECT_EQ(session("good.tcm", "", true, out), 0) << out;
}

// A refused command inside a macro ends it (and every macro that called it)
// with one message: its answer lines never run as commands.
TEST_F(Failures, ARefusedCommandEndsTheMacroChain) {
  write("exists.cof", "not coefficients\n");
  // COFOUT's answer C would otherwise run CRAM.
  write("inner.tcm", "COFOUT exists\nC\nSYSTEM\n");
  write("outer.tcm", "DATA triplet\nCAP\nouter title\n@inner\nCAP\nnever this\n");
  std::string out;
  EXPECT_EQ(session("", "@outer\nCAP\n\nEXIT\n", false, out), 0);
  EXPECT_EQ(count(out, "the command failed"), 1u) << out;
  EXPECT_NE(out.find("?TAVO- Line 1 of inner.tcm: the command failed; the macro is left."),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("tav>_C\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("tav>_SYSTEM"), std::string::npos) << out;
  EXPECT_EQ(out.find("never this"), std::string::npos) << out;
  // Back at the terminal, with the title the outer macro set before.
  EXPECT_NE(out.find("Title: outer title"), std::string::npos) << out;
  // The coefficient file is left as it was.
  std::ifstream f("exists.cof");
  std::string first;
  std::getline(f, first);
  EXPECT_EQ(first, "not coefficients");
}

// A macro that calls itself twice reaches the depth bound: the first refusal
// ends the whole chain with one message, not a hundred thousand.
TEST_F(Failures, ASelfCallingMacroEndsAtTheFirstRefusal) {
  write("self.tcm", "@self\n@self\n");
  std::string out;
  EXPECT_EQ(session("", "@self\nMENU\n", false, out), 0);
  EXPECT_EQ(count(out, "nested deeper than 64 levels"), 1u);
  EXPECT_EQ(count(out, "the command failed"), 1u);
  EXPECT_NE(out.find("?TAVO- Line 1 of self.tcm: the command failed; the macro is left."),
            std::string::npos);
  EXPECT_EQ(count(out, "TAVO commands:"), 1u);
  EXPECT_LT(count(out, "\n"), 400u);
  // Under --strict the same chain ends the run with status 1.
  EXPECT_EQ(session("self.tcm", "MENU\n", true, out), 1);
  EXPECT_EQ(count(out, "the run stops (--strict)."), 1u);
  EXPECT_EQ(count(out, "TAVO commands:"), 0u);
}

// A session in a child process whose files may not grow past limit bytes
// (the terminal output comes back through a pipe, which the limit does not
// touch). Writes past the limit fail as on a full disk.
std::string limitedSession(const std::string& input, rlim_t limit) {
  int fd[2];
  if (::pipe(fd) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fd[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    std::istringstream in(input);
    std::ostringstream out;
    tavo::run(in, out);
    const std::string text = out.str();
    for (size_t at = 0; at < text.size();) {
      const ssize_t n = ::write(fd[1], text.data() + at, text.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fd[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return text;
}

// Files that cannot be written in full: every writer says so, nothing half
// written takes the name, and a file that was there stays as it was.
TEST_F(Failures, WritersThatCannotFinishSaySoAndKeepTheOldFile) {
  write("trace.dat", "the old trajectories\n");
  const std::string out = limitedSession(
      "DATA triplet\nSPEC astig.dat\n0 0 200\nTRACE/E S\nTRACE/U 500\n0 3.5\n\n"
      "AGP\n1 4 3 1\n1 6 3 2\n1 8 3 1\n1 0 0 0\n1 1 2 0\n1 2 4 0\n1 0 0 0\n"
      "0.12 0.14\n-0.23 -0.22\n20 20\ngrid.agp\nEXIT\n",
      512);
  EXPECT_NE(out.find("?SPEC- Unable to write astig.dat"), std::string::npos) << out;
  EXPECT_NE(out.find("?TRACE- Unable to write trace.dat"), std::string::npos) << out;
  EXPECT_EQ(out.find("Closing trajectory file"), std::string::npos) << out;
  EXPECT_NE(out.find("?AGP- Unable to write grid.agp"), std::string::npos) << out;
  EXPECT_EQ(out.find("points generated total"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists("astig.dat"));
  EXPECT_FALSE(std::filesystem::exists("grid.agp"));
  EXPECT_EQ(lines("trace.dat"), std::vector<std::string>{"the old trajectories"});
  // Nothing else is left in the folder: no temporary files.
  for (const auto& f : files())
    EXPECT_TRUE(f == "trace.dat" || f.ends_with(".tav")) << f;
  // Within the limit the same writers work and say so.
  const std::string small = limitedSession(
      "DATA triplet\nSPEC astig.dat\n0 0 2\nTRACE/E S\nTRACE/U 2\n0 3.5\n\nEXIT\n", 4096);
  EXPECT_NE(small.find("Closing trajectory file: trace.dat"), std::string::npos) << small;
  EXPECT_EQ(lines("astig.dat").size(), 3u);
}

}  // namespace

namespace {

// File names longer than the 40 columns of a command line are taken whole:
// SAVE, SPEC and DATA reach the file named, not one cut to another name.
TEST_F(Failures, LongFileNamesAreTakenWhole) {
  const std::string folder = "a_rather_long_directory_name_for_designs";
  std::filesystem::create_directory(folder);
  std::string out;
  EXPECT_EQ(session("", "DATA triplet\nSAVE " + folder + "/tripletv2\nSPEC " + folder +
                            "/astigmatism_along_z.dat\n0 0 4\n"
                            "DATA " + folder + "/tripletv2\nEXIT\n",
                    true, out),
            0)
      << out;
  EXPECT_TRUE(std::filesystem::exists(folder + "/tripletv2.tav")) << out;
  EXPECT_EQ(lines(folder + "/astigmatism_along_z.dat").size(), 5u) << out;
  // Nothing under a cut name in the working folder.
  for (const auto& f : files()) EXPECT_EQ(f.find("a_rather"), f == folder ? 0u : std::string::npos) << f;
  EXPECT_NE(out.find("Data saved in file: " + folder + "/tripletv2.tav"), std::string::npos) << out;
  // The name given at a prompt is taken whole too.
  EXPECT_EQ(session("", "DATA triplet\nSAVE\n" + folder + "/second_version_of_the_triplet\nEXIT\n",
                    true, out),
            0)
      << out;
  EXPECT_TRUE(std::filesystem::exists(folder + "/second_version_of_the_triplet.tav")) << out;
}

}  // namespace

namespace {

// COFOUT says which file it wrote, once it is complete under its name.
TEST_F(Failures, CofoutConfirmsTheFileItWrote) {
  std::string out;
  EXPECT_EQ(session("", "DATA triplet\nCOFOUT mine\nC\nEXIT\n", true, out), 0) << out;
  EXPECT_NE(out.find(" Coefficients written to mine.cof."), std::string::npos) << out;
  EXPECT_EQ(lines("mine.cof").size(), 22u);
  // An unknown word keeps its "?" line and gets one pointing to HELP/B.
  EXPECT_EQ(session("", "FOO\n", false, out), 0);
  EXPECT_NE(out.find("\n?FOO"), std::string::npos) << out;
  EXPECT_NE(out.find("?FOO" + std::string(37, ' ') +
                     "\n Not a command or a macro file; HELP/B lists the commands.\n"),
            std::string::npos)
      << out;
}

}  // namespace
