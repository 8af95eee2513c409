// Axial fields read from a file: two columns, z and phi(z) (V) or B(z)
// (T), as a field solver or a Hall-probe scan writes them. Derivatives up
// to the sixth come from a moving weighted least-squares polynomial: at
// each z a polynomial of degree 10 is fitted to the samples with Gaussian
// weights of width 3 spacings centred on z, so the fit is smooth in z and
// exact for polynomials up to that degree.
#pragma once

#include <string>
#include <vector>

namespace tavo {

struct AxialTable {
  std::string name;          // file it came from
  std::vector<double> z, f;  // samples, z strictly increasing
  double h = 0.0;            // mean spacing
  double width = 0.0;        // the field's own length scale, from the samples
};

// Reads and checks a table; false with a message for a file that cannot be
// read, holds a non-numeric line, is unsorted, too short (the field has not
// died away or levelled off at its ends) or too coarse for the field.
bool readAxialTable(const std::string& path, AxialTable& t, std::string& why);

// f^(k)(z), k = 0..m (m <= 6), inside the table; outside it, the end value
// and no slope.
void tableDerivs(const AxialTable& t, double z, int m, double* d);

}  // namespace tavo
