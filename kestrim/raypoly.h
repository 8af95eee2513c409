// The aberration polynomial of a coefficient file as a plain value, for
// mapping many rays at once: the monomials of each ray are formed once and
// all four outputs evaluated together, ray after ray in arrays, so the
// compiler can vectorise across rays. Each ray goes through the same
// operations in the same order as coftran, so the results agree to the bit.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "kestrim/state.h"

namespace kestrim {

struct RayPoly {
  double m1[4][4] = {};     // first order, m1[r][c]
  double m2[4][10] = {};    // second order: x2 xth xy xph th2 thy thph y2 yph ph2
  double t3[2][12] = {};    // third order of x and y (the file's order)
  double t5[2][6] = {};     // fifth-order aperture terms of x and y
  double chrm[4] = {};      // Th%DE, Ph%DE, X%DE, Y%DE
  double offset[4] = {};    // zero-order terms (x, th, y, ph) of an as-built variant
  bool identity = false;    // no coefficients loaded: rays pass unchanged
};

// The polynomial held by the coefficient store.
RayPoly rayPoly(const Kestrim& k);

// Object rays as five arrays.
struct RayArrays {
  std::vector<double> x, th, y, ph, de;
  size_t size() const { return x.size(); }
  void resize(size_t n) {
    x.resize(n);
    th.resize(n);
    y.resize(n);
    ph.resize(n);
    de.resize(n);
  }
};

// Maps rays [from, from + n) through p and gives the position at distance
// z from the system end: X[i], Y[i] for i < n.
void mapToPlane(const RayPoly& p, const RayArrays& r, size_t from, size_t n, double z, double* X,
                double* Y);
// The full map of rays [from, from + n): the four outputs.
void mapRays(const RayPoly& p, const double* x, const double* th, const double* y, const double* ph,
             const double* de, size_t n, double* xo, double* tho, double* yo, double* pho);

// Worker threads for the mapping: KESTRIM_THREADS when set to a positive
// number, otherwise every core.
int mappingThreads();

// Runs work(0 .. count-1) on up to threads threads. Each index is done
// whole by one thread, so results stored per index do not depend on the
// number of threads.
void parallelFor(size_t count, int threads, const std::function<void(size_t)>& work);

}  // namespace kestrim
