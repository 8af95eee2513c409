// A portable random generator for ensembles that must be the same on every
// machine: xoshiro256** seeded through splitmix64, uniform doubles from the
// top 53 bits, and Gaussian deviates by Marsaglia's polar method with a
// logarithm of our own (the library's log may differ in the last bit from
// one platform to the next). Only IEEE additions, multiplications,
// divisions and square roots are used, so a seed gives the same sequence
// everywhere.
#pragma once

#include <array>
#include <cstdint>

namespace gx {

class Prng {
 public:
  explicit Prng(std::uint64_t seed);
  std::uint64_t next();       // the raw 64-bit output
  double uniform();           // [0, 1), multiples of 2^-53
  double symmetric();         // (-1, 1)
  double gauss();             // zero mean, unit variance
  // Zero mean and unit rms, cut at 3 standard deviations of the parent
  // Gaussian (redrawn beyond), rescaled so that the cut law has rms 1.
  double gaussCut3();
  // Uniform with zero mean and unit rms: on [-sqrt 3, sqrt 3].
  double uniformUnit();

 private:
  std::array<std::uint64_t, 4> s_{};
};

// Natural logarithm of x > 0 by a fixed algorithm (exponent split and the
// atanh series), the same to the bit on every IEEE machine.
double portableLog(double x);

}  // namespace gx
