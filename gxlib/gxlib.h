// The console library shared by both programs: command-line decoding,
// prompted updates, help, and small terminal and system services.
//
// All library state lives in one Lib object owned by the program's state,
// so two sessions can run side by side in one process.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gxlib/fortran/io.h"
#include "gxlib/plot/plotstate.h"

namespace gx {

struct Lib {
  explicit Lib(std::istream& in, std::ostream& out, bool interactive = false)
      : io(in, out, interactive) {}

  Io io;
  bool becho = false;     // gx_becho: decoded lines are echoed while on
  char clsMode = ' ';     // remembered clear-screen mode
  // Macro calls started since the terminal line numbered macroMark.
  long long macroCalls = 0, macroMark = -1;
  // Macro rewinds since the terminal line numbered rewindMark.
  long long macroRewinds = 0, rewindMark = -1;
  // Failed commands: a command that was refused or could not do its work
  // marks itself (gxfail); so does any error message ("?...") it printed.
  // The loop counts each failed command once (gxcommanddone).
  bool strict = false;        // --strict: the run stops at the first failure
  bool failed = false;        // the command running now has failed
  long long failures = 0;     // failed commands so far
  long long errorMark = 0;    // error lines printed before the running command
  std::string cmdFile;        // where the running command was read: macro file
  long long cmdLine = 0;      // (empty: the terminal) and its line number
  // Ctrl-C (gxlib/fortran/interrupt.h).
  bool userAtTerminal = false;  // a user answers at the terminal: Ctrl-C returns to the prompt
  bool ctrlcArmed = false;      // one more Ctrl-C at the command prompt ends the session
  bool endedByCtrlc = false;    // the session ended by Ctrl-C (exit status 130)
  std::function<void()> onPoll; // called at every poll of long work (tests press Ctrl-C there)
  // Time of day as "HH:MM:SS"; replaceable so that tests are repeatable.
  std::function<std::string()> clock;
  PlotState plot;        // plot layer, drivers, axis and text settings

  ~Lib();  // closes the plot files so that they end well-formed
};

// The result of every prompt of the programs: the answer was read (Ok),
// could not be read and is asked again (Error), or the input ended (End:
// the prompt is abandoned and changes nothing).
enum class Reply { Ok, Error, End };

// Long work calls this at a coarse grain (every step of an integration, a
// fit, a few thousand rays): throws Interrupted once Ctrl-C was pressed, so
// the command is cancelled and the loop restores the records.
void gxpoll(Lib& g);

// Normalises a 40-character command line: word in columns 1-6, blank in 7,
// argument text in 8-40; sets the qualifier letter and the argument's value.
void gxdecode(Lib& g, std::string& line, char& qual, double& value);

// Reads a reply and updates one or two values (empty reply keeps them).
// Ok, Error (values restored) or End.
Reply gxupdate(Lib& g, int in, int out, int macro, double& a, double& b);
Reply gxupdate(Lib& g, int in, int out, int macro, double& a);
// The same with the reply given.
Reply gxupdatec(Lib& g, int in, int out, int macro, double& a, double& b,
              const std::string& reply);

// Help: mode 0 prints the entries matching key, mode 1 the keyword list.
void gxhelp(Lib& g, int in, int out, int mode, const std::string& path,
            const std::string& key);

int gxlen(const std::string& s);            // length without trailing blanks/tabs
void gxlead(Lib& g, std::string& s);       // remove leading blanks and tabs
void gxupcase(std::string& s);             // a-z to A-Z
void gxcls(Lib& g, int unit, char mode);   // clear the screen
int gxsystem(Lib& g, const std::string& cmd);  // run a shell command; returns 0
std::string gxtime(Lib& g);                // "HH:MM:SS", blanks on failure
void gxdelay(float seconds);               // no waiting
void gxquit(Lib& g, char device);          // close plot files

// Run counter of the plots: the run number kept in the counter file name
// (read, advanced and written back on unit) and its four-column text.
void gxrunup(Lib& g, int out, int unit, int& run, std::string& text, const std::string& name);
// Lower-cases the first length characters of text.
void gxdncase(std::string& text, int length);

// The library's settings command. Returns 1 when the word was not its own.
int gxparam(Lib& g, int in, int out, int echo, const std::string& line,
            char option, double value);
// The settings command's words, in its order.
std::vector<std::string> gxparamwords();

// The default path of a program's help file: the installed copy, else the
// copy in the source tree of this build.
std::string helpPath(const std::string& file);

}  // namespace gx
