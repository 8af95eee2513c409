// KESTRIM's main program: start-up, the command loop, macros and the small
// commands that the loop carries out itself.
#include "kestrim/kestrim.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "gxlib/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

enum Slot {
  kMenu = 1, kShadow, kSmear, kInfo, kData, kSynth, kClear, kAt, kPrev, kNtot, kReg,
  kAload, kIload, kFlash, kRewind, kRegsav, kRegld, kIncr, kExit, kMap, kStop, kList,
  kSave, kSort, kMaxima, kCaptio, kColour, kValues, kIcoul, kDotmod, kHelp, kDelete,
  kDeltae, kShell, kComment, kFind, kMule, kTrans, kProfil, kPlot, kDump, kDiff
};

// 1e-5 as the single-precision literal it was.
constexpr double kDotMin = 9.999999747378752e-6;

std::string argOf(const std::string& line) {
  return line.size() > 7 ? gx::pad(line.substr(7), 33) : std::string(33, ' ');
}

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Fortran NINT, held inside the range of a 32-bit register.
int nint(double v) {
  if (std::isnan(v)) return 0;
  double r = std::round(v);
  if (r >= 2147483647.0) return std::numeric_limits<int>::max();
  if (r <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

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
  if (kqask(k, "Register number > ", reply, 40) != gx::kReadOk) return -1;
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
  if (kqask(k, prompt, reply, 40) != gx::kReadOk) return ' ';
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
  k.running = false;
}

void notBuilt(Kestrim& k, const char* word) {
  kqsay(k, "%KESTRIM- " + std::string(word) + " is not built yet in this version.");
}

void cmdMenu(Kestrim& k) {
  kqsay(k, "KESTRIM commands: ");
  kqsay(k, "");
  for (size_t i = 0; i < kComlib.size(); i += 8) {
    std::string rec;
    for (size_t j = i; j < i + 8 && j < kComlib.size(); ++j) rec += gx::pad(kComlib[j], 6) + "  ";
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
    k.ireg[n] = nint(value);
  else
    k.areg[n] = value;
}

void cmdFlash(Kestrim& k, char qual, double value) {
  if (qual == 'D') {
    for (;;) {
      std::string reply;
      if (kqask(k, "Delay in ms > ", reply, 80) != gx::kReadOk) break;
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
    if (kqask(k, "Filename to list > ", reply, 100) != gx::kReadOk) return;
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
  while (io.readLine(k.io.file, rec) == gx::RdStat::Ok)
    kqsay(k, kqtrim(rec.size() > 128 ? rec.substr(0, 128) : rec));
  io.close(k.io.file);
}

void cmdCaptio(Kestrim& k) {
  kqsay(k, "Current caption : " + kqtrim(k.caption));
  std::string reply;
  if (kqask(k, "    New caption > ", reply, 70) != gx::kReadOk) return;
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
      if (kqask(k, "Colour number > ", reply, 80) != gx::kReadOk) break;
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

void runSlot(Kestrim& k, int slot, std::string& decoded, char qual, double value,
             const std::string& rawArg) {
  std::string line = decoded;
  if (slot == kData || slot == kAt || slot == kList || slot == kSave || slot == kDelete ||
      slot == kShell || slot == kMule || slot == kDump)
    line = gx::pad(line.substr(0, 7) + gx::pad(rawArg, 33), 40);
  switch (slot) {
    case kMenu: cmdMenu(k); break;
    case kShadow: notBuilt(k, "SHADOW"); break;
    case kSmear: kqsay(k, "This command is not active."); break;
    case kInfo: kqsay(k, "This command not active."); break;
    case kData: cmdData(k, line); break;
    case kSynth: kqsynth(k, line, qual, value); break;
    case kClear: gx::gxcls(k.gx, k.io.out, qual); break;
    case kAt: cmdAt(k, line); break;
    case kPrev:
      if (!kqblank(k.prevLine))
        dispatch(k, k.prevLine, k.prevQual, k.prevValue, "", std::string(k.prevArg));
      break;
    case kNtot: kqsay(k, "Total number of ray vectors = " + gx::fI(k.ntot, 7)); break;
    case kReg: cmdReg(k, qual, value); break;
    case kAload: cmdLoad(k, qual, value, false); break;
    case kIload: cmdLoad(k, qual, value, true); break;
    case kFlash: cmdFlash(k, qual, value); break;
    case kRewind:
      if (k.io.macro == 1) k.gx.io.rewind(k.io.in);
      break;
    case kRegsav:
      if (kqregsave(k) == 0) kqsay(k, "Registers saved.");
      break;
    case kRegld: kqregload(k); break;
    case kIncr: {
      int n = qual == ' ' ? 0 : digit(qual);
      if (n >= 0) k.ireg[n] = clampInt(static_cast<long long>(k.ireg[n]) + nint(value));
      break;
    }
    case kExit: shutdown(k); break;
    case kMap: notBuilt(k, "MAP"); break;
    case kStop: {
      int n = qual == ' ' ? 0 : digit(qual);
      if (n >= 0 && k.io.macro == 1 && k.ireg[n] > nint(value)) kqmacroend(k);
      break;
    }
    case kList: cmdList(k, line); break;
    case kSave: cmdSave(k, line); break;
    case kSort: notBuilt(k, "SORT"); break;
    case kMaxima: notBuilt(k, "MAXIMA"); break;
    case kCaptio: cmdCaptio(k); break;
    case kColour: cmdColour(k, qual); break;
    case kValues: cmdValues(k, value); break;
    case kIcoul: cmdIcoul(k, value); break;
    case kDotmod: cmdDotmod(k, qual, value); break;
    case kHelp: cmdHelp(k, qual, line); break;
    case kDelete: cmdDelete(k, line); break;
    case kDeltae: notBuilt(k, "DELTAE"); break;
    case kShell: cmdShell(k, line); break;
    case kComment: break;
    case kFind: notBuilt(k, "FIND"); break;
    case kMule:
    case kDump: kqdump(k, line, qual, value); break;
    case kTrans: notBuilt(k, "TRANS"); break;
    case kProfil: notBuilt(k, "PROFIL"); break;
    case kPlot: notBuilt(k, "PLOT"); break;
    case kDiff: notBuilt(k, "DIFF"); break;
    default: break;   // a blank slot
  }
}

void dispatch(Kestrim& k, std::string line, char qual, double value, const std::string& typed,
              const std::string& rawArg) {
  line = gx::pad(line, 40);
  int slot = kqlookup(line);
  if (slot != kPrev) {
    k.prevLine = line;
    k.prevQual = qual;
    k.prevValue = value;
    k.prevArg = rawArg;
  }
  int notFound = gx::gxparam(k.gx, k.io.in, k.io.out, k.io.macro, line, qual, value);
  if (slot > 0) {
    runSlot(k, slot, line, qual, value, rawArg);
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
  kqsay(k, "          Version 2 (flux peaking)");
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

}  // namespace

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
    kqsay(k, "Unable to open kqsort.reg");
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
  if (k.io.in >= 5 + 10 * kMaxMacroDepth) {
    kqsay(k, "?KESTRIM- Macros nested deeper than " + std::to_string(kMaxMacroDepth) +
                 " levels: " + name + " is not run.");
    return false;
  }
  k.io.in += 10;
  if (!k.gx.io.open(k.io.in, name, gx::OpenStatus::Old, gx::Access::Read)) {
    kqsay(k, "Unable to open " + name);
    kqsay(k, "");
    k.io.in -= 10;
    return false;
  }
  k.io.macro = 1;
  return true;
}

void kqmacroend(Kestrim& k) {
  if (k.io.in <= 5) {
    k.io.in = 5;
    k.io.macro = 0;
    return;
  }
  k.gx.io.close(k.io.in);
  if (k.io.in == 15) k.io.macro = 0;
  k.io.in -= 10;
  if (k.io.in <= 4) k.io.in = 5;
}

int kqsession(Kestrim& k) {
  try {
    startup(k);
    k.running = true;
    while (k.running) step(k);
  } catch (const gx::EndOfInput&) {
    // The terminal has ended: finish as EXIT would.
    shutdown(k);
  }
  return 0;
}

int run(std::istream& in, std::ostream& out, bool interactive) {
  Kestrim k(in, out, interactive);
  return kqsession(k);
}

}  // namespace kestrim
