// Tolerance ensembles: as-built variants of the lens system, each with its
// own drawn build errors, refocused as an operator would refocus it, and
// written as a folder of coefficient files with a manifest.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tavo/state.h"

namespace tavo {

enum class ErrorLaw { Gauss3, Uniform };

// What the user asks for.
struct ToleranceSpec {
  double dx = 0.0, dy = 0.0;     // rms transverse displacement of each lens (m)
  double rot = 0.0;              // rms rotation of each lens about the axis (rad)
  double lens = 0.0;             // rms relative excitation error of each lens
  double supply = 0.0;           // rms relative error of each power supply
  double sext = 0.0, oct = 0.0;  // rms stray sextupole/octupole field at the bore,
                                 // as a fraction of the quadrupole's
  ErrorLaw law = ErrorLaw::Gauss3;
  std::vector<int> rows;         // lens rows the errors apply to (empty: all lenses)
  int variants = 0;              // number of variants besides the nominal one
  std::uint64_t seed = 1;
  bool exact = false;            // soft-edge maps to fifth order, not the closed form
  char shape = 'C';              // collimator shape letter of every file
};

// The errors drawn for one lens (relative errors as fractions; angles in rad).
struct LensErrors {
  int row = 0;
  int supply = 0;                // index into the variant's supply errors
  double dx = 0, dy = 0, rot = 0, lens = 0;
  double sext = 0, sextAngle = 0, oct = 0, octAngle = 0;
};

// One as-built variant.
struct Variant {
  int index = 0;                      // 0 is the nominal system
  std::vector<LensErrors> errors;     // one per lens row the errors apply to
  std::vector<double> supplies;       // relative error of each power supply
  std::vector<double> fields;         // refocused fit variables X(1..NV)
  bool refocused = true;              // the refit reached the nominal image
  double offset[4] = {0, 0, 0, 0};    // image offset of the axial ray (x, theta, y, phi)
  std::vector<std::string> records;   // the coefficient file
};

// Lens rows of the evaluated system: field rows that are not superimposed,
// before the system end.
std::vector<int> lensRows(Tavo& s);

// The power supplies: lenses with the same coupling code share one, every
// other lens has its own. supplyOf[row] is the supply index (-1: no lens);
// returns the number of supplies.
int powerSupplies(Tavo& s, std::array<int, kRows + 1>& supplyOf);

// Builds every variant of the ensemble; each is handed to sink as soon as
// it is made (so the caller writes it and memory stays small). False with
// a message when the ensemble cannot be made; the system is left as it was.
bool buildEnsemble(Tavo& s, const ToleranceSpec& spec,
                   const std::function<bool(const Variant&, std::string&)>& sink,
                   std::string& why);

// The manifest's column names and one variant's row (plain text: blanks
// between fields, numbers to 17 digits).
std::string manifestHeader(const ToleranceSpec& spec, const std::vector<int>& rows,
                           int nsupplies, int nfields);
std::string manifestRow(const Variant& v, const std::string& file);

// Writes the ensemble as the folder name: built under a temporary name
// beside it and renamed when complete; an existing folder is never
// replaced. False with a message; unfocused counts the variants whose image
// could not be restored (they are written, marked in the manifest).
bool writeEnsemble(Tavo& s, const ToleranceSpec& spec, const std::string& name, std::string& why,
                   int& unfocused);

}  // namespace tavo
