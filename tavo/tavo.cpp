// TAVO's main routine: start-up, the command loop with its macro levels
// and the command table, which names each word's handler in tavo/cmd/.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <istream>
#include <ostream>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/fortran/interrupt.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {

constexpr int kTerminal = gx::Io::kIn;
constexpr const char* kVersion = "9.0";

}  // namespace

const TavoCommand kCommands[60] = {
    {"P", cmdP},          {"PTF", cmdPtf},         {"S", cmdS},
    {"STIG", cmdStig},    {"EXIT", cmdExit},       {"SAVE", cmdSave},
    {"HELP", cmdHelp},    {"THIRD", cmdThird},     {"DATA", cmdData},
    {"ELEMEN", cmdElemen}, {"FISHK", cmdFishk},    {"CRAM", cmdCram},
    {"AB3", cmdAb3},      {"SMAT", cmdSmat},       {"SYSTEM", cmdSystem},
    {"QUAD", cmdElementView}, {"OCTU", cmdElementView}, {"SOLEN", cmdElementView},
    {"ACCEL", cmdElementView}, {"RUSS", cmdRuss},  {"EXCITE", cmdExcite},
    {"CHROM", cmdChrom},  {"VECTOR", cmdVector},   {"CAP", cmdCap},
    {"DIAG", cmdDiag},    {"COUPLE", cmdCouple},   {"VELNA", cmdVelna},
    {"ION", cmdIon},      {"CORR", cmdCorr},       {"ROTN", cmdRotn},
    {"MASK", cmdMask},    {"SPEC", cmdSpec},       {"DIP", cmdElementView},
    {"EINZ", cmdElementView}, {"VS", cmdElementView}, {"GAP", cmdElementView},
    {"CYL", cmdElementView}, {"TRACE", cmdTrace},  {"SEXT", cmdElementView},
    {"@", cmdMacro},      {"CLEAR", cmdClear},     {"XSCTN", cmdRetired},
    {"MENU", cmdMenu},    {"INSERT", cmdInsert},   {"REMOVE", cmdRemove},
    {"AB2", cmdAb2},      {"COFOUT", cmdCofout},   {"AGP", cmdAgp},
    {"SQUEEZ", cmdSqueez}, {"EFFECT", cmdEffect},  {"$", cmdSystemShell},
    {"PARASI", cmdParasi}, {"DISP", cmdDisp},      {"IDLOUT", cmdRetired},
    {"EXACT", cmdExact},  {"FRINGE", cmdFringe},  {"BELL", cmdElementView},
    {"TOLERA", cmdTolera}, {"", nullptr},          {"", nullptr}};

namespace {

constexpr double kUnitFactors[14] = {0.0,  1.0, 1e4, 10.0, 1398.0766, 22797.41, 0.001,
                                     1.0,  1.0, 1.0, 0.0,  1.0,       1.0,      1.0};

char upcase(char ch) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
}

std::string upper(std::string t) {
  for (char& ch : t) ch = upcase(ch);
  return t;
}

std::string lower(std::string t) {
  for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return t;
}

std::string trim(std::string_view t) {
  t = gx::trimRight(t);
  size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  return std::string(t.substr(i));
}

bool blank(std::string_view t) { return trim(t).empty(); }

void blankLine(Tavo& s) { say(s, ""); }


