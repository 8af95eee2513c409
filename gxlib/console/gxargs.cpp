#include "gxlib/console/gxargs.h"

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <ostream>

#include "gxlib/gxlib.h"
#include "gxlib/console/lineedit.h"
#include "gxlib/fortran/interrupt.h"

namespace gx {

namespace {

std::string usage(const ProgramInfo& p) {
  return "usage: " + p.name + " [--help] [--version] [--strict] [macro" + p.macroExt + "]";
}

// How to read the manual page: by name once installed, else the page this
// build made, by its path.
std::string manual(const std::string& prog) {
  const std::string installed = std::string(TK_MAN_INSTALL) + "/" + prog + ".1";
  if (Io::exists(installed)) return "man " + prog;
  return "man -l " + std::string(TK_MAN_BUILD) + "/" + prog + ".1";
}

void help(const ProgramInfo& p, std::ostream& out) {
  const std::string hist = historyPath(p.name);
  out << p.name << " - " << p.title << "\n\n"
      << usage(p) << "\n\n"
      << "Runs the login macro " << p.login << " of the working folder when there is one,\n"
      << "then the macro file named on the command line (as if \"@name\" had been typed),\n"
      << "then reads commands from the terminal. With input from /dev/null the run\n"
      << "ends when the macros have; EXIT or the end of the input ends it at any time.\n\n"
      << "Options:\n"
      << "  --help      this text\n"
      << "  --version   the program's name and version\n"
      << "  --strict    stop at the first command that fails (is refused, cannot do its\n"
      << "              work or prints an error message beginning with \"?\"), naming\n"
      << "              the macro file and line, with exit status 1; without it the\n"
      << "              status is 0 and a failed command only ends the macros running\n"
      << "  --          what follows is the macro file name, even if it begins with \"-\"\n\n"
      << "The macro file name gets " << p.macroExt << " added when it has no extension.\n"
      << "Help file:  " << helpPath(p.helpFile) << " (HELP at the prompt)\n"
      << "History:    " << (hist.empty() ? "~/." + p.name + "_history" : hist)
      << " (at a terminal; TAB completes\n            command words and file names)\n"
      << "Manual:     " << manual(p.name) << "\n";
}

}  // namespace

std::string macroFileName(const std::string& name, const std::string& ext) {
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return hasExt ? name : name + ext;
}

Args gxargs(int argc, const char* const* argv, const ProgramInfo& p, std::ostream& out,
            std::ostream& err) {
  Args a;
  bool options = true;
  bool haveMacro = false;
  for (int i = 1; i < argc; ++i) {
    const std::string s = argv[i] ? argv[i] : "";
    if (options && s == "--") {
      options = false;
    } else if (options && (s == "--help" || s == "-h")) {
      help(p, out);
      out.flush();
      a.exit = 0;
      return a;
    } else if (options && s == "--version") {
      out << p.name << " version " << p.version << "\n";
      out.flush();
      a.exit = 0;
      return a;
    } else if (options && s == "--strict") {
      a.strict = true;
    } else if ((options && s.size() > 1 && s[0] == '-') || haveMacro) {
      if (options && s.size() > 1 && s[0] == '-')
        err << p.name << ": unknown option " << s << "; " << usage(p) << "\n";
      else
        err << p.name << ": one macro file only; " << usage(p) << "\n";
      a.exit = 2;
      return a;
    } else {
      a.macro = macroFileName(s, p.macroExt);
      haveMacro = true;
    }
  }
  if (haveMacro && !Io::exists(a.macro)) {
    err << p.name << ": no macro file " << a.macro << "; " << usage(p) << "\n";
    a.exit = 2;
  }
  return a;
}

int gxmain(int argc, const char* const* argv, const ProgramInfo& info, RunFunction run) {
  std::ios::sync_with_stdio(false);
  // A pipe whose reader has gone (a plot file named as a FIFO whose viewer
  // quit, the output piped into head) must not end the session with
  // SIGPIPE: the write fails instead and is reported like any failed write.
  std::signal(SIGPIPE, SIG_IGN);
  const Args a = gxargs(argc, argv, info, std::cout, std::cerr);
  if (a.exit >= 0) return a.exit;
  RunOptions o;
  o.interactive = ::isatty(0) != 0;
  o.macro = a.macro;
  o.strict = a.strict;
  std::unique_ptr<LineEditor> editor;
  if (o.interactive && ::isatty(1) != 0) {
    CompletionTable t{info.words, info.extraWords, info.fileWords, info.macroExt};
    editor = std::make_unique<LineEditor>(info.name, std::move(t), historyPath(info.name));
    o.lines = editor.get();
  }
  // Ctrl-C cancels the command running; it no longer ends the process.
  interruptInstall();
  const int rc = run(std::cin, std::cout, o);
  std::cout.flush();
  editor.reset();  // the history is saved
  if (rc == 130) {
    // Ended by Ctrl-C, everything closed: end as the signal does, so a
    // shell running this in a script stops there too (status 130).
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
  }
  return rc;
}

}  // namespace gx
