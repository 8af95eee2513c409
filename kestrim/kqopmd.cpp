// OPMD: the current ray set to an openPMD particle file, and such a file
// (written here or by another code) to a ray set that becomes current.
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/openpmd.h"

namespace kestrim {

namespace {

std::string g13(double v) { return kqstrip(gx::fG(v, 13, 6, 1)); }

std::vector<std::string> words(const std::string& s) {
  std::istringstream is(s);
  std::vector<std::string> w;
  for (std::string t; is >> t;) w.push_back(t);
  return w;
}

// The openPMD file's name: asked for when not given; ".h5" when it has no dot.
bool fileName(Kestrim& k, std::vector<std::string>& args, std::string& name) {
  if (args.empty()) {
    std::string reply;
    if (kqask(k, std::string(11, ' ') + "Filename for openPMD file > ", reply, 60) != gx::Reply::Ok)
      return false;
    args = words(reply);
    if (args.empty()) return false;
  }
  name = args[0];
  if (!kqhasdot(name)) name += ".h5";
  return true;
}

void writeSet(Kestrim& k, std::vector<std::string> args) {
  if (k.ntot < 1 || !k.gx.io.isOpen(k.rays.unitR)) {
    kqsay(k, "?OPMD- No current ray set: DATA or SYNTH makes one.");
    return;
  }
  std::string name;
  if (!fileName(k, args, name)) return;
  if (gx::Io::exists(name)) {
    kqsay(k, "?OPMD- " + name + " already exists; it is not replaced.");
    return;
  }
  opmd::Beam beam;
  Kestrim::kqparticle& part = k.particle;
  // The particle: its species name, and charge and mass unless it is one
  // of the fundamental particles the program knows.
  for (;;) {
    std::string reply;
    const std::string dflt = part.species.empty() ? std::string() : " (CR for " + part.species + ")";
    if (kqask(k, "Particle (electron, proton, #4He, ...)" + dflt + " > ", reply, 60) !=
        gx::Reply::Ok)
      return;
    std::string s = kqstrip(reply);
    if (s.empty()) s = part.species;
    if (s.empty()) return;
    if (!opmd::validSpeciesName(s)) {
      kqsay(k, "Not a species name: " + s);
      continue;
    }
    if (s != part.species) part = {s, 0, 0.0, part.energy};
    break;
  }
  opmd::Species known;
  if (opmd::knownSpecies(part.species, known)) {
    part.charge = known.charge;
    part.massAmu = known.massAmu;
  } else {
    double q = part.charge, m = part.massAmu;
    if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro, "Charge number and mass (amu) > ", q,
                        m) != gx::Reply::Ok)
      return;
    if (!(m > 0) || !std::isfinite(m) || !std::isfinite(q)) {
      kqsay(k, "?OPMD- The mass must be positive.");
      return;
    }
    part.charge = gx::gxnint(q);
    part.massAmu = m;
  }
  double t = part.energy;
  const std::string dflt = t > 0 ? ", CR for " + g13(t) : std::string();
  if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro,
                      "Reference kinetic energy (MeV" + dflt + ") > ", t) != gx::Reply::Ok)
    return;
  if (!(t > 0) || !std::isfinite(t)) {
    kqsay(k, "?OPMD- The reference energy must be positive.");
    return;
  }
  part.energy = t;
  beam.species = {part.species, part.charge, part.massAmu};
  beam.energyMeV = t;
  beam.caption = kqtrim(k.caption);

  std::vector<double> rays;
  rays.reserve(static_cast<size_t>(k.ntot) * 5);
  kqeach(k, 1, [&](int, double x, double th, double y, double ph, double de) {
    rays.insert(rays.end(), {x, th, y, ph, de});
  });
  const std::string why = opmd::write(name, rays, beam, true);
  if (!why.empty()) {
    kqsay(k, "?OPMD- Unable to write " + name + ": " + why);
    return;
  }
  kqsay(k, gx::fI(static_cast<long long>(rays.size() / 5), 8) + " rays written to " + name +
               " (" + part.species + ", " + g13(t) + " MeV).");
}

