// Round lenses from their axial functions: the electrostatic kinetic
// potential phi(z) and the magnetic field B(z) on the axis, expanded off
// axis, and the exact ray equation d/dz(p x'/s) = s dp/dx + q(y'Bz - By)
// integrated for the whole map in the momentum form, which carries the
// potential's dependence of p on position as it carries magnetic fields.
#pragma once

#include <string>
#include <vector>

#include "tavo/exact/exact.h"

namespace tavo {

namespace roundk {
constexpr double kCharge = 1.602176634e-19;    // C
constexpr double kLight = 299792458.0;         // m/s
constexpr double kElectronRest = 510998.95;    // eV
constexpr double kProtonRest = 938272088.16;   // eV
constexpr double kAmuRest = 931494102.42;      // eV
constexpr double kOmega = 1.318;               // tanh steepness of tube lenses, times z/R
}  // namespace roundk

// Rest energy (eV) of a particle of the given mass in atomic mass units
// (the electron and the proton by their own rest energies).
double restEnergy(double amu);

// phi^(k)(z), k = 0..m, of the lattice's axial kinetic potential (V).
void axialPotential(const Lattice& lat, double z, int m, double* d);
// B^(k)(z), k = 0..m, of the axial magnetic lenses (bell lenses, and the
// soft-edged solenoids of the lattice with their fringe length) (T).
void axialField(const Lattice& lat, const MapSettings& set, double z, int m, double* d);

// Map of the lattice from zfrom to zto (x, theta, y, phi and, with a fifth
// variable, delta in percent, as systemMap) through the momentum form.
bool roundMap(const Lattice& lat, const MapSettings& set, const da::Space& sp, double zfrom,
              double zto, std::vector<da::Poly>& map, std::string& why);

// The optics of a rotationally symmetric system for an axial object at zobj.
struct RoundOptics {
  double zi = 0.0;      // Gaussian image (m)
  double m = 0.0;       // magnification
  double theta = 0.0;   // Larmor rotation -integral qB/(2p) dz (rad)
  double cs = 0.0, c5 = 0.0, c5a = 0.0, cc = 0.0;   // object side, slope-based (m)
  double pratio = 1.0;  // p_image / p_object
  double tratio = 1.0;  // T_image / T_object
  double imagCheck = 0.0;   // |Im| of the first-order u|x (zero for a round system)
  // Image-side values.
  double csi() const;
  double c5i() const;
  double c5ai() const;
  double cci() const;
};

// True when the lattice has no field that breaks rotational symmetry
// (multipoles, displaced or tilted solenoids).
bool isRound(const Lattice& lat);

// Finds the first paraxial image behind zobj (searched up to zlimit and,
// when the ray has not crossed by then, along its straight line beyond) and
// the aberrations there; with last, the last crossing before zlimit (the
// final image of a column with intermediate images). False with a message
// when there is none.
bool roundOptics(const Lattice& lat, const MapSettings& set, double zobj, double zlimit,
                 RoundOptics& out, std::string& why, bool last = false);

// The lattice with one round lens (axial index k, or solenoid FieldLens
// index k when solenoid is true) alone, at the potential it sits in.
Lattice singleLens(const Lattice& lat, const MapSettings& set, int k, bool solenoid);

}  // namespace tavo
