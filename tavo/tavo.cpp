// TAVO's main routine: start-up, the command loop with its macro levels,
// the command table and the commands that need no optics.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <istream>
#include <ostream>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {

constexpr int kTerminal = gx::Io::kIn;
constexpr const char* kVersion = "9.0";

void cmdMacro(Tavo& s, Command& c);
void cmdNothing(Tavo&, Command&) {}

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
    {"@", cmdMacro},      {"CLEAR", cmdClear},     {"XSCTN", cmdNothing},
    {"MENU", cmdMenu},    {"INSERT", cmdInsert},   {"REMOVE", cmdRemove},
    {"AB2", cmdAb2},      {"COFOUT", cmdCofout},   {"AGP", cmdAgp},
    {"SQUEEZ", cmdSqueez}, {"EFFECT", cmdEffect},  {"$", cmdSystemShell},
    {"PARASI", cmdParasi}, {"DISP", cmdDisp},      {"IDLOUT", cmdNothing},
    {"EXACT", cmdExact},  {"FRINGE", cmdFringe},
    {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}};

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
      stgtest(s, v);
      if (v > 1e-4) text.replace(0, 4, "sti>");
    }
  }
  if (s.inout.cmd == kTerminal) s.imacr = 0;
  if (gx::gxprompt(s.gx, s.inout.cmd, s.inout.term, text, line, 40) != gx::Reply::Ok) {
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

void oneCommand(Tavo& s) {
  std::string line;
  if (!readCommand(s, line)) return;
  gx::gxlead(s.gx, line);
  line = gx::pad(line, 40);
  if (line[0] == '$' || line[0] == '!' || line[0] == '@') {
    line.insert(1, " ");
    line.resize(40);
  }
  Command c;
  c.raw = line;
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
  if (notLibrary == 1) s.gx.io.write(s.inout.term, "?" + line);
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

// "@": run a macro; alone it ends the current macro, or asks at the terminal.
void cmdMacro(Tavo& s, Command& c) {
  std::string name = c.typedArg();
  if (name.empty()) {
    if (s.inout.cmd != kTerminal) {
      endMacro(s);
      return;
    }
    std::string reply;
    if (ask(s, "Macro file name > ", reply, 100) != gx::Reply::Ok) return;
    name = trim(reply);
    if (name.empty()) return;
  }
  openMacro(s, name + ".tcm");
}

}  // namespace

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
  }
  gx::gxquit(s.gx, '*');
  s.gx.io.flush();
  return gx::exitStatus(options, s.gx.io);
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

// ---------------------------------------------------------------------------
// Foundation commands.

void cmdP(Tavo& s, Command&) {
  couple(s);
  if (s.blk1.nv == 0) {
    say(s, "No variable first order elements.");
    return;
  }
  for (int n = 1; n <= s.blk1.nv; ++n) {
    const std::string text = " Lenses with coupling code " + gx::fI(n, 2) + " have fields " +
                             gx::fG(s.blk1.x[n], 12, 5, 1) + " new > ";
    if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, s.blk1.x[n]) ==
        gx::Reply::End)
      return;  // abandoned: the table is not touched
  }
  reload(s);
}

void cmdExit(Tavo& s, Command& c) {
  gx::gxquit(s.gx, '*');
  int level = gx::gxnint(c.value);
  s.bdata(1, 5) = level;
  if (level >= 10) {
    std::string reply;
    if (ask(s, "IDIAG for final run  > ", reply, 80) != gx::Reply::Ok) return;
    long long d = 0;
    if (!gx::readInt(std::string_view(gx::pad(reply, 1)), d)) return;
    level = static_cast<int>(d);
    s.bdata(1, 5) = level;
  }
  if (level >= 1) {
    s.idiag = level;
    if (s.syspa >= 3)
      finalListing(s);
    else
      say(s, "No lens system loaded: no final listing.");
  }
  s.running = false;
}

void cmdHelp(Tavo& s, Command& c) {
  const std::string arg = c.arg();
  if (c.qual == 'S') {
    s.helppath = c.typedArg();
    return;
  }
  std::string key = gx::pad(arg, 6);
  if (blank(key)) key = "HELP  ";
  const std::string path = gx::Io::exists("tavo.hlp") ? std::string("tavo.hlp") : s.helppath;
  gx::gxhelp(s.gx, s.inout.cmd, s.inout.term, c.qual == 'B' ? 1 : 0, path, key);
}

void cmdDiag(Tavo& s, Command& c) {
  int n = gx::gxnint(c.value);
  if (n != 0) {
    s.bdata(1, 5) = n;
    s.idiag = n;
    say(s, "Diagnostic set to " + gx::fI(n, 3));
  } else {
    std::string reply;
    long long v = 0;
    if (askUntil(s, "Current diagnostic is " + gx::fI(s.idiag, 3) + " > ", reply, 80,
                 [&](const std::string& r) {
                   return gx::readInt(std::string_view(gx::pad(r, 3)), v);
                 }) == gx::Reply::End)
      return;
    n = static_cast<int>(v);
    if (n != 0) {
      s.bdata(1, 5) = n;
      s.idiag = n;
    }
  }
  // The thin-lens level works on a fresh evaluation; there is nothing to
  // evaluate before a system is loaded.
  if (s.idiag == -6 && s.syspa >= 1) {
    Mat4 a;
    stigmat(s, 1, a);
  }
}

void cmdCap(Tavo& s, Command&) {
  say(s, "Title: " + std::string(gx::trimRight(s.title)));
  std::string reply;
  if (ask(s, "New> ", reply, 50) != gx::Reply::Ok) return;
  if (!blank(reply)) s.title = gx::pad(reply, 50);
}

void cmdMenu(Tavo& s, Command&) {
  blankLine(s);
  say(s, "TAVO commands: ");
  blankLine(s);
  for (int i = 0; i < 60; i += 8) {
    std::string row = " ";
    for (int j = i; j < i + 8 && j < 60; ++j) row += gx::pad(kCommands[j].word, 6) + "  ";
    s.gx.io.write(s.inout.term, row);
  }
}

void cmdClear(Tavo& s, Command& c) { gx::gxcls(s.gx, s.inout.term, c.qual); }

void cmdSystemShell(Tavo& s, Command& c) {
  gx::gxsystem(s.gx, trim(gx::pad(c.typedArg(), 33)));
}

// File names are taken as typed: the decoder would rewrite a name that
// starts like a number.
void cmdCorr(Tavo& s, Command& c) {
  const std::string name = c.typedArg();
  if (name.empty()) return;
  s.corrName = name + ".lpt";
  say(s, "Output into file " + s.corrName);
}

void cmdVelna(Tavo& s, Command& c) {
  std::string name = c.typedArg();
  if (name.empty()) {
    std::string reply;
    if (ask(s, "VELNA filename for output> ", reply, 100) != gx::Reply::Ok) return;
    name = trim(reply);
    if (name.empty()) name = s.corrName;
  }
  couple(s);
  say(s, "KQOUT not implemented");
}

void cmdIon(Tavo& s, Command& c) {
  std::string name = c.typedArg();
  if (name.empty()) {
    std::string reply;
    if (ask(s, "TIRVEX filename for output> ", reply, 100) != gx::Reply::Ok) return;
    name = trim(reply);
    if (name.empty()) name = s.file;
  }
  couple(s);
  say(s, "IONOUT not implemented");
}

}  // namespace tavo
