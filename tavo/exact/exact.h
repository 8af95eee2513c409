// Transfer maps of the lens system integrated from the fields themselves:
// the full (non-paraxial) ray equation in the static magnetic field of the
// multipoles and solenoids, the fields expanded off axis from Laplace's
// equation, with hard or soft edges.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tavo/series/damap.h"
#include "tavo/state.h"

namespace tavo {

enum class EdgeModel { Hard, Soft };

// One magnetic field row as the map sees it.
struct FieldLens {
  int row = 0;         // table row
  int host = 0;        // row whose body it occupies (itself unless superimposed)
  int n = 0;           // 0 solenoid, 2 quadrupole, 3 sextupole, 4 octupole
  double k = 0.0;      // (Qe/p) B3 / a^(n-1) (octupole: its negative); solenoid (Qe/p) B
  double zin = 0.0, zout = 0.0;   // hard-edge entrance and exit of the body
  double bore = 0.0;   // bore radius of the body (sets the fringe length)
  double cosa = 1.0, sina = 0.0;  // roll of the element
  double dx = 0.0, dy = 0.0;      // displacement, added to the ray inside
};

// A round lens given by its axial function: the kinetic potential phi(z)
// (V) of an electrostatic lens or the field B(z) (T) of a magnetic one.
// Ramp: an accelerating section, a uniform field between its ends, each
// end a field step shaped as the tube lens's potential step (over the
// radius of the gap lens there).
enum class AxialShape { Immersion, Einzel, Bell, Table, Ramp };
struct AxialTable;
struct AxialLens {
  int row = 0;          // table row
  AxialShape shape = AxialShape::Einzel;
  bool electric = true;
  double zc = 0.0;      // centre (immersion: the middle of the gap)
  double len = 0.0;     // einzel: centre-electrode length
  double width = 0.0;   // electric: tube radius R; bell: half-width a
  double ratio = 1.0;   // electric: V2/V1 (immersion after/before, einzel centre/outer)
  double b0 = 0.0;      // bell: peak field (T)
  double vbefore = 0.0; // electric: kinetic potential on the near side (V), set by the lattice
  std::shared_ptr<const AxialTable> table;   // Table: the samples, z from the centre
  double scale = 1.0;   // Table: factor on the file's values (V or T)
  double volts = 0.0;   // Ramp: potential rise across the section (V)
  double width2 = 0.0;  // Ramp: gap-lens radius at the exit (width: at the entrance);
                        // 0: no step there (the next section's field is the same)
};

struct Lattice {
  std::vector<FieldLens> lens;
  // Round lenses from axial functions; when any is present the map is
  // integrated in the momentum form that carries electric fields.
  std::vector<AxialLens> axial;
  double charge = 1.0;     // charge number Q
  double rest = 0.0;       // rest energy m c^2 (eV)
  double t0 = 0.0;         // kinetic energy at the object (eV)
  double vbase = 0.0;      // kinetic potential far before the first lens (V)
  double kfix = 1.0;       // FieldLens k times kfix = Q e B / p_object in the round model's constants
  double zend = 0.0;       // system end
  // Momentum change with energy: p(delta)^2 / p^2 = (A (1+e)^2 + B (1+e)) / (A + B),
  // e = delta / 100 (kinetic-energy deviation in percent).
  double pa = 1.0, pb = 0.0;
  // The session's library, polled for Ctrl-C at every integration step
  // (gx::gxpoll); none for a lattice built outside a session.
  gx::Lib* lib = nullptr;
};

struct MapSettings {
  EdgeModel model = EdgeModel::Soft;
  double fringe = 1.0;     // fringe length / bore radius (soft edge)
  int only = 0;            // host row whose aberrations alone are kept (0: all;
                           // geometric maps only: delta is not split)
  double fineness = 1.0;   // integration steps scale with it
};

// Collects the field rows of the evaluated system (stigmat must have run).
// False with a message naming the row when an element cannot be modelled.
bool buildLattice(Tavo& s, Lattice& lat, std::string& why);

// The transfer map (x, theta, y, phi at the system end as series in the
// object coordinates, and delta when the space has a fifth variable).
// False with a message when the model cannot give the order asked for.
bool systemMap(const Lattice& lat, const MapSettings& set, const da::Space& sp,
               std::vector<da::Poly>& map, std::string& why);

// Derivatives d^k tanh(u)/du^k for k = 0..m.
std::vector<double> tanhDerivs(double u, int m);

// The field (Bx, By, Bz) times Qe/p of the lattice at z, at the position
// (x, y) given as series (used by the map and checked against Maxwell).
void fieldAt(const Lattice& lat, const MapSettings& set, double z, const da::Poly& x,
             const da::Poly& y, da::Poly& bx, da::Poly& by, da::Poly& bz, int onlyHost = -1);

// The soft-edged map of the system as it stands (evaluated to first order
// first), to the order of sp. False with a message when it cannot be made.
bool softSystemMap(Tavo& s, const da::Space& sp, std::vector<da::Poly>& map, std::string& why);

// EXACT/F: the coupled fields refitted by the minimiser until the
// soft-edged system is stigmatic at its end, to the precision given
// (1e-10 when not positive).
void exactFit(Tavo& s, double precision);
// EXACT/C: the fields of the first three magnetic octupoles that cancel the
// soft-edged system's spherical aberration.
void exactCram(Tavo& s);

// A number for a message: G12.5 without its padding.
std::string exactNum(double v);

// Whether an integrated map converged: a coefficient that is not a finite
// number means it did not, and nothing may be built on it (why says so).
bool convergedMap(const std::vector<da::Poly>& map, std::string& why);

}  // namespace tavo