// Several iterations: the user names one. False when the question was
// left or the iteration cannot be used.
bool askIteration(Kestrim& k, const std::string& name, opmd::Contents& c, std::uint64_t& it) {
  it = c.iterations[0];
  if (c.iterations.size() <= 1) return true;
  std::string list;
  for (size_t i = 0; i < c.iterations.size(); ++i)
    list += (i ? " " : "") + std::to_string(c.iterations[i]);
  kqsay(k, name + " holds " + std::to_string(c.iterations.size()) + " iterations: " + list);
  std::string reply;
  const auto accept = [&](const std::string& r) {
    const std::string s = kqstrip(r);
    if (s.empty()) return true;
    for (std::uint64_t v : c.iterations)
      if (s == std::to_string(v)) return true;
    return false;
  };
  if (gx::gxask(k.gx, k.io.in, k.io.out, "Iteration > ", reply, 40, accept) != gx::Reply::Ok)
    return false;
  if (kqblank(reply)) return false;
  it = std::stoull(kqstrip(reply));
  const std::string why = opmd::contents(name, c, it);
  if (!why.empty()) {
    kqsay(k, "?OPMD- " + why);
    return false;
  }
  return true;
}

// Several particle groups: the user names one ("" for the only one).
bool askGroup(Kestrim& k, const opmd::Contents& c, std::string& group) {
  group.clear();
  if (c.species.size() <= 1) return true;
  std::string list;
  for (size_t i = 0; i < c.species.size(); ++i) list += (i ? " " : "") + c.species[i];
  kqsay(k, "Particle groups: " + list);
  std::string reply;
  const auto accept = [&](const std::string& r) {
    const std::string s = kqstrip(r);
    if (s.empty()) return true;
    for (const std::string& g : c.species)
      if (s == g) return true;
    return false;
  };
  if (gx::gxask(k.gx, k.io.in, k.io.out, "Particle group > ", reply, 60, accept) != gx::Reply::Ok)
    return false;
  group = kqstrip(reply);
  return !group.empty();
}

// Writes the rays read as the ray set out and makes it the current set.
bool storeSet(Kestrim& k, opmd::Read& r, const std::string& out) {
  k.caption = gx::pad(r.beam.caption.substr(0, 100), 100);
  std::string outName = gx::pad(out, 100);
  int ierr = 1;
  kqio(k, 'W', outName, ierr);
  if (ierr != 0) return false;
  const size_t n = r.rays.size() / 5;
  for (size_t i = 0; i < n; ++i) {
    double* v = &r.rays[5 * i];
    if (!kqrays(k, 'W', 0, v[0], v[1], v[2], v[3], v[4])) {
      k.gx.io.close(k.rays.unitW, false);
      return false;
    }
  }
  kqioend(k, 'W');
  if (gx::Io::exists(out)) {
    kqio(k, 'R', outName, ierr);
    if (ierr == 0) k.rayFile = outName;
  }
  return true;
}

void readSet(Kestrim& k, std::vector<std::string> args) {
  std::string name;
  if (!fileName(k, args, name)) return;
  opmd::Contents c;
  std::string why = opmd::contents(name, c);
  if (!why.empty()) {
    kqsay(k, "?OPMD- " + why);
    return;
  }
  std::uint64_t it = 0;
  std::string group;
  if (!askIteration(k, name, c, it) || !askGroup(k, c, group)) return;
  opmd::Read r;
  why = opmd::read(name, it, group, r);
  if (!why.empty()) {
    kqsay(k, "?OPMD- " + why);
    return;
  }
  for (const std::string& n : r.notes) kqsay(k, "%OPMD- " + n);

  // The ray set: the second word, or the file's stem with ".bin". An
  // existing set is never replaced.
  std::string out = args.size() > 1 ? args[1] : kqstem(name);
  if (!kqhasdot(out)) out += ".bin";
  if (gx::Io::exists(out)) {
    kqsay(k, "?OPMD- " + out + " already exists; name another ray set after the file name.");
    return;
  }
  if (!storeSet(k, r, out)) return;
  Kestrim::kqparticle& part = k.particle;
  part = {r.beam.species.type, r.beam.species.charge, r.beam.species.massAmu, r.beam.energyMeV};
  kqsay(k, gx::fI(static_cast<long long>(r.rays.size() / 5), 8) + " rays read from " + name +
               " (" + r.beam.species.type + ", " + g13(r.beam.energyMeV) + " MeV) into " + out + ".");
}

}  // namespace

void kqopmd(Kestrim& k, KqLine& c) {
  std::vector<std::string> args = words(kqarg(c.typed()));
  char q = c.qual;
  if (q != 'R' && q != 'W') {
    std::string reply;
    if (kqask(k, "Read or Write an openPMD file (R/W) > ", reply, 40) != gx::Reply::Ok) return;
    const std::string s = kqstrip(reply);
    q = s.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  }
  if (q == 'R')
    readSet(k, args);
  else if (q == 'W')
    writeSet(k, args);
}

}  // namespace kestrim
