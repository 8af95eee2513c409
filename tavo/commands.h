// TAVO's command table and the command routines.
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

// The unit index and perturbation of EXCITE and CHROM: the index from the
// argument letter (blank 1, G 2, K 3, M 4, O 5; another letter keeps the
// index used last), the perturbation from the argument number, asked for
// with letter S, 0.5 when zero. False when the input ended at the prompt.
bool perturbation(Tavo& s, Command& c, double& dp);

// Foundation commands.
void cmdP(Tavo&, Command&);
void cmdExit(Tavo&, Command&);
void cmdHelp(Tavo&, Command&);
void cmdDiag(Tavo&, Command&);
void cmdCap(Tavo&, Command&);
void cmdMenu(Tavo&, Command&);
void cmdClear(Tavo&, Command&);
void cmdSystemShell(Tavo&, Command&);   // $
void cmdCorr(Tavo&, Command&);
void cmdVelna(Tavo&, Command&);
void cmdIon(Tavo&, Command&);

// First-order commands (filein.cpp, cmd_first.cpp).
void cmdData(Tavo&, Command&);
void cmdSave(Tavo&, Command&);
void cmdSmat(Tavo&, Command&);
void cmdSystem(Tavo&, Command&);
void cmdElementView(Tavo&, Command&);   // QUAD, OCTU, SOLEN, ACCEL, DIP, EINZ, VS, GAP, CYL, SEXT
void cmdRuss(Tavo&, Command&);
void cmdS(Tavo&, Command&);
void cmdCouple(Tavo&, Command&);
void cmdChrom(Tavo&, Command&);
void cmdVector(Tavo&, Command&);
void cmdPtf(Tavo&, Command&);

// Aberration commands (cmd_aber.cpp).
void cmdThird(Tavo&, Command&);
void cmdAb3(Tavo&, Command&);
void cmdAb2(Tavo&, Command&);
void cmdCofout(Tavo&, Command&);
// The aberration half of SYSTEM (figure of merit), called by cmdSystem.
void systemMerit(Tavo&);

// Commands of later work (cmd_later.cpp).
void cmdStig(Tavo&, Command&);
void cmdElemen(Tavo&, Command&);
void cmdFishk(Tavo&, Command&);
void cmdCram(Tavo&, Command&);
void cmdExcite(Tavo&, Command&);
void cmdRotn(Tavo&, Command&);
void cmdMask(Tavo&, Command&);
void cmdSpec(Tavo&, Command&);
void cmdTrace(Tavo&, Command&);
void cmdInsert(Tavo&, Command&);
void cmdRemove(Tavo&, Command&);
void cmdAgp(Tavo&, Command&);
void cmdSqueez(Tavo&, Command&);
void cmdEffect(Tavo&, Command&);
void cmdParasi(Tavo&, Command&);
void cmdDisp(Tavo&, Command&);

// Maps integrated through the fields (cmd_exact.cpp, exactfit.cpp).
void cmdExact(Tavo&, Command&);
void cmdFringe(Tavo&, Command&);
// EXACT/F: refits the coupled fields so that the soft-edged system is
// stigmatic at the system end.
void exactFit(Tavo&, Command&);
void exactCram(Tavo&, Command&);

}  // namespace tavo
