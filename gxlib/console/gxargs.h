// The command line of both programs and the start of a run from it:
// --help, --version, --strict and the name of a macro file to run after
// the login macro.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "gxlib/gxlib.h"

namespace gx {

// How one session is run.
struct RunOptions {
  bool interactive = false;    // the input is a terminal (it echoes RETURN)
  std::string macro;           // macro file run after the login macro, "" none
  bool strict = false;         // stop at the first failed command, exit status 1
  LineSource* lines = nullptr; // the line editor, when the terminal is a real one
  std::function<void()> onPoll; // called at every poll of long work (Lib::onPoll; tests)
  std::function<std::string()> clock;  // the time of day "hh:mm:ss" (Lib::clock; tests); empty: the real one
};

// What a program tells about itself on its command line.
struct ProgramInfo {
  std::string name;      // "tavo"
  std::string title;     // one line on what it is
  std::string version;   // as its banner gives it
  std::string helpFile;  // "tavo.hlp"
  std::string macroExt;  // ".tcm"
  std::string login;     // "login.tcm"
  // What TAB completes at the terminal.
  std::vector<std::string> words, extraWords, fileWords;
};

// The parsed command line. exit >= 0: stop with that status (after --help,
// --version, or a usage message on err).
struct Args {
  int exit = -1;
  bool strict = false;
  std::string macro;  // the macro file as it will be opened
};

// Reads argv. --help and --version write to out; a bad command line gets a
// one-line usage message on err and exit status 2.
Args gxargs(int argc, const char* const* argv, const ProgramInfo& info, std::ostream& out,
            std::ostream& err);

// The macro file a command-line name stands for: as given when its file
// part has an extension, else with the program's extension added.
std::string macroFileName(const std::string& name, const std::string& ext);

// The exit status of a finished session: 130 (128 + SIGINT, as a shell
// reports a command the user interrupted) when Ctrl-C ended it; 1 under
// --strict when a command failed (also one the end of the input cut short).
inline int exitStatus(const RunOptions& o, const Lib& g) {
  if (g.endedByCtrlc) return 130;
  const bool pending = g.failed || g.io.errorLines() > g.errorMark;
  return o.strict && (g.failures > 0 || pending) ? 1 : 0;
}

// The whole of a program's main: parses the command line, sets up the line
// editor when standard input and output are terminals, installs the Ctrl-C
// handler and runs the session on the standard streams.
using RunFunction = int (*)(std::istream&, std::ostream&, const RunOptions&);
int gxmain(int argc, const char* const* argv, const ProgramInfo& info, RunFunction run);

}  // namespace gx
