// Element editing, the misalignment analyses and the final listing.
#pragma once

#include "tavo/state.h"

namespace tavo {

// Interactive editor of one row of the element table. Returns false when
// the input ended (the row is then unchanged).
bool element(Tavo& s, int row);

// Rows of the element table together with what belongs to them: the
// rotation, the displacement and the link of the element.
void copyRow(Tavo& s, int to, int from);
void clearRow(Tavo& s, int row);
// A drift of no length after row `after`; the rows below move down one.
void insertDrift(Tavo& s, int after);
// Row `row` leaves the table; the rows below move up one.
void removeRow(Tavo& s, int row);

// Reading the system file open on the input unit (closed on return) into
// the element table and the title.
enum class SysFileRead {
  Loaded,          // read up to the end row (type 9)
  Sentinel,        // the file holds no system: SENTINEL after the title
  Severe,          // a row could not be read, or no end within the table
  NoParticleBeam,  // the first rows are not the particle and the beam
};
SysFileRead readSystemFile(Tavo& s);
// Writes the title and the rows up to the system end, then SENTINEL.
void writeSystemFile(Tavo& s, int unit);

// SQUEEZ: each run of adjacent drifts becomes one drift of their summed
// length; the rows below move up.
void squeez(Tavo& s);
// The quadrupoles' lengths become effective lengths: 1.1 bore radii longer,
// the fringe fields taken as 0.55 bore radii from the drifts on either side.
void effectiveLengths(Tavo& s);

// z at the system end, walked the way the evaluation walks the table.
double totalLength(Tavo& s);

// What the misalignment analyses perturb and give back exactly: the element
// table with the rotations, displacements and links, and the system end.
struct TableCopy {
  tavo_bdata bdata;
  std::array<double, 41> rotat;
  std::array<std::array<double, 2>, 41> displ;
  std::array<int, 41> coupl;
  int syspa;
  explicit TableCopy(const Tavo& s)
      : bdata(s.bdata), rotat(s.rotat), displ(s.displ), coupl(s.coupl), syspa(s.syspa) {}
  void restore(Tavo& s) const {
    s.bdata = bdata;
    s.rotat = rotat;
    s.displ = displ;
    s.coupl = coupl;
    s.syspa = syspa;
  }
};

// Rows of the quadrupoles (kind 4, not superimposed) before the system end,
// in table order; returns their number.
int quadrupoleRows(Tavo& s, std::array<int, 41>& rows);

// Misalignment analyses of the quadrupoles. Each leaves the element table,
// the rotations and the displacements as they were.
// Parasitic multipoles of the quadrupoles (PARASI).
void parasiticAberrations(Tavo& s, char option, double value);
// The aberration coefficients of the quadrupoles' rotations (ROTN).
void rotationAberrations(Tavo& s, char option, double value);
// The aberration coefficients of the quadrupoles' displacements (DISP).
void displacementAberrations(Tavo& s, double value);

// The final listing at the diagnostic level in particle column 5, into the
// listing file named after the system file (or onto the terminal).
void finalListing(Tavo& s);

}  // namespace tavo
