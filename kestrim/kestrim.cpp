// KESTRIM's main program: start-up, the command loop and the command table
// that sends each word to its handler.
#include "kestrim/kestrim.h"

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/fortran/interrupt.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr const char* kVersion = "2";

// The commands whose argument is a file name (TAB completes names after them).
constexpr const char* kFileWords[] = {"DATA",   "SYNTH",  "SHADOW", "@",     "LIST",   "SAVE",
                                      "SORT",   "MAXIMA", "DELETE", "DELTAE", "FIND",  "MULE",
                                      "TRANS",  "PROFIL", "DUMP",   "DIFF"};

// Width of the file-name fields of the commands.
constexpr size_t kNameField = 30;

// Commands whose argument is a file name.
bool namesAFile(std::string_view word) {
  for (const char* w : kFileWords)
    if (word == w) return true;
  return false;
}

// Reads the delays file, when there is one.
void loadDelays(Kestrim& k) {
  gx::Io& io = k.gx.io;
  k.ndel = k.nper = 1000;
  if (!io.open(k.io.file, "kqsort.del", gx::OpenStatus::Old, gx::Access::Read)) return;
  int v[2] = {1000, 1000};
  gx::RdStat st = io.readListInt(k.io.file, v, 2);
  io.close(k.io.file);
  if (st != gx::RdStat::Ok) {
    kqsay(k, "%KESTRIM- Error reading kqsort.del: the delays stay at 1000.");
    kqsay(k, "");
    return;
  }
  k.ndel = v[0];
  k.nper = v[1];
  kqsay(k, "Using delays from: kqsort.del.");
  kqsay(k, "NDEL = " + gx::fI(k.ndel, 4) + " NPER = " + gx::fI(k.nper, 4));
  kqsay(k, "");
}

// The word typed at the prompt, up to its first blank, tab or '/', cut to
// six characters: the name of a macro run by its own name.
std::string typedWord(const std::string& line) {
  size_t e = line.find_first_of(" \t/");
  std::string w = line.substr(0, e == std::string::npos ? line.size() : e);
  return w.substr(0, 6);
}

// The argument as typed, before the decoder rewrote a leading number: the
// file-name commands take it, so that a file called 2024 stays 2024.
std::string rawArgOf(const std::string& line) {
  size_t e = line.find_first_of(" \t");
  size_t b = e == std::string::npos ? e : line.find_first_not_of(" \t", e);
  return b == std::string::npos ? std::string() : kqtrim(line.substr(b));
}

void startup(Kestrim& k) {
  k.io = kqinout{};
  k.ntot = 0;
  k.areg.fill(0.0);
  k.ireg.fill(0);
  k.flags = kqflags{};
  k.dotMode = 0;
  k.dotSize = 1.0;
  if (k.helppath.empty()) k.helppath = gx::helpPath("kestrim.hlp");
  kqregload(k);
  loadDelays(k);
  k.caption = std::string(100, ' ');
  kqsay(k, "KESTRIM - High Resolution Image Intensity Mapping");
  kqsay(k, "          Version " + std::string(kVersion) + " (flux peaking)");
  kqsay(k, "");
  if (gx::Io::exists("login.kcm")) {
    kqsay(k, "");
    kqsay(k, "Executing the login macro login.kcm");
    kqsay(k, "");
    kqmacro(k, "login.kcm");
  }
}

// The command prompt and the read of one line. False when no command was
// read (the end of a macro).
bool readCommand(Kestrim& k, std::string& line) {
  gx::Io& io = k.gx.io;
  io.prompt("kestrim> ");
  // The whole line: the decoder sees its first 40 columns, file names are
  // taken from the text as typed.
  gx::RdStat st = io.readLine(k.io.in, line, gx::kCommandRecord);
  if (st != gx::RdStat::Ok) {
    // The end of a macro file (or one that cannot be read any further)
    // returns to the level that called it.
    kqmacroend(k);
    return false;
  }
  return true;
}

