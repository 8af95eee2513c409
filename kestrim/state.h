// KESTRIM's shared records, held together in one Kestrim object that every
// command receives: two sessions never share a record.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "gxlib/gxlib.h"
#include "gxlib/mat.h"

namespace kestrim {

// Unit numbers of the command loop.
struct kqinout {
  int file = 10;   // auxiliary files (registers, delays, LIST, DELETE)
  int in = 5;      // current input: 5 terminal, 15, 25, ... macro levels
  int out = 6;     // terminal output
  int macro = 0;   // 1 while any macro is being read (answers are echoed)
};

struct kqflags {
  int colour = 0;       // 1: rays drawn in colours (COLOUR)
  int focalKnown = 0;   // 1: SYNTH has stored the focal positions
  int scaleDraw = 0;    // 1: maps carry a scale bar (MAP/E S)
};

// The least and greatest of the values added; 0 and 0 before any. A NaN
// (from a ray file, or a map that overflowed) takes no part: first in a
// set, it would make the whole range NaN. Ties keep the first value, so a
// range added in order gives the same zero's sign as its parts added in order.
struct Range {
  double lo = 0, hi = 0;
  bool any = false;
  void add(double v) {
    if (std::isnan(v)) return;   // a NaN ray has no place in a range
    if (!any) lo = hi = v;
    any = true;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  void add(const Range& o) {
    if (!o.any) return;
    add(o.lo);
    add(o.hi);
  }
};

// The Range of many values, found without a branch per value: strict
// comparisons keep the first of equal values and pass over a NaN.
struct RangeScan {
  double lo = __builtin_inf(), hi = -__builtin_inf();
  bool any = false;
  void add(double v) {
    any |= v == v;
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
  }
  Range range() const { return any ? Range{lo, hi, true} : Range{}; }
};

// Where a ray set's rays lie at the system's end, x + 0 th and y + 0 ph as
// a sort there reckons them (an infinite angle gives no place): ray 1,
// ray 2 (the paraxial pair) and the rest, each added in file order.
struct EndExtent {
  std::array<Range, 3> x{}, y{};
  // Ray n (from 1) of the set.
  void add(long long n, double xx, double th, double yy, double ph) {
    const auto i = static_cast<size_t>((n < 3 ? n : 3) - 1);
    x[i].add(xx + 0.0 * th);
    y[i].add(yy + 0.0 * ph);
  }
  // Rays from the third on, found together.
  void addRest(const RangeScan& xs, const RangeScan& ys) {
    x[2].add(xs.range());
    y[2].add(ys.range());
  }
};

// Ray-set channels: read, write and append units and the position counter.
struct kqraysblk {
  int unitR = 7, unitW = 8, unitA = 9;   // read, write and append units
  long long pos = 0;    // number of the ray last read on the read channel
  // Reading costs, for whoever wants to check them: records read on the
  // read channel (caption records included) and rewinds of it.
  long long reads = 0;
  long long rewinds = 0;
  // Where the read set's rays lie at the system's end, x + 0 th and
  // y + 0 ph as a sort there reckons them, found while the set was counted:
  // ray 1, ray 2 and rays 3 to NTOT. A sort or map at that plane then needs
  // no pass of its own. Good while endNtot equals NTOT; -1: not known.
  long long endNtot = -1;
  EndExtent end;
};

// The ray last read: position (m), angle (rad) in each plane and the energy
// deviation (%).
struct kqrayscur {
  double x = 0, th = 0, y = 0, ph = 0, de = 0;
};

// Coefficient store: the system as TAVO's coefficient file describes it.
struct cofinout {
  // units (1)..(5): (3) the coefficient file, (4) the keyboard, (5) the
  // terminal; (1) and (2) must be non-zero. Index 0 unused.
  std::array<int, 6> u{0, 1, 1, 3, 5, 6};
};
struct cofobap {
  // object X/2, object Y/2, aperture X/2, aperture Y/2,
  // object X CENTRE, object Y CENTRE, aperture X CENTRE, aperture Y CENTRE (m)
  std::array<double, 8> v{};
};
// Distances along the axis (m).
struct cofdis {
  double objap = 0;    // object-to-aperture distance
  double shadow = 0;   // image-to-shadow-plane distance
  double totlen = 0;   // total system length
};
// The 112 coefficients as a 4x28 matrix b(r, c) of coordinate r (x, theta,
// y, phi): columns 1-4 the first-order matrix and 5-8 a copy of it, so that
// columns 5-18 are the 4x14 first- and second-order matrix, 9-18 holding
// the second-order terms; from entry 73 the third- and from entry 97 the
// fifth-order terms of the two planes, interleaved x, y; four spare.
struct cofbmat : gx::Mat<4, 28> {
  // third-order value n (1..12) of plane p (1 x, 2 y): entries 73.. interleaved
  double& t3(int p, int n) { return a[72 + (n - 1) * 2 + (p - 1)]; }
  double t3(int p, int n) const { return a[72 + (n - 1) * 2 + (p - 1)]; }
  // fifth-order value n (1..6) of plane p: entries 97.. interleaved
  double& t5(int p, int n) { return a[96 + (n - 1) * 2 + (p - 1)]; }
  double t5(int p, int n) const { return a[96 + (n - 1) * 2 + (p - 1)]; }
};

// The records a command may change: the ray set, the coefficient store,
// registers and settings. Ctrl-C puts back the copy taken before the
// command.
struct KestrimRecords {
  long long ntot = 0;                     // NTOT: rays in the current set, paraxial pair included
  std::string caption;               // caption of the current set (100 characters)
  std::string rayFile;               // file name of the current set (100 characters)
  std::array<double, 10> areg{};     // real registers A0..A9
  std::array<int, 10> ireg{};        // integer registers I0..I9
  kqflags flags;
  int dotMode = 0;                   // 1: rays drawn as dots of dotSize (DOTMOD)
  double dotSize = 1.0;              // dot size of dot mode
  // Spot maps and phase-space plots.
  struct kqmapopts {
    int captions = 1;   // captions drawn
    int centred = 1;    // 1: window centred on the axis; 0: window mode
    int paraxial = 1;   // rays 1 and 2 drawn too
  } mapopts;
  // Data extent at the last map plane (m).
  double extXmin = 0, extXmax = 0, extYmin = 0, extYmax = 0;
  // Half-sizes of the point squares (m, or the plot's units).
  float pointWx = 0, pointWy = 0;
  // The last map and the last plot, for the redraw qualifier R.
  struct kqlastplot {
    bool valid = false;           // there is one to draw again
    char device = 'S';            // the plot device letter it went to
    double w = 0, z = 0;          // half-width and plane
    float xmin = 0, xmax = 0, ymin = 0, ymax = 0;  // clip window
    char h = 'X', v = 'Y';        // PLOT's axes
  } lastMap, lastPlot;
  double mapHalfWidth = 0.0;         // half-width (m) of the last map (MAP/R)
  double mapPlane = 0.0;             // its plane (m from the reference plane)
  // NDEL, the display delay in ms (FLASH/D), and NPER, from the delays
  // file kqsort.del; kept for the user, no display here waits on them.
  int ndel = 1000, nper = 1000;
  int flashCount = 0;                // flash count of FLASH, kept likewise
  std::string prevLine;              // previous command line, for PREV (40)
  char prevQual = ' ';               // its qualifier
  double prevValue = 0.0;            // its value
  std::string prevArg;               // its argument as typed (file names)
  std::string helppath;              // the help file (HELP/S replaces it)

