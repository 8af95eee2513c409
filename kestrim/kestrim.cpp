// KESTRIM's main program: start-up, the command loop, macros and the small
// commands that the loop carries out itself.
#include "kestrim/kestrim.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr const char* kVersion = "2";

// 1e-5 as the single-precision literal it was.
constexpr double kDotMin = 9.999999747378752e-6;

std::string argOf(const std::string& line) {
  return line.size() > 7 ? gx::pad(line.substr(7), 33) : std::string(33, ' ');
}

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

int clampInt(long long v) {
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

// Truncation toward zero, held inside int.
int trunc(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

int digit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// Register number of a register command: the qualifier digit, or the first
// character of the answer to "Register number > " when the qualifier is
// blank. -1 when there is none.
int askRegister(Kestrim& k, char qual) {
  if (qual != ' ') return digit(qual);
  std::string reply;
  if (kqask(k, "Register number > ", reply, 40) != gx::Reply::Ok) return -1;
  std::string s = kqstrip(reply);
  return s.empty() ? -1 : digit(s[0]);
}

void listRegisters(Kestrim& k) {
  kqsay(k, "");
  kqsay(k, "");
  for (int n = 0; n < 10; ++n) {
    std::string d = std::to_string(n);
    kqsay(k, "A" + d + " = " + gx::fG(k.areg[n], 13, 5, 1) + " I" + d + " = " +
                 gx::fI(k.ireg[n], 10));
  }
  kqsay(k, "");
}

// Asks an Enable/Disable question; 'E', 'D' or another character.
char askEnable(Kestrim& k, char qual, const std::string& prompt) {
  if (qual == 'E' || qual == 'D') return qual;
  std::string reply;
  if (kqask(k, prompt, reply, 40) != gx::Reply::Ok) return ' ';
  return upper(reply.empty() ? ' ' : reply[0]);
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

void shutdown(Kestrim& k) {
  std::string none;
  int ierr = 0;
  kqio(k, 'E', none, ierr);
  gx::gxquit(k.gx, '*');
  // A write that a command had not finished (the terminal ended in its
  // dialogue) is discarded, so no half-written file remains.
  k.gx.io.closeAll();
  k.running = false;
}

void cmdMenu(Kestrim& k) {
  kqsay(k, "KESTRIM commands: ");
  kqsay(k, "");
  for (size_t i = 0; i < 60; i += 8) {
    std::string rec;
    for (size_t j = i; j < i + 8 && j < 60; ++j) rec += gx::pad(kCommands[j].word, 6) + "  ";
    kqsay(k, rec);
  }
  kqsay(k, "");
}

void cmdAt(Kestrim& k, const std::string& line) {
  std::string name = argOf(line).substr(0, 30);
  if (kqblank(name) && k.io.macro == 1) {
    kqmacroend(k);
    return;
  }
  name = kqhasdot(name) ? kqstrip(name) : kqcut26(name) + ".kcm";
  if (gx::Io::exists(name))
    kqmacro(k, name);
  else
    kqsay(k, name + " does not exist.");
}

void cmdReg(Kestrim& k, char qual, double value) {
  if (qual == 'L') {
    listRegisters(k);
    return;
  }
  int n = askRegister(k, qual);
  if (n >= 0) k.areg[n] += value;
}

void cmdLoad(Kestrim& k, char qual, double value, bool integer) {
  if (qual == 'I') {
    int st = kqregload(k);
    if (st == 0)
      k.gx.io.write(k.io.out, " Registers loaded from disk.");
    else if (st == 1)
      kqsay(k, "Unable to open kqsort.reg");
    return;
  }
  int n = askRegister(k, qual);
  if (n < 0) return;
  if (integer)
    k.ireg[n] = gx::gxnint(value);
  else
    k.areg[n] = value;
}

void cmdFlash(Kestrim& k, char qual, double value) {
  if (qual == 'D') {
    for (;;) {
      std::string reply;
      if (kqask(k, "Delay in ms > ", reply, 80) != gx::Reply::Ok) break;
      gx::ListScanner sc(1);
      long long v = 0;
      if (!sc.add(reply)) continue;
      if (sc.items().empty() || sc.items()[0].null) break;   // empty answer keeps NDEL
      if (!gx::listInt(sc.items()[0].text, v)) continue;
      k.ndel = clampInt(v);
      break;
    }
  }
  k.flashCount = trunc(std::fabs(value));
}

void cmdList(Kestrim& k, const std::string& line) {
  std::string name = kqstrip(argOf(line));
  if (name.empty()) {
    std::string reply;
    if (kqask(k, "Filename to list > ", reply, 100) != gx::Reply::Ok) return;
    name = kqstrip(reply);
    if (name.empty()) return;
  }
  gx::Io& io = k.gx.io;
  if (!gx::Io::exists(name) ||
      !io.open(k.io.file, name, gx::OpenStatus::Old, gx::Access::Read)) {
    kqsay(k, name + " does not exist.");
    return;
  }
  std::string rec;
  gx::RdStat st;
  while ((st = io.readLine(k.io.file, rec, 128)) == gx::RdStat::Ok) kqsay(k, kqtrim(rec));
  if (st == gx::RdStat::Err)
    kqsay(k, "?LIST- Listing stopped: " + name + " has a line without end or cannot be read.");
  io.close(k.io.file);
}

void cmdCaptio(Kestrim& k) {
  kqsay(k, "Current caption : " + kqtrim(k.caption));
  std::string reply;
  if (kqask(k, "    New caption > ", reply, 70) != gx::Reply::Ok) return;
  if (!kqblank(reply.substr(0, 50))) k.caption = gx::pad(reply, 100);
}

void cmdColour(Kestrim& k, char qual) {
  char c = askEnable(k, qual, "Enable or Disable colour > ");
  if (c == 'E') {
    k.flags.colour = 1;
    kqsay(k, "Colour enabled.");
  } else if (c == 'D') {
    k.flags.colour = 0;
    kqsay(k, "Colour disabled.");
  } else {
    kqsay(k, "Colour status unchanged.");
  }
}

void cmdValues(Kestrim& k, double value) {
  int n = trunc(value);
  if (n < 1) n = k.ntot;
  k.gx.io.write(k.io.out,
                " C   Object X      Object Th     Object Y      Object Ph   Object DE");
  for (int i = 1; i <= n; ++i) {
    double x, th, y, ph, de;
    if (!kqrays(k, 'R', i, x, th, y, ph, de)) break;
    k.gx.io.write(k.io.out, gx::fI(0, 2) + gx::fG(x, 13, 5, 1) + gx::fG(th, 13, 5, 1) +
                                gx::fG(y, 13, 5, 1) + gx::fG(ph, 13, 5, 1) +
                                gx::fG(de, 12, 5, 1));
  }
}

void cmdIcoul(Kestrim& k, double value) {
  int n = trunc(value + 0.5);
  if (n < 1) {
    for (;;) {
      std::string reply;
      if (kqask(k, "Colour number > ", reply, 80) != gx::Reply::Ok) break;
      double v = 0;
      if (!gx::readReal(kqstrip(reply), v)) continue;
      n = trunc(v + 0.5);
      break;
    }
  }
  if (n < 1) {
    shutdown(k);
    return;
  }
  kqsay(k, "Not implemented in this version.");
}

void cmdDotmod(Kestrim& k, char qual, double value) {
  if (value > kDotMin) k.dotSize = value;
  char c = askEnable(k, qual, "Enable or Disable dot mode > ");
  if (c == 'E') {
    k.dotMode = 1;
    kqsay(k, "Dot mode enabled.");
  } else if (c == 'D') {
    k.dotMode = 0;
    kqsay(k, "Dot mode disabled.");
  } else {
    kqsay(k, "Dot mode unchanged.");
  }
  kqsay(k, "DOT SIZE SET TO " + kqstrip(gx::fG(k.dotSize, 13, 5, 1)));
}

void cmdHelp(Kestrim& k, char qual, const std::string& line) {
  std::string arg = argOf(line);
  if (qual == 'S' && !kqblank(arg)) k.helppath = kqstrip(arg);
  std::string key = kqblank(arg) ? std::string("HELP") : arg.substr(0, 6);
  gx::gxhelp(k.gx, k.io.in, k.io.out, qual == 'B' ? 1 : 0, k.helppath, key);
}

void cmdDelete(Kestrim& k, const std::string& line) {
  std::string arg = argOf(line);
  std::string name = kqstrip(arg);
  if (name.empty()) return;
  // Only a file that is there is removed; nothing is created on the way.
  if (!gx::Io::exists(name) || std::remove(name.c_str()) != 0) {
    kqsay(k, arg + "does not exist or cannot be opened.");
    return;
  }
  kqsay(k, name + " deleted.");
}

void cmdShell(Kestrim& k, const std::string& line) {
  int st = gx::gxsystem(k.gx, kqtrim(argOf(line)));
  if (st != 0) kqsay(k, "Error executing system command, Ierr = " + std::to_string(st));
}

void cmdData(Kestrim& k, const std::string& line) {
  std::string name = gx::pad(argOf(line), 100);
  int ierr = 1;
  kqio(k, 'R', name, ierr);
  if (ierr != 0) {
    kqsay(k, "Unable to open file: " + kqstrip(name));
    return;
  }
  k.rayFile = name;
}

void cmdSave(Kestrim& k, const std::string& line) {
  std::string name = gx::pad(argOf(line), 100);
  int ierr = 1;
  kqio(k, 'W', name, ierr);
}

// The word typed at the prompt, up to its first blank, tab or '/', cut to
// six characters: the name of a macro run by its own name.
std::string typedWord(const std::string& line) {
  size_t e = line.find_first_of(" \t/");
  std::string w = line.substr(0, e == std::string::npos ? line.size() : e);
  return w.substr(0, 6);
}

// Runs the decoded line: offers it to the library, then to the table.
void dispatch(Kestrim& k, std::string line, char qual, double value, const std::string& typed,
              const std::string& rawArg);

// The argument as typed, before the decoder rewrote a leading number: the
// file-name commands take it, so that a file called 2024 stays 2024.
std::string rawArgOf(const std::string& line) {
  size_t e = line.find_first_of(" \t");
  size_t b = e == std::string::npos ? e : line.find_first_not_of(" \t", e);
  return b == std::string::npos ? std::string() : kqtrim(line.substr(b));
}

void dispatch(Kestrim& k, std::string line, char qual, double value, const std::string& typed,
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

// One pass of the loop: prompt, read, clear, decode, run.
void step(Kestrim& k) {
  gx::Io& io = k.gx.io;
  io.prompt("kestrim> ");
  std::string line;
  gx::RdStat st = io.readLine(k.io.in, line, 40);
  if (st != gx::RdStat::Ok) {
    // The end of a macro file (or one that cannot be read any further)
    // returns to the level that called it.
    kqmacroend(k);
    return;
  }
  gx::gxcls(k.gx, k.io.out, ' ');
  if (line.compare(0, 6, std::string(6, ' ')) == 0) return;
  if (k.io.macro == 1) io.write(k.io.out, std::string("+").append(kqtrim(line)));
  gx::gxlead(k.gx, line);
  line = gx::pad(line, 40);
  if (line[0] == '@' || line[0] == '$' || line[0] == '!')
    line = gx::pad(line.substr(0, 1) + " " + line.substr(1), 40);
  std::string typed = typedWord(line);
  std::string rawArg = rawArgOf(line);
  char qual = ' ';
  double value = 0.0;
  gx::gxdecode(k.gx, line, qual, value);
  dispatch(k, line, qual, value, typed, rawArg);
}

// Commands whose argument is a file name take it as typed.
std::string fileLine(const KqLine& c) {
  return gx::pad(c.line.substr(0, 7) + gx::pad(c.rawArg, 33), 40);
}

int registerOf(char qual) { return qual == ' ' ? 0 : digit(qual); }

}  // namespace

const KqCommand kCommands[60] = {
    {"MENU", [](Kestrim& k, KqLine&) { cmdMenu(k); }},
    {"SHADOW", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqgrid(k, l, c.qual, c.value); }},
    {"SMEAR", [](Kestrim& k, KqLine&) { kqsay(k, "This command is not active."); }},
    {"INFO", [](Kestrim& k, KqLine&) { kqsay(k, "This command not active."); }},
    {"DATA", [](Kestrim& k, KqLine& c) { cmdData(k, fileLine(c)); }},
    {"SYNTH", [](Kestrim& k, KqLine& c) { kqsynth(k, c.line, c.qual, c.value); }},
    {"CLEAR", [](Kestrim& k, KqLine& c) { gx::gxcls(k.gx, k.io.out, c.qual); }},
    {"@", [](Kestrim& k, KqLine& c) { cmdAt(k, fileLine(c)); }},
    {"PREV",
     [](Kestrim& k, KqLine&) {
       if (!kqblank(k.prevLine))
         dispatch(k, k.prevLine, k.prevQual, k.prevValue, "", std::string(k.prevArg));
     }},
    {"NTOT",
     [](Kestrim& k, KqLine&) { kqsay(k, "Total number of ray vectors = " + gx::fI(k.ntot, 7)); }},
    {"REG", [](Kestrim& k, KqLine& c) { cmdReg(k, c.qual, c.value); }},
    {"ALOAD", [](Kestrim& k, KqLine& c) { cmdLoad(k, c.qual, c.value, false); }},
    {"ILOAD", [](Kestrim& k, KqLine& c) { cmdLoad(k, c.qual, c.value, true); }},
    {"FLASH", [](Kestrim& k, KqLine& c) { cmdFlash(k, c.qual, c.value); }},
    {"REWIND",
     [](Kestrim& k, KqLine&) {
       if (k.io.macro == 1 && !gx::gxmacrorewind(k.gx, k.io.in, k.io.out, "KESTRIM")) kqmacroend(k);
     }},
    {"REGSAV",
     [](Kestrim& k, KqLine&) {
       if (kqregsave(k) == 0) kqsay(k, "Registers saved.");
     }},
    {"REGLD", [](Kestrim& k, KqLine&) { kqregload(k); }},
    {"INCR",
     [](Kestrim& k, KqLine& c) {
       int n = registerOf(c.qual);
       if (n >= 0) k.ireg[n] = clampInt(static_cast<long long>(k.ireg[n]) + gx::gxnint(c.value));
     }},
    {"EXIT", [](Kestrim& k, KqLine&) { shutdown(k); }},
    {"MAP", [](Kestrim& k, KqLine& c) { kqmapcmd(k, c.line, c.qual, c.value); }},
    {"STOP",
     [](Kestrim& k, KqLine& c) {
       int n = registerOf(c.qual);
       if (n >= 0 && k.io.macro == 1 && k.ireg[n] > gx::gxnint(c.value)) kqmacroend(k);
     }},
    {"LIST", [](Kestrim& k, KqLine& c) { cmdList(k, fileLine(c)); }},
    {"SAVE", [](Kestrim& k, KqLine& c) { cmdSave(k, fileLine(c)); }},
    {"SORT", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqsort(k, l, c.qual, c.value); }},
    {"MAXIMA", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqmaxima(k, l, c.qual, c.value); }},
    {"CAPTIO", [](Kestrim& k, KqLine&) { cmdCaptio(k); }},
    {"COLOUR", [](Kestrim& k, KqLine& c) { cmdColour(k, c.qual); }},
    {"VALUES", [](Kestrim& k, KqLine& c) { cmdValues(k, c.value); }},
    {"ICOUL", [](Kestrim& k, KqLine& c) { cmdIcoul(k, c.value); }},
    {"DOTMOD", [](Kestrim& k, KqLine& c) { cmdDotmod(k, c.qual, c.value); }},
    {"HELP", [](Kestrim& k, KqLine& c) { cmdHelp(k, c.qual, c.line); }},
    {"DELETE", [](Kestrim& k, KqLine& c) { cmdDelete(k, fileLine(c)); }},
    {"DELTAE", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqdeltae(k, l, c.qual, c.value); }},
    {"$", [](Kestrim& k, KqLine& c) { cmdShell(k, fileLine(c)); }},
    {"!", [](Kestrim&, KqLine&) {}},
    {"FIND", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqfind(k, l, c.qual, c.value); }},
    {"MULE",
     [](Kestrim& k, KqLine& c) {
       std::string l = fileLine(c);
       kqdump(k, l, c.qual, c.value);
     }},
    {"TRANS", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqtran(k, l, c.qual, c.value); }},
    {"PROFIL", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqprofile(k, l, c.qual, c.value); }},
    {"PLOT", [](Kestrim& k, KqLine& c) { kqplot(k, c.line, c.qual, c.value); }},
    {"DUMP",
     [](Kestrim& k, KqLine& c) {
       std::string l = fileLine(c);
       kqdump(k, l, c.qual, c.value);
     }},
    {"DIFF", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqdiff(k, l, c.qual, c.value); }},
    {"OPMD", [](Kestrim& k, KqLine& c) { std::string l = fileLine(c); kqopmd(k, l, c.qual, c.value); }},
    {"GRAPH", [](Kestrim& k, KqLine& c) { kqgraphcmd(k, c.line, c.qual, c.value); }},
    {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr},
    {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr},
    {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}, {"", nullptr}};

