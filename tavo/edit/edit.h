// Element editing, the misalignment analyses and the final listing.
#pragma once

#include "tavo/state.h"

namespace tavo {

struct Command;

// The number of the argument, also when it follows a letter ("ROTN A 0.5",
// "PARASI S 2"); 0 when there is none.
double argNumber(const Command& c);

// Interactive editor of one row of the element table. Returns false when
// the input ended (the row is then unchanged).
bool element(Tavo& s, int row);

// Rows of the element table together with what belongs to them: the
// rotation, the displacement and the link of the element.
void copyRow(Tavo& s, int to, int from);
void clearRow(Tavo& s, int row);

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
void parasite(Tavo& s, char option, double value);   // parasitic multipoles
void parrot(Tavo& s, char option, double value);     // rotations
void pardis(Tavo& s, double value);                  // displacements

// The final listing at the diagnostic level in particle column 5, into the
// listing file named after the system file (or onto the terminal).
void finalListing(Tavo& s);


}  // namespace tavo