  kqraysblk rays;
  kqrayscur cur;

  // Synthesis
  int ncolours = 4;                      // colours of the rays when colour is on
  double xfocal = 1e10, yfocal = 1e10;   // focal positions from SYNTH (m from the system end)

  // Coefficient store
  int coffile = 0;                   // 1 once a coefficient file was read or written
  cofinout cofio;
  std::string coftitle;              // its title, 100 characters
  char cofshape = 'C';               // aperture shape: C circular, S square
  cofobap obap;
  cofdis dis;
  cofbmat bmat;
  // Chromatic terms: x per theta.delta, y per phi.delta, x per x.delta and
  // y per y.delta (delta in percent).
  std::array<double, 4> chrm{};

  // FIND's parameters, kept from one FIND to the next.
  struct kqfindblk {
    double period = static_cast<double>(1.27e-5f);   // grid period (m)
    double shadowPeriod = 1e-3, shadowError = 0;      // shadow period and its error (m)
    int order = 1;                                    // order of the fitted polynomial
    std::array<double, 20> c{};                       // its coefficients (mm/mm^k)
    double width = 0;                                 // total pattern width (m)
  } find;

  // The particle of the ray set, for openPMD files (OPMD): the last one
  // given or read, offered as the default next time.
  struct kqparticle {
    std::string species;   // SpeciesType name, empty when none yet
    int charge = 0;        // charge number
    double massAmu = 0;    // rest mass (u)
    double energy = 0;     // reference kinetic energy (MeV)
  } particle;

  // Device on which SORT, PROFIL and DIFF draw their results (GRAPH):
  // S, Q, V, H or P; blank when they only write their files.
  char graphDevice = ' ';
};

struct Kestrim : KestrimRecords {
  Kestrim(std::istream& in, std::ostream& out, bool interactive = false)
      : gx(in, out, interactive) {}

  gx::Lib gx;                        // the library: units, plot devices, clock

  kqinout io;
  bool running = true;               // false once the session has ended (EXIT)
};

}  // namespace kestrim
