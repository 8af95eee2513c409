// TAVO's state. Everything a session knows lives in one Tavo object that
// the routines receive by reference, so sessions can run side by side.
#pragma once

#include <array>
#include <string>

#include "gxlib/gxlib.h"
#include "gxlib/mat.h"

namespace tavo {

constexpr int kRows = 40;   // element table rows
constexpr int kCols = 12;   // element table columns

// The optics' matrices (gxlib/mat.h: m(r, c) from 1, column by column):
// the 4x4 first-order transfer matrix in (x, theta, y, phi), the 14x14
// second-order matrix, and the third-order coefficients T(p, j) of plane p
// (1 x, 2 y) and term j (1..10).
using Mat4 = gx::Mat<4, 4>;
using Mat14 = gx::Mat<14, 14>;
using Third = gx::Mat<2, 10>;

// The I/O unit numbers of the session's files.
struct tavo_inout {
  int sysin = 1;    // system file being read
  int lst = 2;      // listing file
  int sysout = 3;   // system file being written
  int cmd = 5;      // current command input: 5 terminal, 15, 25, ... macros
  int term = 6;     // terminal output
};

// The element table: 40 rows x 12 columns, stored column by column. Row 1
// is the particle, row 2 the beam, then one row per element up to the
// system end (type code 9); column 1 holds the type code.
struct tavo_bdata {
  std::array<double, kRows * kCols> b{};
  double& operator()(int row, int col) { return b[(col - 1) * kRows + (row - 1)]; }
  double operator()(int row, int col) const { return b[(col - 1) * kRows + (row - 1)]; }
  void clear() { b.fill(0.0); }
};

// Where the system lies along z, from the last evaluation.
struct tavo_syspb {
  double totlen = 0.0;   // z at the system end
  double centre = 0.0;   // centre of the lens section
};

// How many quadrupoles, sextupoles and octupoles the last evaluation met.
struct tavo_nlens {
  int nquad = 0, nsext = 0, noct = 0;
};

// The system's third-order coefficients referred to the object (entries
// x, y alternating, ten terms each), and the quadrupoles' and octupoles'
// shares of them.
struct tavo_aber3 {
  Third total;   // the whole system
  Third quad;    // quadrupole share
  Third octu;    // octupole share
};

// Chromatic and excitation coefficients, indexed from 1 (entries 1..104):
// 1..4 the chromatic terms (CHROM), 5..44 the first-order excitation terms
// of each powered element, 45..64 those of each coupled supply, 65..84 the
// third-order excitation terms of the octupoles (EXCITE); 85..104 are
// read by the coefficient fit but never filled.
struct tavo_aber0 {
  std::array<double, 105> v{};
  double& operator()(int i) { return v[i]; }
  double operator()(int i) const { return v[i]; }
};

// Physical constants (SI).
struct tavo_const {
  double e = 1.6021892e-19;     // elementary charge (C)
  double c = 299792458.0;       // speed of light (m/s)
  double mu0 = 1.256637062e-06; // permeability (H/m)
  double u = 1.660565416e-27;   // atomic mass unit (kg)
  double pi = 3.141592654;
};

// Variable mask and coefficient mask: 8 rows x 4 integers, indexed from 1.
struct Mask {
  std::array<std::array<int, 4>, 8> m{};
  int& operator()(int row, int k) { return m[row - 1][k - 1]; }
  int operator()(int row, int k) const { return m[row - 1][k - 1]; }
};

struct tavo_masks {
  Mask var;    // kind, element row, column, group
  Mask coef;   // kind, plane, first index, second index
};

// The minimiser's variables and settings (entries 1..20 used).
struct stepit_blk1 {
  int nv = 0;                       // number of variables
  std::array<double, 21> x{};       // the variables
  std::array<double, 21> xmax{}, xmin{};  // bounds (none when equal)
  std::array<double, 21> deltx{};   // first step of each variable (0: 1% of it)
  std::array<double, 21> delmin{};  // smallest step: the precision
  std::array<double, 21> err{};     // error estimates
  std::array<int, 21> mask{};       // 0: varied, otherwise held
  int ntrac = 0;                    // trace level of the search (-1 quiet)
  int matrx = 0;                    // error matrix wanted (not made)
  int nflat = 0, mosque = 0, maxit = 0;  // settings of the search, unused
  double ratio = 0.0;
  // Giant-step directions: dirs[i][k] is component i of stored direction k
  // (k = 1..15 used).
  std::array<std::array<double, 21>, 21> dirs{};
};
struct stepit_blk2 {
  double chisq = 0.0;   // the objective's value at the variables
};
struct stepit_mon {
  int ncall = 0;        // objective calls of the current fit
};

// Edge-ray trace settings and state, kept between TRACE commands.
struct tavtrace {
  // Settings.
  int save = 0;          // 1: traced points go to trace.dat
  int collimate = 1;     // 1: stop the trajectories at a missed slit or aperture
  int order = 1;         // evaluation order
  float wait = 0.0f;     // seconds to wait after opening the plot
  int font = 0;          // stroke font of the plot labels
  // The table as last traced and the last plot window: z range, transverse
  // range (mm) and step count.
  tavo_bdata copy;
  float zend = 0.0f, zstart = 0.0f, hi = 0.0f, lo = 0.0f;
  int nsteps = 0;
  char device = ' ';     // device of the last plot
  bool plotted = false;  // a plot window is stored (TRACE R may repeat it)
  std::array<double, 4> ray{};  // initial ray (x, theta, y, phi)
  std::array<double, 4> point{};  // the beam vector traced to the last z
};

// Decoded type code.
struct TypeCode {
  int kind = 0;       // 0 particle .. 17 cylinder lens
  int field = 0;      // +1 magnetic, -1 electric, 0 none
  int superposed = 0; // 1 when lying on the previous lens
  int coupling = 0;   // signed coupling code
};

// The records a command may change: the system, its results and the
// settings. Ctrl-C puts back the copy taken before the command.
struct TavoRecords {
  int idiag = -1;                // diagnostic level of the evaluation (DIAG)
  std::string file;              // name of the system file, as typed (DATA, SAVE)
  std::string title;             // title of the lens system (50 characters)
  std::string helppath;          // help file (HELP/S sets it)
  std::string corrName;          // name remembered by CORR