// The command prompt and the read of one 40-character line. Returns false
// when no line was read (end of a macro level).
bool readCommand(Tavo& s, std::string& line) {
  std::string text = "tav>";
  text += s.inout.cmd == kTerminal ? ' ' : '_';
  if (s.syspa >= 1) {
    s.idiag = gx::gxnint(s.bdata(1, 5));
    if (s.idiag == -6) text.replace(0, 4, "apr>");
    // Levels below -1: "sti>" while the combined astigmatism exceeds 1e-4.
    if (s.idiag < -1 && s.syspa >= 3) {
      double v = 0.0;
      astigmatismSquared(s, v);
      if (v > 1e-4) text.replace(0, 4, "sti>");
    }
  }
  if (s.inout.cmd == kTerminal) s.imacr = 0;
  // The whole line: the decoder sees its first 40 columns, file names are
  // taken from the text as typed, whatever their length.
  if (gx::gxprompt(s.gx, s.inout.cmd, s.inout.term, text, line, gx::kCommandRecord) !=
      gx::Reply::Ok) {
    // A macro file that ends, or cannot be read any further, closes its level.
    endMacro(s);
    return false;
  }
  return true;
}

// A word that is the name of a macro file: the word as typed, then in
// upper and lower case (the decoder upper-cases the word).
std::string macroForWord(const std::string& raw, const std::string& line, int k) {
  std::string typed = raw.substr(0, k);
  if (upper(typed) != line.substr(0, k)) typed = line.substr(0, k);
  for (const std::string& w : {typed, upper(typed), lower(typed)}) {
    if (gx::Io::exists(w + ".tcm")) return w + ".tcm";
  }
  return std::string();
}

void runLine(Tavo& s, std::string line) {
  gx::gxlead(s.gx, line);
  line = std::string(gx::trimRight(line));
  if (!line.empty() && (line[0] == '$' || line[0] == '!' || line[0] == '@')) line.insert(1, " ");
  Command c;
  c.raw = line;
  line = gx::pad(line, 40);
  char qual = ' ';
  double value = 0.0;
  gx::gxdecode(s.gx, line, qual, value);
  line = gx::pad(line, 40);
  c.line = line;
  c.qual = upcase(qual);
  c.letter = upcase(line[7]);
  c.value = value;
  const int notLibrary =
      gx::gxparam(s.gx, s.inout.cmd, s.inout.term, s.imacr, line, c.qual, value);
  if (blank(line)) return;

  size_t blankAt = line.substr(0, 7).find(' ');
  const int k = blankAt == std::string::npos ? 6 : static_cast<int>(blankAt);
  const int slot = gx::gxlookup(line, kCommands);
  if (slot > 0 && kCommands[slot - 1].run != nullptr) {
    c.word = kCommands[slot - 1].word;
    kCommands[slot - 1].run(s, c);
    return;
  }
  if (k > 0) {
    const std::string name = macroForWord(c.raw, line, k);
    if (!name.empty()) {
      openMacro(s, name);
      return;
    }
  }
  if (notLibrary == 1) {
    s.gx.io.write(s.inout.term, "?" + line);
    say(s, "Not a command or a macro file; HELP/B lists the commands.");
  }
}

// One command with its failure bookkeeping. Ctrl-C during the command (at
// a question, or in long work) cancels it: the records go back to the copy
// taken before it, as if it had never been typed.
void oneCommand(Tavo& s) {
  std::string line;
  try {
    if (!readCommand(s, line)) return;
  } catch (const gx::Interrupted&) {
    // At the command prompt there is nothing to cancel.
    if (gx::gxpromptinterrupt(s.gx, s.inout.term, "TAVO")) s.running = false;
    return;
  }
  gx::gxcommandstart(s.gx, s.inout.cmd);
  const TavoRecords before = s;
  const long long mark = s.gx.io.opens();
  gx::After next = gx::After::Go;
  try {
    gx::gxpoll(s.gx);  // pressed while a macro's line was read
    runLine(s, line);
    next = gx::gxcommanddone(s.gx, s.inout.term, "TAVO");
  } catch (const gx::Interrupted&) {
    static_cast<TavoRecords&>(s) = before;
    next = gx::gxcancelled(s.gx, s.inout.term, mark);
  }
  switch (next) {
    case gx::After::Go:
      break;
    case gx::After::Stop:
      s.running = false;
      [[fallthrough]];
    case gx::After::LeaveMacros:
      while (s.inout.cmd != kTerminal) endMacro(s);
      break;
  }
}

