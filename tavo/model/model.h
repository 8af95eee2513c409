// The lens-system model: type codes, name tables, field coupling and the
// variable masks of the fits.
#pragma once

#include <string>

#include "tavo/state.h"

namespace tavo {

// Name tables.
extern const char* const kUnitNames[21];    // 1..20, 5 characters each
extern const char* const kKindNames[21];    // 1..20, 10 characters each
extern const char* const kTitles[52];       // 1..51, 10 characters each
const char* fieldLabel(int field);          // -1 "Elec", 0 "    ", 1 "Magn"
const char* supraLabel(int superposed);     // 0 "      ", 1 "Supra-"
// Kind name of a row's kind (the particle, kind 0, is shown as name 12).
std::string kindName(int kind);

// Decodes a type code (prints the illegal-coupling warning).
TypeCode decodeType(Tavo& s, double code);
// Raw integer part of a row's type code, e.g. 18 for an electric octupole.
int rawCode(const Tavo& s, int row);

// Builds links and minimiser variables X(1..NV) from the coupling codes.
void couple(Tavo& s);
// Writes X back into the field column of every linked element.
void reload(Tavo& s);
// Reads the masked parameters into X / writes X back.
void loadMasked(Tavo& s, const Mask& mask, int& nv);
void storeMasked(Tavo& s, const Mask& mask, int nv);
// Edits a mask at the terminal; n = number of distinct groups.
// Returns false when the input ended.
bool editMask(Tavo& s, Mask& mask, int& n);

}  // namespace tavo