int kqregload(Kestrim& k) {
  gx::Io& io = k.gx.io;
  int u = k.io.file;
  if (!io.open(u, "kqsort.reg", gx::OpenStatus::Old, gx::Access::Read)) return 1;
  kqsay(k, std::string(9, ' ') + "<<< Loading registers from KQSORT.REG >>>");
  kqsay(k, "");
  // Each record is one list-directed read; values are stored as they are
  // read, so those before an unreadable one keep their new values.
  auto readRecord = [&](int n, auto store) {
    gx::ListScanner sc(n);
    std::string rec;
    while (!sc.done()) {
      if (io.readLine(u, rec) != gx::RdStat::Ok) break;
      if (!sc.add(rec)) break;
    }
    const auto& items = sc.items();
    for (int i = 0; i < n; ++i) {
      if (i >= static_cast<int>(items.size())) return sc.done();
      if (items[static_cast<size_t>(i)].null) continue;
      if (!store(i, items[static_cast<size_t>(i)].text)) return false;
    }
    return true;
  };
  bool ok = readRecord(10, [&](int i, const std::string& t) {
    double v;
    if (!gx::listReal(t, v)) return false;
    k.areg[static_cast<size_t>(i)] = v;
    return true;
  });
  ok = ok && readRecord(10, [&](int i, const std::string& t) {
         long long v;
         if (!gx::listInt(t, v) || v < std::numeric_limits<int>::min() ||
             v > std::numeric_limits<int>::max())
           return false;
         k.ireg[static_cast<size_t>(i)] = static_cast<int>(v);
         return true;
       });
  io.close(u);
  if (!ok) {
    kqsay(k, "%KQREGLOAD - Error reading KQSORT.REG");
    kqsay(k, "");
    return 2;
  }
  return 0;
}

