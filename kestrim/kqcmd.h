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

  // The line with the argument as typed, before the decoder rewrote a
  // leading number: the commands that take a file name read it from here,
  // so that a file called 2024 stays 2024.
  std::string typed() const;
};
using KqCommand = gx::Command<Kestrim, KqLine>;

// kqcomlib: 60 slots, the first 44 hold the command words in table order.
extern const KqCommand kCommands[60];

// The command handlers, one per word and all of one shape; the table names
// them, and each lives in the file named after its word or its family.
// kqconsole.cpp: the console and the text files.
void kqmenu(Kestrim& k, KqLine& c);      // MENU
void kqsmear(Kestrim& k, KqLine& c);     // SMEAR (not active)
void kqinfo(Kestrim& k, KqLine& c);      // INFO (not active)
void kqclear(Kestrim& k, KqLine& c);     // CLEAR
void kqexit(Kestrim& k, KqLine& c);      // EXIT
void kqlist(Kestrim& k, KqLine& c);      // LIST
void kqhelp(Kestrim& k, KqLine& c);      // HELP
void kqdelete(Kestrim& k, KqLine& c);    // DELETE
void kqshell(Kestrim& k, KqLine& c);     // $
void kqcomment(Kestrim& k, KqLine& c);   // !
// kqdisplay.cpp: how rays are shown.
void kqflash(Kestrim& k, KqLine& c);     // FLASH
void kqcaptio(Kestrim& k, KqLine& c);    // CAPTIO
void kqcolour(Kestrim& k, KqLine& c);    // COLOUR
void kqicoul(Kestrim& k, KqLine& c);     // ICOUL
void kqdotmod(Kestrim& k, KqLine& c);    // DOTMOD
// kqreg.cpp: the registers.
void kqreg(Kestrim& k, KqLine& c);       // REG
void kqaload(Kestrim& k, KqLine& c);     // ALOAD
void kqiload(Kestrim& k, KqLine& c);     // ILOAD
void kqregsav(Kestrim& k, KqLine& c);    // REGSAV
void kqregld(Kestrim& k, KqLine& c);     // REGLD
void kqincr(Kestrim& k, KqLine& c);      // INCR
// kqmacro.cpp: macros and the previous line.
void kqmacrocmd(Kestrim& k, KqLine& c);  // @
void kqprev(Kestrim& k, KqLine& c);      // PREV
void kqrewind(Kestrim& k, KqLine& c);    // REWIND
void kqstop(Kestrim& k, KqLine& c);      // STOP
// kqio.cpp: the current ray set.
void kqdata(Kestrim& k, KqLine& c);      // DATA
void kqsave(Kestrim& k, KqLine& c);      // SAVE
void kqntot(Kestrim& k, KqLine& c);      // NTOT
void kqvalues(Kestrim& k, KqLine& c);    // VALUES
void kqdump(Kestrim& k, KqLine& c);      // DUMP and MULE
// The analyses, each in its own file.
void kqgrid(Kestrim& k, KqLine& c);      // SHADOW
void kqsynth(Kestrim& k, KqLine& c);     // SYNTH
void kqmapcmd(Kestrim& k, KqLine& c);    // MAP
void kqsort(Kestrim& k, KqLine& c);      // SORT
void kqmaxima(Kestrim& k, KqLine& c);    // MAXIMA
void kqdeltae(Kestrim& k, KqLine& c);    // DELTAE
void kqfind(Kestrim& k, KqLine& c);      // FIND
void kqtran(Kestrim& k, KqLine& c);      // TRANS
void kqprofile(Kestrim& k, KqLine& c);   // PROFIL
void kqplot(Kestrim& k, KqLine& c);      // PLOT
void kqdiff(Kestrim& k, KqLine& c);      // DIFF
void kqopmd(Kestrim& k, KqLine& c);      // OPMD: openPMD particle files (R reads, W writes)
void kqgraphcmd(Kestrim& k, KqLine& c);  // GRAPH: the device for the analyses' pictures

// Runs a decoded line: offers it to the library's settings, then to the
// table, then tries its word as a macro name. typed is the word as typed
// (a macro's own name), rawArg the argument as typed.
void kqdispatch(Kestrim& k, std::string line, char qual, double value, const std::string& typed,
                const std::string& rawArg);

// Ends the session as EXIT does: the ray-set channels and plot files are
// closed, a write left unfinished is discarded.
void kqshutdown(Kestrim& k);

// The register number of a qualifier digit, 0 for a blank qualifier, -1
// for any other character.
int kqregister(char qual);

// Truncation toward zero, held inside int (NaN gives 0).
int kqtrunc(double v);
// A 64-bit count held inside int.
int kqclampint(long long v);

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
std::string kqfirstword(const std::string& name);

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
