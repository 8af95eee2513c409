// KESTRIM's command interpreter: the command table, prompts, macros and
// registers, shared by the command routines.
#pragma once

#include <array>
#include <string>

#include "gxlib/console/converse.h"
#include "kestrim/state.h"

namespace kestrim {

// A decoded command line as the command routines receive it.
struct KqLine {
  std::string line;    // the 40-character decoded line
  char qual = ' ';     // qualifier letter
  double value = 0.0;  // numeric value of the argument
  std::string rawArg;  // the argument as typed (file names)
};
using KqCommand = gx::Command<Kestrim, KqLine>;

// kqcomlib: 60 slots, the first 44 hold the command words in table order.
extern const KqCommand kCommands[60];

// Slot number (1..60) of the command that the decoded line selects, 0 when
// none: the word length is the position of the first blank minus one
// (6 when outside 1..6), compared with each slot in table order.
int kqlookup(const std::string& line);

// Writes a prompt and reads one answer of width characters from the current
// input; an answer taken from a macro is echoed after its prompt. Ok, or
// End when the macro file has ended (the caller gives up). The end of the
// terminal input throws gx::EndOfInput.
gx::Reply kqask(Kestrim& k, const std::string& prompt, std::string& reply, size_t width);

// One terminal line with the usual blank carriage-control column.
void kqsay(Kestrim& k, const std::string& text);

// Text helpers.
std::string kqtrim(const std::string& s);          // without trailing blanks
std::string kqstrip(const std::string& s);         // without leading and trailing blanks
bool kqblank(const std::string& s);
// True when the file-name part (after the last '/') holds a '.'.
bool kqhasdot(const std::string& name);
// The first word of a name cut at its first blank, or at 26 characters when
// it has none within them (a blank name gives 26 blanks).
std::string kqcut26(const std::string& name);

// Registers and their file kqsort.reg. kqregload returns 0 when loaded,
// 1 when there is no file (silently), 2 after a read error (reported;
// the registers read so far keep their new values).
int kqregload(Kestrim& k);
int kqregsave(Kestrim& k);   // 0 saved, 1 failed (reported)

// Macro levels: open one on the next unit (false when it did not open),
// and close the current one.
bool kqmacro(Kestrim& k, const std::string& name);
void kqmacroend(Kestrim& k);

// A whole session on k: start-up, the command loop until EXIT or the end of
// the terminal input; macro (when given) runs after the login macro.
// Returns the exit status.
int kqsession(Kestrim& k, const std::string& macro = std::string());
// The same in pieces, for a host that feeds the input a line at a time
// (the Python module): the start-up, then one prompt, read and command.
void kqstart(Kestrim& k);
void kqstep(Kestrim& k);

}  // namespace kestrim
