#include "gxlib/console/converse.h"

#include <algorithm>
#include <limits>

#include "gxlib/fortran/fortio.h"

namespace gx {

void gxsay(Lib& g, int out, std::string_view text) {
  std::string rec;
  rec.reserve(text.size() + 1);
  rec.push_back(' ');
  rec.append(text);
  g.io.write(out, rec);
}

void gxprompttext(Lib& g, int out, std::string_view text) {
  if (out == Io::kOut || out <= 0)
    g.io.prompt(text);
  else
    g.io.write(out, text);
}

Reply gxprompt(Lib& g, int in, int out, std::string_view text, std::string& reply, size_t width) {
  gxprompttext(g, out, text);
  // A unit that cannot be read now will not be readable on a retry either:
  // both its end and a read error end the prompt.
  if (g.io.readLine(in, reply, width) != RdStat::Ok) {
    reply.assign(width, ' ');
    return Reply::End;
  }
  if (in != Io::kIn) g.io.write(out, "+" + std::string(trimRight(reply)));
  return Reply::Ok;
}

Reply gxask(Lib& g, int in, int out, std::string_view text, std::string& reply, size_t width,
            const std::function<bool(const std::string&)>& accept) {
  for (;;) {
    if (gxprompt(g, in, out, text, reply, width) == Reply::End) return Reply::End;
    if (!accept || accept(reply)) return Reply::Ok;
  }
}

Reply gxaskupdate(Lib& g, int in, int out, int echo, std::string_view text, double& a,
                  double& b) {
  for (;;) {
    gxprompttext(g, out, text);
    const Reply rc = gxupdate(g, in, out, echo, a, b);
    if (rc != Reply::Error) return rc;
  }
}

Reply gxaskupdate(Lib& g, int in, int out, int echo, std::string_view text, double& a) {
  double b = 0.0;
  return gxaskupdate(g, in, out, echo, text, a, b);
}


bool gxmacro(Lib& g, int& unit, int out, const std::string& name, std::string_view program) {
  if (gxmacrodepth(unit) >= kMacroDepth) {
    gxfail(g);
    gxsay(g, out, "?" + std::string(program) + "- Macros nested deeper than " +
                      std::to_string(kMacroDepth) + " levels; not opened: " + name);
    gxsay(g, out, "");
    return false;
  }
  if (g.macroMark != g.io.terminalLines()) {
    g.macroMark = g.io.terminalLines();
    g.macroCalls = 0;
  }
  if (g.macroCalls >= kMacroCalls) {
    gxfail(g);
    // Said once: the levels still open then refuse their calls quietly.
    if (g.macroCalls++ == kMacroCalls) {
      gxsay(g, out, "?" + std::string(program) + "- More than " + std::to_string(kMacroCalls) +
                        " macro calls from one command; not opened: " + name);
      gxsay(g, out, "");
    }
    return false;
  }
  ++g.macroCalls;
  const int next = (unit < Io::kIn ? Io::kIn : unit) + 10;
  if (!g.io.open(next, name, OpenStatus::Old, Access::Read)) {
    gxfail(g);
    gxsay(g, out, "Unable to open " + name);
    gxsay(g, out, "");
    return false;
  }
  unit = next;
  return true;
}

bool gxmacrorewind(Lib& g, int unit, int out, std::string_view program) {
  if (g.rewindMark != g.io.terminalLines()) {
    g.rewindMark = g.io.terminalLines();
    g.macroRewinds = 0;
  }
  if (++g.macroRewinds > kMacroRewinds) {
    gxfail(g);
    gxsay(g, out, "?" + std::string(program) + "- More than " + std::to_string(kMacroRewinds) +
                      " macro rewinds from one command; the macro is left.");
    return false;
  }
  g.io.rewind(unit);
  return true;
}

void gxmacroend(Lib& g, int& unit) {
  if (unit <= Io::kIn) {
    unit = Io::kIn;
    return;
  }
  g.io.close(unit);
  unit -= 10;
  if (unit < Io::kIn) unit = Io::kIn;
}

void gxfail(Lib& g) { g.failed = true; }

void gxcommandstart(Lib& g, int unit) {
  if (g.failed || g.io.errorLines() > g.errorMark) ++g.failures;
  g.failed = false;
  g.errorMark = g.io.errorLines();
  g.cmdFile = unit == Io::kIn ? std::string() : g.io.nameOf(unit);
  if (unit == Io::kIn) g.ctrlcArmed = false;  // a line was typed since the last Ctrl-C
  g.cmdLine = g.io.lineOf(unit);
}

After gxcommanddone(Lib& g, int out, std::string_view program) {
  const bool failed = g.failed || g.io.errorLines() > g.errorMark;
  g.failed = false;
  g.errorMark = g.io.errorLines();
  if (!failed) return After::Go;
  ++g.failures;
  const bool inMacro = !g.cmdFile.empty();
  if (!inMacro && !g.strict) return After::Go;
  // The answers that follow a refused command in a macro would otherwise
  // run as commands; the rest of the macro was written for a command that
  // worked.
  const std::string where = g.cmdFile.empty()
                                ? "Input line " + std::to_string(g.cmdLine)
                                : "Line " + std::to_string(g.cmdLine) + " of " + g.cmdFile;
  gxsay(g, out, "?" + std::string(program) + "- " + where + ": the command failed; " +
                    (g.strict ? "the run stops (--strict)." : "the macro is left."));
  g.errorMark = g.io.errorLines();
  return g.strict ? After::Stop : After::LeaveMacros;
}

int gxlookup(std::string_view line, const char* const* words, size_t n) {
  const std::string_view head = line.substr(0, std::min<size_t>(line.size(), 7));
  size_t k = head.find(' ');
  if (k == std::string_view::npos) k = std::min<size_t>(head.size(), 6);
  if (k > 6) k = 6;
  if (k == 0) return 0;  // blank slots are never matched
  const std::string_view typed = line.substr(0, k);
  for (size_t i = 0; i < n; ++i) {
    const std::string w = pad(words[i] ? words[i] : "", 6);
    if (w.compare(0, k, typed) == 0) return static_cast<int>(i) + 1;
  }
  return 0;
}

}  // namespace gx
