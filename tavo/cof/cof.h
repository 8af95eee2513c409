// The coefficient file: the system's aberration polynomial written for the
// ray mapper, from the closed-form coefficients or from a field-integrated
// map.
#pragma once

#include <string>
#include <vector>

#include "tavo/series/damap.h"
#include "tavo/state.h"

namespace tavo {

// Third-order vector to image-side micron/mrad table C(plane 1..2, j 1..10).
void imageCoefficients(Tavo& s, int iz, const Third& t, double c[2][10]);

// Writes the coefficient file (COFOUT) from the system matrix, or, given a
// map in (x, theta, y, phi, delta), every record from the map (its
// fifth-order records too when fifth is set).
void cofout(Tavo& s, const Mat4& a, const std::string& line,
            const std::vector<da::Poly>* map = nullptr, bool fifth = false);

}  // namespace tavo
