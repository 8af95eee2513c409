// TOLERA: the dialog of the tolerance ensemble. The physics is in
// tavo/edit/tolerance.cpp.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/tolerance.h"
#include "tavo/talk.h"

namespace tavo {

namespace {

std::string trimmed(const std::string& t) {
  const size_t b = t.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  return t.substr(b, t.find_last_not_of(" \t\r\n") - b + 1);
}

// One or two rms sizes, asked again while one is negative or not a number.
bool askSizes(Tavo& s, const std::string& prompt, double& a, double* b) {
  for (;;) {
    double second = b != nullptr ? *b : 0.0;
    const gx::Reply r = b != nullptr
                            ? gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, prompt, a, second)
                            : gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, prompt, a);
    if (r != gx::Reply::Ok) return false;
    if (std::isfinite(a) && a >= 0.0 && std::isfinite(second) && second >= 0.0) {
      if (b != nullptr) *b = second;
      return true;
    }
    say(s, "?TOLERA- An rms size must be a number not below 0.");
    a = 0.0;
    if (b != nullptr) *b = 0.0;
  }
}

// The rows of the answer ("4 6, 8"): every one must be a lens row.
bool parseRows(const std::string& text, const std::vector<int>& lenses, std::vector<int>& rows,
               std::string& why) {
  std::string t = text;
  std::replace(t.begin(), t.end(), ',', ' ');
  std::istringstream in(t);
  std::string w;
  rows.clear();
  while (in >> w) {
    double v = 0.0;
    if (!gx::readReal(w, v) || v != std::floor(v) ||
        std::find(lenses.begin(), lenses.end(), static_cast<int>(v)) == lenses.end() ||
        std::fabs(v) > 1000.0) {
      why = "?TOLERA- " + w + " is not the row of a lens.";
      return false;
    }
    rows.push_back(static_cast<int>(v));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return true;
}

// The folder's name: the argument, or asked; asked again at the terminal
// while it names something that exists. False when there is to be none.
bool askFolder(Tavo& s, std::string name, std::string& chosen) {
  for (;;) {
    if (name.empty()) {
      std::string reply;
      if (ask(s, "Folder for the ensemble > ", reply, 0) != gx::Reply::Ok) return false;
      name = trimmed(reply);
      if (name.empty()) return false;
    }
    std::error_code ec;
    std::string msg;
    if (name.find_first_of(" \t") != std::string::npos)
      msg = "?TOLERA- A folder name must not contain blanks.";
    else if (std::filesystem::exists(std::filesystem::symlink_status(name, ec)))
      msg = "?TOLERA- " + name + " already exists.";
    if (msg.empty()) {
      chosen = name;
      return true;
    }
    say(s, msg);
    if (s.inout.cmd != gx::Io::kIn) return false;   // a macro's next lines are its own
    name.clear();
  }
}

}  // namespace

void cmdTolera(Tavo& s, Command& c) {
  if (s.syspa < 3) {
    say(s, "No lens system loaded: type DATA first.");
    return;
  }
  ToleranceSpec spec;
  spec.exact = c.qual == 'E';
  const std::vector<int> lenses = lensRows(s);
  if (lenses.empty()) {
    say(s, "?TOLERA- The system has no lenses.");
    return;
  }

  std::string name;
  if (!askFolder(s, trimmed(c.typedArg()), name)) return;

  if (!askSizes(s, "Displacement rms in x and y (m) > ", spec.dx, &spec.dy)) return;
  if (!askSizes(s, "Rotation rms about the axis (rad) > ", spec.rot, nullptr)) return;
  if (!askSizes(s, "Excitation error rms of each lens and of each supply (relative) > ", spec.lens,
                &spec.supply))
    return;
  if (!askSizes(s, "Stray sextupole and octupole rms (fraction of quadrupole field) > ", spec.sext,
                &spec.oct))
    return;
  std::string reply;
  if (ask(s, "Gaussian (cut at 3 sigma) or Uniform errors (CR for Gaussian) > ", reply, 0) !=
      gx::Reply::Ok)
    return;
  const std::string law = trimmed(reply);
  spec.law = !law.empty() && (law[0] == 'u' || law[0] == 'U') ? ErrorLaw::Uniform : ErrorLaw::Gauss3;
  say(s, spec.law == ErrorLaw::Uniform ? "Uniform errors." : "Gaussian errors cut at 3 sigma.");

  std::string why;
  if (askUntil(s, "Rows of the lenses with errors (CR for all) > ", reply, 0,
               [&](const std::string& r) {
                 if (parseRows(r, lenses, spec.rows, why)) return true;
                 say(s, why);
                 return false;
               }) != gx::Reply::Ok)
    return;

  double count = 100.0, seed = 1.0;
  for (;;) {
    if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, "Number of variants and seed > ",
                        count, seed) != gx::Reply::Ok)
      return;
    if (count >= 1.0 && count <= 99999.0 && count == std::floor(count) && seed >= 0.0 &&
        seed <= 9007199254740992.0 && seed == std::floor(seed))
      break;
    say(s, "?TOLERA- The number of variants is a whole number from 1 to 99999, the seed a whole number not below 0.");
    count = 100.0;
    seed = 1.0;
  }
  spec.variants = static_cast<int>(count);
  spec.seed = static_cast<std::uint64_t>(seed);

  if (ask(s, "Square or Circular aperture collimator? > ", reply, 0) != gx::Reply::Ok) return;
  const std::string shape = trimmed(reply);
  spec.shape = !shape.empty() && (shape[0] == 's' || shape[0] == 'S') ? 'S' : 'C';

  say(s, "Building " + std::to_string(spec.variants) + " variants and the nominal system from " +
             (spec.exact ? "the soft-edged maps (fifth order)." : "the closed form (third order)."));
  int unfocused = 0;
  if (!writeEnsemble(s, spec, name, why, unfocused)) {
    say(s, "?TOLERA- " + why + " No ensemble written.");
    return;
  }
  say(s, "Ensemble written to " + name + ": manifest.txt, nominal.cof and " +
             std::to_string(spec.variants) + " variant files.");
  if (unfocused > 0)
    say(s, std::to_string(unfocused) +
               " variants could not be refocused (marked 0 in the manifest's column refocused).");
}

}  // namespace tavo
