// KESTRIM's command interpreter: the command table, prompts, macros and
// registers, shared by the command routines.
#pragma once

#include <array>
#include <string>

#include "kestrim/state.h"

namespace kestrim {

// kqcomlib: 60 slots, the first 42 hold the command words in table order.
constexpr std::array<const char*, 60> kComlib = {
    "MENU",   "SHADOW", "SMEAR",  "INFO",   "DATA",   "SYNTH",  "CLEAR",  "@",
    "PREV",   "NTOT",   "REG",    "ALOAD",  "ILOAD",  "FLASH",  "REWIND", "REGSAV",
    "REGLD",  "INCR",   "EXIT",   "MAP",    "STOP",   "LIST",   "SAVE",   "SORT",
    "MAXIMA", "CAPTIO", "COLOUR", "VALUES", "ICOUL",  "DOTMOD", "HELP",   "DELETE",
    "DELTAE", "$",      "!",      "FIND",   "MULE",   "TRANS",  "PROFIL", "PLOT",
    "DUMP",   "DIFF",   "",       "",       "",       "",       "",       "",
    "",       "",       "",       "",       "",       "",       "",       "",
    "",       "",       "",       ""};

// Deepest macro nesting allowed: far beyond any real macro, low enough that
// a macro calling itself cannot use up the file handles.
constexpr int kMaxMacroDepth = 64;

// Slot number (1..60) of the command that the decoded line selects, 0 when
// none: the word length is the position of the first blank minus one
// (6 when outside 1..6), compared with each slot in table order.
int kqlookup(const std::string& line);

// Writes a prompt and reads one answer of width characters from the current
// input; an answer taken from a macro is echoed after its prompt. Returns
// gx::kReadOk, or gx::kReadEnd when the macro file has ended (the caller
// gives up). The end of the terminal input throws gx::EndOfInput.
int kqask(Kestrim& k, const std::string& prompt, std::string& reply, size_t width);

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
// the terminal input. Returns the exit status.
int kqsession(Kestrim& k);

}  // namespace kestrim
