// The conversation layer of both programs: messages, prompts and their
// answers, macro levels and command tables. Every program routine that talks
// to the user goes through these, so the carriage-control column, the echo
// of macro answers and the end of input behave the same everywhere.
#pragma once

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

#include "gxlib/gxlib.h"

namespace gx {

// A message: one record, the carriage-control blank in front of the text.
// Records that carry their own control character ("+" overprints) are
// written with Io::write.
void gxsay(Lib& g, int out, std::string_view text);

// Writes a prompt and leaves the cursor after it on the terminal; on any
// other output unit the prompt is a record of its own. The text is written
// as given (an indented prompt brings its own leading blanks).
void gxprompttext(Lib& g, int out, std::string_view text);

// Prompt and one answer: writes the prompt, reads one record of width
// characters (0: the whole record) from unit in, and echoes the answer as
// "+answer" on the prompt's line when it came from a macro (any unit but the
// terminal). Ok, or End when the unit has no more to give (reply is then
// width blanks). The end of the terminal input throws EndOfInput, which the
// programs' run() catches: a prompt can never wait for ever.
Reply gxprompt(Lib& g, int in, int out, std::string_view text, std::string& reply,
               size_t width = 0);

// Asks until the answer is accepted: the prompt is repeated while accept()
// refuses it. Ok, or End when the input ended first.
Reply gxask(Lib& g, int in, int out, std::string_view text, std::string& reply, size_t width,
            const std::function<bool(const std::string&)>& accept);

// Prompted update of one or two values (gxupdate), repeated while the
// answer cannot be read. An empty answer keeps the values. Ok or End.
Reply gxaskupdate(Lib& g, int in, int out, int echo, std::string_view text, double& a,
                  double& b);
Reply gxaskupdate(Lib& g, int in, int out, int echo, std::string_view text, double& a);

// Nearest integer, halves away from zero (Fortran NINT). Values beyond the
// int range saturate at INT_MAX or INT_MIN; NaN gives 0. Inline: the ray
// sorts call it twice per ray.
inline int gxnint(double v) {
  if (std::isnan(v)) return 0;
  constexpr int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  if (v >= 4e18) return kMax;
  if (v <= -4e18) return kMin;
  // Truncate, then step a half or more away: v - t is exact, and no libm
  // call stands in a loop over millions of rays.
  auto t = static_cast<long long>(v);
  const double f = v - static_cast<double>(t);
  if (f >= 0.5) ++t;
  else if (f <= -0.5) --t;
  return t >= kMax ? kMax : t <= kMin ? kMin : static_cast<int>(t);
}

// Macro levels. The current input unit is 5 at the terminal and 15, 25, ...
// for the nested macro levels; the programs keep it in their own records
// and pass it here by reference.
constexpr int kMacroDepth = 64;  // a macro that calls itself stops here
// Macro calls one terminal command may start: macros that call themselves
// twice stay inside the depth bound yet would run for ever.
constexpr long long kMacroCalls = 100000;

inline int gxmacrodepth(int unit) { return unit <= Io::kIn ? 0 : (unit - Io::kIn) / 10; }

// Opens name read-only as the next level (unit += 10). On failure the unit
// is unchanged and a message is printed: past the depth bound
// "?PROGRAM- Macros nested deeper than 64 levels; not opened: name", for a
// file that cannot be opened "Unable to open name"; each followed by a
// blank line. Past kMacroCalls calls since the last terminal line:
// "?PROGRAM- More than 100000 macro calls from one command; not opened: name".
bool gxmacro(Lib& g, int& unit, int out, const std::string& name, std::string_view program);

// Rewinds of macro files one terminal command may make: a macro loop
// without its STOP would otherwise never end.
constexpr long long kMacroRewinds = 100000;
// Rewinds the macro on unit and returns true; past kMacroRewinds since the
// last terminal line it says "?PROGRAM- More than 100000 macro rewinds from
// one command; the macro is left." and returns false (the caller ends the
// macro level).
bool gxmacrorewind(Lib& g, int unit, int out, std::string_view program);
// Ends the current level (end of file, or "@" alone): closes its unit and
// returns to the enclosing level; at the terminal it does nothing.
void gxmacroend(Lib& g, int& unit);

// Width of a command line as read: a word and a file name up to the
// system's path limit. The decoder sees the first 40 columns; file names
// are taken whole from the text as typed.
constexpr size_t kCommandRecord = 4096 + 64;

// Failures. A command that is refused or cannot do its work calls gxfail
// where that happens; an error message ("?..." on the terminal) it prints
// counts the same. The loop brackets every command with gxcommandstart and
// gxcommanddone, which count a failed command once, wherever it failed.
void gxfail(Lib& g);
// After the command line was read on unit. A failure since the last
// command (a macro of the command line that cannot be opened) counts here.
void gxcommandstart(Lib& g, int unit);
// What the loop does after a command.
enum class After {
  Go,          // carry on
  LeaveMacros, // the command failed inside a macro: end every macro level
  Stop         // the command failed under --strict: end the run
};
// Counts the command when it failed and says where: inside a macro (or
// under --strict anywhere) one message naming the file and line,
// "?PROGRAM- Line n of name: the command failed; the macro is left." (or
// "; the run stops (--strict)."). Returns what the loop must do.
After gxcommanddone(Lib& g, int out, std::string_view program);

// Ctrl-C. Before each command the loop takes a copy of the program's
// records and a mark of the files open (g.io.opens()); when the command
// throws Interrupted (a question at the terminal, or gxpoll in long work)
// the loop puts the records back and calls gxcancelled. It completes the
// plot files as far as they were drawn, closes every file the command
// opened (what it was writing is discarded: the old file stays), counts a
// failed command and says so on one line: "Interrupted" at the terminal,
// "Interrupted at line n of name; the macro is left." in a macro. Where
// nobody answers at the terminal (piped input), or under --strict, the run
// stops ("...; the run stops."; exit status 130). Returns what the loop
// must do.
After gxcancelled(Lib& g, int out, long long mark);
// Ctrl-C at the terminal's command prompt, with no command to cancel: the
// line typed is dropped and "Ctrl-C again, Ctrl-D or EXIT ends PROGRAM."
// is said; a second press in a row (or the first after a cancelled
// command) says "Interrupted: PROGRAM ends." and returns true: the program
// then ends as EXIT does (exit status 130).
bool gxpromptinterrupt(Lib& g, int out, std::string_view program);

// Command tables: an array of {word, handler} entries in slot order; blank
// words are slots that are never matched.
template <class State, class Cmd>
struct Command {
  const char* word;
  void (*run)(State&, Cmd&);
};

// Slot (1-based) selected by a decoded command line: the typed word runs to
// the first blank within 7 columns (6 characters without one), and the
// first slot whose first characters equal it wins, so a prefix selects the
// earliest command that begins with it. 0 when none matches.
int gxlookup(std::string_view line, const char* const* words, size_t n);

template <class Entry, size_t N>
int gxlookup(std::string_view line, const Entry (&table)[N]) {
  const char* words[N];
  for (size_t i = 0; i < N; ++i) words[i] = table[i].word;
  return gxlookup(line, words, N);
}

}  // namespace gx
