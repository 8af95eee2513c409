// TAVO's command table and the command handlers, which hold the
// conversation of each command word and call the physics.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "gxlib/console/converse.h"
#include "gxlib/console/gxargs.h"

#include "tavo/state.h"
#include "tavo/talk.h"

namespace tavo {

// A decoded command line.
struct Command {
  std::string line;    // the 40-character decoded line
  std::string raw;     // the line as read (leading blanks removed), before decoding
  std::string word;    // the matched table word
  char qual = ' ';     // qualifier letter (upper case)
  char letter = ' ';   // first character of the argument (upper case)
  double value = 0.0;  // numeric value of the argument
  std::string arg() const { return line.size() > 7 ? line.substr(7) : std::string(); }
  // The argument as typed, for file names: the decoder would turn a name
  // such as "2024" into "2024.0". Falls back to arg() without a raw line.
  std::string typedArg() const {
    if (raw.empty()) return arg();
    size_t i = raw.find_first_of(" \t");
    if (i == std::string::npos) return std::string();
    size_t b = raw.find_first_not_of(" \t", i);
    if (b == std::string::npos) return std::string();
    size_t e = raw.find_last_not_of(" \t");
    return raw.substr(b, e - b + 1);
  }
};

using TavoCommand = gx::Command<Tavo, Command>;

// The 60 slots of the command table, in slot order; the last four are blank.
extern const TavoCommand kCommands[60];
// Slot (1..60) selected by a typed word of up to 6 characters: the first
// slot that begins with it; 0 when none does.
int commandSlot(const std::string& word);

// Runs one session; returns the exit status.
int run(std::istream& in, std::ostream& out, bool interactive = false);
int run(std::istream& in, std::ostream& out, const gx::RunOptions& options);
// The program's name, version, files and completion words for its command line.
gx::ProgramInfo program();
// A session in pieces, for a host that feeds the input a line at a time
// (the Python module): the start-up, then one prompt, read and command.
void startSession(Tavo& s);
void oneLine(Tavo& s);

// Shared by the handlers.
// True when a lens system is loaded; otherwise says "type DATA first".
bool haveSystem(Tavo& s);
// The text without its leading and trailing blanks and tabs.
std::string trimBlanks(std::string_view t);
// The number of the argument, also when it follows a letter ("ROTN A 0.5",
// "PARASI S 2"); 0 when there is none.
double argNumber(const Command& c);
// The unit index and perturbation of EXCITE and CHROM: the index from the
// argument letter (blank 1, G 2, K 3, M 4, O 5; another letter keeps the
// index used last), the perturbation from the argument number, asked for
// with letter S, 0.5 when zero. False when the input ended at the prompt.
bool perturbation(Tavo& s, Command& c, double& dp);
// The list of required octupole fields after a correction (CRAM, FISHK), in
// the unit of the command's letter.
void correctionList(Tavo& s, const Command& c);

// Macro levels of the loop (tavo.cpp): a macro file opened as the command
// input (false when it cannot be), and the end of the current level.
bool openMacro(Tavo& s, const std::string& name);
void endMacro(Tavo& s);

// The handlers, one file of tavo/cmd/ per command word or family.
void cmdP(Tavo&, Command&);              // p.cpp
void cmdExit(Tavo&, Command&);           // exit.cpp
void cmdHelp(Tavo&, Command&);           // help.cpp: HELP, MENU
void cmdMenu(Tavo&, Command&);
void cmdDiag(Tavo&, Command&);           // diag.cpp
void cmdCap(Tavo&, Command&);            // cap.cpp
void cmdClear(Tavo&, Command&);          // clear.cpp
void cmdSystemShell(Tavo&, Command&);    // shell.cpp: $
void cmdCorr(Tavo&, Command&);           // corr.cpp
void cmdVelna(Tavo&, Command&);          // velna_ion.cpp: VELNA, ION
void cmdIon(Tavo&, Command&);
void cmdMacro(Tavo&, Command&);          // macro.cpp: @
void cmdRetired(Tavo&, Command&);        // retired.cpp: XSCTN, IDLOUT
void cmdData(Tavo&, Command&);           // data.cpp: DATA, SAVE
void cmdSave(Tavo&, Command&);
void cmdElemen(Tavo&, Command&);         // elemen.cpp
void cmdInsert(Tavo&, Command&);         // edit.cpp: INSERT, REMOVE, ROTN, DISP
void cmdRemove(Tavo&, Command&);
void cmdRotn(Tavo&, Command&);
void cmdDisp(Tavo&, Command&);
void cmdSqueez(Tavo&, Command&);         // squeez.cpp
void cmdEffect(Tavo&, Command&);         // effect.cpp
void cmdParasi(Tavo&, Command&);         // parasi.cpp

// First-order listings (cmd_first.cpp).
void cmdSmat(Tavo&, Command&);
void cmdSystem(Tavo&, Command&);
void cmdElementView(Tavo&, Command&);   // QUAD, OCTU, SOLEN, ACCEL, DIP, EINZ, VS, GAP, CYL, SEXT, BELL
void cmdRuss(Tavo&, Command&);
void cmdS(Tavo&, Command&);
void cmdCouple(Tavo&, Command&);
void cmdChrom(Tavo&, Command&);
void cmdVector(Tavo&, Command&);
void cmdPtf(Tavo&, Command&);

// Aberration listings (cmd_aber.cpp).
void cmdThird(Tavo&, Command&);
void cmdAb3(Tavo&, Command&);
void cmdAb2(Tavo&, Command&);
void cmdCofout(Tavo&, Command&);
// The aberration half of SYSTEM (figure of merit), called by cmdSystem.
void systemMerit(Tavo&);

// Design.
void cmdStig(Tavo&, Command&);           // stig.cpp
void cmdMask(Tavo&, Command&);           // mask.cpp: MASK, AGP
void cmdAgp(Tavo&, Command&);
void cmdExcite(Tavo&, Command&);         // excite.cpp
void cmdFishk(Tavo&, Command&);          // fishk.cpp
void cmdCram(Tavo&, Command&);           // cram.cpp
void cmdSpec(Tavo&, Command&);           // astig_along.cpp
void cmdTrace(Tavo&, Command&);          // trace.cpp

// Maps integrated through the fields (cmd_exact.cpp): EXACT, FRINGE.
void cmdExact(Tavo&, Command&);
void cmdFringe(Tavo&, Command&);

}  // namespace tavo
