// The console commands: MENU, CLEAR, HELP, the shell, comments, EXIT, the
// two inactive words, and the text files LIST and DELETE.
#include <cstdio>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

void kqmenu(Kestrim& k, KqLine&) {
  kqsay(k, "KESTRIM commands: ");
  kqsay(k, "");
  for (size_t i = 0; i < 60; i += 8) {
    std::string rec;
    for (size_t j = i; j < i + 8 && j < 60; ++j) rec += gx::pad(kCommands[j].word, 6) + "  ";
    kqsay(k, rec);
  }
  kqsay(k, "");
}

void kqsmear(Kestrim& k, KqLine&) { kqsay(k, "This command is not active."); }

void kqinfo(Kestrim& k, KqLine&) { kqsay(k, "This command not active."); }

// The library's CLEAR (gxparam) has acted first.
void kqclear(Kestrim& k, KqLine& c) { gx::gxcls(k.gx, k.io.out, c.qual); }

void kqexit(Kestrim& k, KqLine&) { kqshutdown(k); }

void kqlist(Kestrim& k, KqLine& c) {
  std::string name = kqstrip(kqarg(c.typed()));
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

void kqhelp(Kestrim& k, KqLine& c) {
  std::string arg = kqarg(c.line);
  if (c.qual == 'S' && !kqblank(arg)) k.helppath = kqstrip(arg);
  std::string key = kqblank(arg) ? std::string("HELP") : arg.substr(0, 6);
  gx::gxhelp(k.gx, k.io.in, k.io.out, c.qual == 'B' ? 1 : 0, k.helppath, key);
}

void kqdelete(Kestrim& k, KqLine& c) {
  std::string arg = kqarg(c.typed());
  std::string name = kqstrip(arg);
  if (name.empty()) return;
  // Only a file that is there is removed; nothing is created on the way.
  if (!gx::Io::exists(name) || std::remove(name.c_str()) != 0) {
    kqsay(k, arg + "does not exist or cannot be opened.");
    return;
  }
  kqsay(k, name + " deleted.");
}

void kqshell(Kestrim& k, KqLine& c) {
  int st = gx::gxsystem(k.gx, kqtrim(kqarg(c.typed())));
  if (st != 0) kqsay(k, "Error executing system command, Ierr = " + std::to_string(st));
}

void kqcomment(Kestrim&, KqLine&) {}

}  // namespace kestrim