// One command line: clear, decode, run.
void runCommand(Kestrim& k, std::string line) {
  gx::Io& io = k.gx.io;
  gx::gxcls(k.gx, k.io.out, ' ');
  if (line.compare(0, 6, std::string(6, ' ')) == 0) return;
  if (k.io.macro == 1) io.write(k.io.out, std::string("+").append(kqtrim(line)));
  gx::gxlead(k.gx, line);
  line = kqtrim(line);
  if (!line.empty() && (line[0] == '@' || line[0] == '$' || line[0] == '!')) line.insert(1, " ");
  std::string typed = typedWord(line);
  std::string rawArg = rawArgOf(line);
  line = gx::pad(line, 40);
  char qual = ' ';
  double value = 0.0;
  gx::gxdecode(k.gx, line, qual, value);
  kqdispatch(k, line, qual, value, typed, rawArg);
}

// The ray set on the read channel before a command: its name and what
// tells whether the file under that name is still the same.
struct ReadSet {
  std::string name;       // "" when no set was open
  std::uintmax_t size = 0;
  std::filesystem::file_time_type written{};

  static ReadSet of(Kestrim& k) {
    ReadSet r;
    if (!k.gx.io.isOpen(k.rays.unitR)) return r;
    r.name = k.gx.io.nameOf(k.rays.unitR);
    std::error_code ec;
    r.size = std::filesystem::file_size(r.name, ec);
    r.written = std::filesystem::last_write_time(r.name, ec);
    return r;
  }
  bool same(const ReadSet& o) const { return name == o.name && size == o.size && written == o.written; }
};

// After Ctrl-C: the records as they were before the command, and the ray
// set they name on the read channel again.
void restore(Kestrim& k, const KestrimRecords& before, const ReadSet& set) {
  static_cast<KestrimRecords&>(k) = before;
  gx::Io& io = k.gx.io;
  // Where the channel stands in its file is not known: the next read
  // starts again from the caption.
  k.rays.pos = -1;
  // The command may have closed the channel, or opened another set on it.
  if (set.name.empty() || io.isOpen(k.rays.unitR)) return;
  ReadSet now = set;
  std::error_code ec;
  now.size = std::filesystem::file_size(set.name, ec);
  now.written = std::filesystem::last_write_time(set.name, ec);
  if (now.same(set)) {
    io.open(k.rays.unitR, set.name, gx::OpenStatus::Old, gx::Access::Read, true);
    return;
  }
  // The command had finished a new file under the set's name before it was
  // stopped: the set is what that file holds now.
  std::string name = set.name;
  int ierr = 1;
  kqio(k, 'R', name, ierr);
}

// One pass of the loop without the bookkeeping (the Python module's step):
// prompt, read, run. False when no command was read (the end of a macro).
bool step(Kestrim& k) {
  std::string line;
  if (!readCommand(k, line)) return false;
  gx::gxcommandstart(k.gx, k.io.in);
  runCommand(k, line);
  return true;
}

// One command with its failure bookkeeping: a failed command inside a
// macro ends every macro level, under --strict it ends the run. Ctrl-C
// during the command cancels it and puts the records back.
void oneCommand(Kestrim& k) {
  std::string line;
  try {
    if (!readCommand(k, line)) return;
  } catch (const gx::Interrupted&) {
    // At the command prompt there is nothing to cancel.
    if (gx::gxpromptinterrupt(k.gx, k.io.out, "KESTRIM")) kqshutdown(k);
    return;
  }
  gx::gxcommandstart(k.gx, k.io.in);
  const KestrimRecords before = k;
  const long long mark = k.gx.io.opens();
  const ReadSet set = ReadSet::of(k);
  gx::After next = gx::After::Go;
  try {
    gx::gxpoll(k.gx);  // pressed while a macro's line was read
    runCommand(k, line);
    next = gx::gxcommanddone(k.gx, k.io.out, "KESTRIM");
  } catch (const gx::Interrupted&) {
    next = gx::gxcancelled(k.gx, k.io.out, mark);
    restore(k, before, set);
  }
  if (next == gx::After::Go) return;
  while (k.io.in != gx::Io::kIn) kqmacroend(k);
  if (next == gx::After::Stop && k.running) kqshutdown(k);
}

}  // namespace