int kqregsave(Kestrim& k) {
  gx::Io& io = k.gx.io;
  int u = k.io.file;
  if (!io.open(u, "kqsort.reg", gx::OpenStatus::New, gx::Access::Write)) {
    kqsay(k, "Unable to open kqsort.reg" + io.reason());
    return 1;
  }
  // List-directed records; 17 significant digits bring every value back
  // exactly.
  std::string a, i;
  for (double v : k.areg) a.append(" ").append(gx::fG(v, 25, 17, 1));
  for (int v : k.ireg) i += gx::fI(v, 12);
  io.write(u, a);
  io.write(u, i);
  if (!io.close(u)) {
    kqsay(k, "Unable to write kqsort.reg");
    return 1;
  }
  return 0;
}

bool kqmacro(Kestrim& k, const std::string& name) {
  if (!gx::gxmacro(k.gx, k.io.in, k.io.out, name, "KESTRIM")) return false;
  k.io.macro = 1;
  return true;
}

void kqmacroend(Kestrim& k) {
  gx::gxmacroend(k.gx, k.io.in);
  if (k.io.in == gx::Io::kIn) k.io.macro = 0;
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
      step(k);
    }
  } catch (const gx::EndOfInput&) {
    // The terminal has ended: finish as EXIT would.
    shutdown(k);
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
  kqsession(k, options.macro);
  k.gx.io.flush();
  return gx::exitStatus(options, k.gx.io);
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
  p.fileWords = {"DATA", "SYNTH", "SHADOW", "@",      "LIST",  "SAVE", "SORT", "MAXIMA",
                 "DELETE", "DELTAE", "FIND", "MULE", "TRANS", "PROFIL", "DUMP", "DIFF", "OPMD"};
  return p;
}

}  // namespace kestrim