void startup(Tavo& s) {
  blankLine(s);
  s.gx.io.write(s.inout.term, gx::fX(9) + "[[[[[ Program TAVO - Version " + std::string(kVersion) + " ]]]]]");
  blankLine(s);
  blankLine(s);
  s.idiag = -1;
  s.syspa = 0;
  s.imacr = 0;
  s.bdata.clear();
  for (int i = 1; i <= 13; ++i) s.unitFactor[i] = kUnitFactors[i];
  s.gx.io.write(s.inout.term, gx::fX(10) + " Type DATA to load a filename to start....");
  blankLine(s);
  blankLine(s);
  if (gx::Io::exists("login.tcm")) openMacro(s, "login.tcm");
}

}  // namespace

bool openMacro(Tavo& s, const std::string& name) {
  if (!gx::gxmacro(s.gx, s.inout.cmd, s.inout.term, name, "TAVO")) return false;
  s.imacr = 1;
  return true;
}

// End of a macro level (end of file, or "@" alone inside the macro).
void endMacro(Tavo& s) {
  gx::gxmacroend(s.gx, s.inout.cmd);
  if (s.inout.cmd == kTerminal) s.imacr = 0;
  s.bdata(1, 5) = -2.0;
}

std::string trimBlanks(std::string_view t) { return trim(t); }

bool haveSystem(Tavo& s) {
  if (s.syspa >= 3) return true;
  gx::gxfail(s.gx);
  say(s, "No lens system loaded: type DATA first.");
  return false;
}

void startSession(Tavo& s) {
  s.helppath = gx::helpPath("tavo.hlp");
  startup(s);
}

void oneLine(Tavo& s) { oneCommand(s); }

int commandSlot(const std::string& word) {
  return gx::gxlookup(gx::pad(word.substr(0, std::min<size_t>(word.size(), 6)), 7), kCommands);
}

int run(std::istream& in, std::ostream& out, bool interactive) {
  gx::RunOptions o;
  o.interactive = interactive;
  return run(in, out, o);
}

int run(std::istream& in, std::ostream& out, const gx::RunOptions& options) {
  Tavo s(in, out, options.interactive);
  s.gx.io.setLineSource(options.lines);
  s.gx.strict = options.strict;
  s.gx.userAtTerminal = options.interactive || options.lines != nullptr;
  s.gx.onPoll = options.onPoll;
  if (options.clock) s.gx.clock = options.clock;
  s.helppath = gx::helpPath("tavo.hlp");
  bool pending = !options.macro.empty();
  try {
    startup(s);
    while (s.running) {
      // The macro of the command line runs once the login macro has ended,
      // as if "@name" had been typed at the first prompt.
      if (pending && s.inout.cmd == kTerminal) {
        pending = false;
        openMacro(s, options.macro);
        continue;
      }
      oneCommand(s);
    }
  } catch (const gx::EndOfInput&) {
    // End of the terminal input ends the run cleanly, whatever was asked.
  } catch (const gx::Interrupted&) {
    // Ctrl-C outside any command: the run ends as at the end of its input.
    s.gx.endedByCtrlc = true;
  }
  gx::gxquit(s.gx, '*');
  s.gx.io.flush();
  return gx::exitStatus(options, s.gx);
}

gx::ProgramInfo program() {
  gx::ProgramInfo p;
  p.name = "tavo";
  p.title = "TAVO, the optics design program for probe-forming lens systems of charged-particle beams";
  p.version = kVersion;
  p.helpFile = "tavo.hlp";
  p.macroExt = ".tcm";
  p.login = "login.tcm";
  for (const TavoCommand& c : kCommands) p.words.push_back(c.word);
  p.extraWords = gx::gxparamwords();
  p.fileWords = {"DATA", "SAVE", "COFOUT", "@"};
  return p;
}

}  // namespace tavo