// The 45 command words in slot order, each with its handler.
const KqCommand kCommands[60] = {
    {"MENU", kqmenu},         // kqconsole.cpp
    {"SHADOW", kqgrid},       // kqgrid.cpp
    {"SMEAR", kqsmear},       // kqconsole.cpp
    {"INFO", kqinfo},         // kqconsole.cpp
    {"DATA", kqdata},         // kqio.cpp
    {"SYNTH", kqsynth},       // kqsynth.cpp
    {"CLEAR", kqclear},       // kqconsole.cpp
    {"@", kqmacrocmd},        // kqmacro.cpp
    {"PREV", kqprev},         // kqmacro.cpp
    {"NTOT", kqntot},         // kqio.cpp
    {"REG", kqreg},           // kqreg.cpp
    {"ALOAD", kqaload},       // kqreg.cpp
    {"ILOAD", kqiload},       // kqreg.cpp
    {"FLASH", kqflash},       // kqdisplay.cpp
    {"REWIND", kqrewind},     // kqmacro.cpp
    {"REGSAV", kqregsav},     // kqreg.cpp
    {"REGLD", kqregld},       // kqreg.cpp
    {"INCR", kqincr},         // kqreg.cpp
    {"EXIT", kqexit},         // kqconsole.cpp
    {"MAP", kqmapcmd},        // kqmap.cpp
    {"STOP", kqstop},         // kqmacro.cpp
    {"LIST", kqlist},         // kqconsole.cpp
    {"SAVE", kqsave},         // kqio.cpp
    {"SORT", kqsort},         // kqsort.cpp
    {"MAXIMA", kqmaxima},     // kqmaxima.cpp
    {"CAPTIO", kqcaptio},     // kqdisplay.cpp
    {"COLOUR", kqcolour},     // kqdisplay.cpp
    {"VALUES", kqvalues},     // kqio.cpp
    {"ICOUL", kqicoul},       // kqdisplay.cpp
    {"DOTMOD", kqdotmod},     // kqdisplay.cpp
    {"HELP", kqhelp},         // kqconsole.cpp
    {"DELETE", kqdelete},     // kqconsole.cpp
    {"DELTAE", kqdeltae},     // kqdeltae.cpp
    {"$", kqshell},           // kqconsole.cpp
    {"!", kqcomment},         // kqconsole.cpp
    {"FIND", kqfind},         // kqfind.cpp
    {"MULE", kqdump},         // kqio.cpp
    {"TRANS", kqtran},        // kqtran.cpp
    {"PROFIL", kqprofile},    // kqprofil.cpp
    {"PLOT", kqplot},         // kqplot.cpp
    {"DUMP", kqdump},         // kqio.cpp
    {"DIFF", kqdiff},         // kqdiff.cpp
    {"OPMD", kqopmd},         // kqopmd.cpp
    {"GRAPH", kqgraphcmd},    // kqgraph.cpp
    {"ENSEMB", kqensemb},     // kqensemb.cpp
    {"", nullptr}, {"", nullptr}, {"", nullptr},
    {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr},
    {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}};