  tavo_bdata bdata;              // the element table
  int syspa = 0;                 // row of the system end (0: no system)
  tavo_syspb syspb;              // system length and lens centre
  tavo_nlens nlens;              // multipoles counted by the evaluation
  std::array<double, 4> bspec{}; // the beam vector (x, theta, y, phi) at the system end
  std::array<double, 41> rotat{};               // roll of each row's element (rad), rows 1..40
  std::array<std::array<double, 2>, 41> displ{}; // displacement (x, y) of each element (m), rows 1..40
  std::array<int, 41> coupl{};                  // minimiser variable driving each row's field, signed by its polarity (0: none), rows 1..40
  tavo_masks masks;              // the masks of the coefficient fit (MASK, AGP)
  Mat14 aber2;                   // the system's second-order matrix
  tavo_aber3 aber3;              // third-order coefficients of the system
  tavo_aber0 aber0;              // chromatic and excitation coefficients
  tavo_const cnst;               // physical constants
  int iflag = 0;                 // 1 once a fit (STIG, MASK, EXACT/F) changed the fields
  int walkStop = 0;              // set by an element routine that cannot go on

  std::array<double, 14> unitFactor{};  // field-unit factors 1..13
  char ptfUnit = ' ';            // remembered PTF unit letter
  int exciteUnit = 1;            // remembered EXCITE/CHROM unit index
  double fitPrecision = 1e-6;    // last MASK precision
  double fringe = 1.0;           // soft-edge fringe length / bore radius (FRINGE)

  stepit_blk1 blk1;              // the minimiser's variables
  stepit_blk2 blk2;              // the objective's last value
  stepit_mon mon;                // objective calls

  tavtrace trace;                // TRACE settings, window and table copy
};

struct Tavo : TavoRecords {
  Tavo(std::istream& in, std::ostream& out, bool interactive = false)
      : gx(in, out, interactive) {}

  gx::Lib gx;                    // the library: units, plot devices, clock

  tavo_inout inout;
  int imacr = 0;                 // 1 while a macro file is the command input
  bool running = true;           // cleared by EXIT
};

}  // namespace tavo
