// Ray sets as openPMD particle files (HDF5, base standard 2.0 with the
// BeamPhysics and SpeciesType extensions).
//
// A ray (X, Th, Y, Ph, DE) at the set's reference plane becomes a particle
// at z = 0 with
//   T  = T0 (1 + DE/100)            kinetic energy, T0 the reference energy
//   p  = sqrt(T^2 + 2 T m c^2) / c  total momentum
//   pz = p / sqrt(1 + Th^2 + Ph^2), px = pz Th, py = pz Ph
// so Th and Ph are the slopes dx/dz and dy/dz (the program follows a ray to
// a plane at z by X + z Th). The slopes and DE are also kept as records of
// their own (slope/x, slope/y, energyDeviation) so that a set read back is
// the set written, bit for bit; files from other codes without them are
// read through the inverse formulas.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kestrim::opmd {

// A particle kind: its SpeciesType name, charge number and mass (u).
struct Species {
  std::string type;     // SpeciesType name: electron, proton, #4He, other:...
  int charge = 0;       // charge number (electron -1)
  double massAmu = 0;   // rest mass in atomic mass units
};

// The fundamental particles whose charge and mass the program knows; false
// for any other name (ions need their charge number and mass given).
bool knownSpecies(const std::string& type, Species& s);

// Whether a name is acceptable as a SpeciesType name: no blanks, no
// semicolons (a file holds one species per group).
bool validSpeciesName(const std::string& type);

// What a file says about the beam beside its rays.
struct Beam {
  Species species;
  double energyMeV = 0;    // reference kinetic energy T0 (MeV)
  double totalCharge = std::numeric_limits<double>::quiet_NaN();   // C, NaN when not known
  std::string caption;     // the ray set's caption
};

// Total momentum (kg m/s) of a particle of mass m (u) and kinetic energy T (MeV).
double momentumSI(double massAmu, double energyMeV);
// Kinetic energy (MeV) of a particle of mass m (u) and total momentum p (kg m/s).
double energyMeV(double massAmu, double momentumSI);

// Writes rays (five doubles per ray: X, Th, Y, Ph, DE) as iteration 0 of a
// new file; pair: the first two rays are the paraxial pair (they get weight
// 0). The file is made under a temporary name in the target's folder and
// named only when complete; an existing file is never replaced. Returns ""
// or the reason it failed.
std::string write(const std::string& path, const std::vector<double>& rays, const Beam& beam,
                  bool pair);

// The iterations and, in the one named (or the only one), the particle
// groups of a file. "" or the reason the file cannot be used.
struct Contents {
  std::vector<std::uint64_t> iterations;
  std::vector<std::string> species;   // group names in the iteration looked at
};
std::string contents(const std::string& path, Contents& c,
                     std::uint64_t iteration = std::numeric_limits<std::uint64_t>::max());

// Reads one particle group of one iteration as rays. With no paraxial pair
// in the file (one from another code) a pair is put in front that places
// both image planes at the file's own plane. Rays whose particleStatus is
// not 1 are left out; notes says what was assumed or left out.
struct Read {
  std::vector<double> rays;   // five doubles per ray
  Beam beam;
  bool ownRecords = false;    // the slope and energy-deviation records were there
  std::vector<std::string> notes;
};
std::string read(const std::string& path, std::uint64_t iteration, const std::string& group,
                 Read& out);

}  // namespace kestrim::opmd