void kqdispatch(Kestrim& k, std::string line, char qual, double value, const std::string& typed,
                const std::string& rawArg) {
  line = gx::pad(line, 40);
  int slot = kqlookup(line);
  if (slot == 0 || std::string_view(kCommands[slot - 1].word) != "PREV") {
    k.prevLine = line;
    k.prevQual = qual;
    k.prevValue = value;
    k.prevArg = rawArg;
  }
  int notFound = gx::gxparam(k.gx, k.io.in, k.io.out, k.io.macro, line, qual, value);
  if (slot > 0 && rawArg.size() > kNameField && namesAFile(kCommands[slot - 1].word)) {
    // The commands read their file names from fields of 30 characters: a
    // longer name is refused rather than cut to another file's name.
    gx::gxfail(k.gx);
    kqsay(k, "?KESTRIM- File name longer than " + std::to_string(kNameField) +
                 " characters: " + rawArg);
    return;
  }
  if (slot > 0) {
    KqLine c{line, qual, value, rawArg};
    if (kCommands[slot - 1].run) kCommands[slot - 1].run(k, c);
    return;
  }
  if (notFound == 0) return;
  // A word that is no command may name a macro: as typed first, then as
  // decoded (upper case).
  std::string word = kqtrim(line.substr(0, 6));
  if (!word.empty()) {
    for (const std::string& w : {kqtrim(typed), word}) {
      if (w.empty()) continue;
      std::string name = w + ".kcm";
      if (gx::Io::exists(name)) {
        kqsay(k, "Executing a macro: " + name);
        kqmacro(k, name);
        return;
      }
    }
  }
  kqsay(k, std::string("?").append(kqtrim(line)));
  kqsay(k, "Not a command or a macro file; HELP/B lists the commands.");
}

void kqshutdown(Kestrim& k) {
  std::string none;
  int ierr = 0;
  kqio(k, 'E', none, ierr);
  gx::gxquit(k.gx, '*');
  // A write that a command had not finished (the terminal ended in its
  // dialogue) is discarded, so no half-written file remains.
  k.gx.io.closeAll();
  k.running = false;
}

void kqstart(Kestrim& k) {
  startup(k);
  k.running = true;
}

void kqstep(Kestrim& k) { step(k); }

int kqsession(Kestrim& k, const std::string& macro) {
  bool pending = !macro.empty();
  try {
    startup(k);
    k.running = true;
    while (k.running) {
      // The macro of the command line runs once the login macro has ended,
      // as if "@name" had been typed at the first prompt.
      if (pending && k.io.in == gx::Io::kIn) {
        pending = false;
        kqmacro(k, macro);
        continue;
      }
      oneCommand(k);
    }
  } catch (const gx::EndOfInput&) {
    // The terminal has ended: finish as EXIT would.
    kqshutdown(k);
  } catch (const gx::Interrupted&) {
    // Ctrl-C outside any command: finish as at the end of the input.
    k.gx.endedByCtrlc = true;
    kqshutdown(k);
  }
  return 0;
}

int run(std::istream& in, std::ostream& out, bool interactive) {
  gx::RunOptions o;
  o.interactive = interactive;
  return run(in, out, o);
}

int run(std::istream& in, std::ostream& out, const gx::RunOptions& options) {
  Kestrim k(in, out, options.interactive);
  k.gx.io.setLineSource(options.lines);
  k.gx.strict = options.strict;
  k.gx.userAtTerminal = options.interactive || options.lines != nullptr;
  k.gx.onPoll = options.onPoll;
  if (options.clock) k.gx.clock = options.clock;
  kqsession(k, options.macro);
  k.gx.io.flush();
  return gx::exitStatus(options, k.gx);
}

gx::ProgramInfo program() {
  gx::ProgramInfo p;
  p.name = "kestrim";
  p.title = "KESTRIM, the ray-mapping program: beam spots and intensity maps of probe-forming lens systems";
  p.version = kVersion;
  p.helpFile = "kestrim.hlp";
  p.macroExt = ".kcm";
  p.login = "login.kcm";
  for (const KqCommand& c : kCommands) p.words.push_back(c.word);
  p.extraWords = gx::gxparamwords();
  p.fileWords.assign(std::begin(kFileWords), std::end(kFileWords));
  p.fileWords.push_back("OPMD");    // HDF5 names are not held in 30-character fields
  p.fileWords.push_back("ENSEMB");  // an ensemble folder: not held in a 30-character field
  return p;
}

}  // namespace kestrim
