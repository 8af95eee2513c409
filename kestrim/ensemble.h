// Spots of a tolerance ensemble: one ray set mapped through every as-built
// variant that TAVO's TOLERA wrote, the spot of each measured, the whole
// summarised, and the error kinds and lenses ranked by the spot growth
// they cause.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestrim/raypoly.h"

namespace kestrim {

// Fractions of the current at which the encircled diameter is kept.
constexpr int kCurvePoints = 20;   // 0.05, 0.10, ... 1.00

// The spot of one variant at the plane (m).
struct Spot {
  int variant = 0;
  double cx = 0, cy = 0;   // centroid
  double rms = 0;          // radial rms about the centroid
  double fwhm = 0;         // mean of the full widths at half maximum of the x and y profiles
  double d50 = 0, d90 = 0; // diameters about the centroid holding 50 % and 90 % of the rays
  double curve[kCurvePoints] = {};   // diameter holding 5 %, 10 %, ... 100 %
};

// One variant of the manifest.
struct EnsembleVariant {
  int index = 0;
  std::string file;                   // coefficient file, in the folder
  double offset[4] = {0, 0, 0, 0};    // x0 th0 y0 ph0
  std::vector<double> errors;         // the drawn errors, in the order of errorNames
};

struct Manifest {
  std::vector<std::string> errorNames;   // dx.4, rot.6, psu.1, ... (angles left out)
  std::vector<EnsembleVariant> variants; // index order, 0 the nominal system
};

// Reads folder/manifest.txt. False with a message.
bool readManifest(const std::string& folder, Manifest& m, std::string& why);

// The spot of rays at positions X, Y (n of them); scratch holds n values.
Spot measureSpot(const double* X, const double* Y, size_t n, std::vector<double>& scratch);

// What a run (or a slice of one) measured: the settings that must agree
// between slices, and the spots by variant.
struct Summary {
  std::string folder;
  long long rays = 0;
  double z = 0.0;
  int total = 0;               // variants in the ensemble (besides the nominal one)
  std::string source;          // where the rays came from
  std::vector<Spot> spots;     // variant 0 (nominal) first, then in index order
};

// The summary file: settings, one row per variant with every number to 17
// digits (read back exactly), then the statistics as comment lines.
std::string summaryText(const Summary& s, const std::vector<std::string>& statistics);
bool readSummary(const std::string& name, Summary& s, std::string& why);
// Joins slices: the settings must agree and a variant found twice must
// have the same spot. False with a message.
bool mergeSummaries(const std::vector<Summary>& parts, Summary& whole, std::string& why);

// Order statistics of the measured variants (1..): median and 90th
// percentile by nearest rank, so slices merge to exactly the same values.
struct Percentiles {
  double median = 0, p90 = 0;
};
Percentiles percentiles(std::vector<double> v);
// The index in spots of the variant of nearest rank p (0..100) by rms size.
size_t variantAtRank(const Summary& s, double p);

// Sensitivity: the growth of the squared rms size over the nominal, fitted
// against the square of each drawn error (the errors are independent, so
// each is fitted on its own); an entry's share is the growth it explains
// on average.
struct Sensitivity {
  std::string name;   // "dx.4", or a kind ("dx") or a lens ("row 4") summed
  double share = 0;   // m^2 of mean rms^2 growth
};
void rankSensitivity(const Summary& s, const Manifest& m, std::vector<Sensitivity>& terms,
                     std::vector<Sensitivity>& kinds, std::vector<Sensitivity>& lenses);

// The statistics lines of the summary (also shown on the terminal).
std::vector<std::string> statisticsLines(const Summary& s, const Manifest* m);

}  // namespace kestrim
