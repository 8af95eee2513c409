// The portable generator. Built with floating-point contraction off, so
// that no fused multiply-add changes a bit from one machine to another.
#include "gxlib/math/prng.h"

#include <cmath>

namespace gx {

namespace {

std::uint64_t splitmix(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// rms of the unit Gaussian cut at +-3: sqrt(1 - 6 phi(3) / (2 Phi(3) - 1)).
constexpr double kCut3Rms = 0.9865783925581086;
constexpr double kSqrt3 = 1.7320508075688772;
constexpr double kLn2 = 0.6931471805599453;

}  // namespace

Prng::Prng(std::uint64_t seed) {
  std::uint64_t x = seed;
  for (auto& w : s_) w = splitmix(x);
}

std::uint64_t Prng::next() {
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

double Prng::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

double Prng::symmetric() {
  for (;;) {
    const double u = 2.0 * uniform() - 1.0;
    if (u != -1.0) return u;
  }
}

double Prng::gauss() {
  for (;;) {
    const double u = symmetric(), v = symmetric();
    const double s = u * u + v * v;
    if (s <= 0.0 || s >= 1.0) continue;
    return u * std::sqrt(-2.0 * portableLog(s) / s);
  }
}

double Prng::gaussCut3() {
  for (;;) {
    const double g = gauss();
    if (g >= -3.0 && g <= 3.0) return g / kCut3Rms;
  }
}

double Prng::uniformUnit() { return kSqrt3 * symmetric(); }

double portableLog(double x) {
  if (!(x > 0.0)) return x == 0.0 ? -HUGE_VAL : NAN;
  if (std::isinf(x)) return x;
  int e = 0;
  double m = std::frexp(x, &e);   // x = m 2^e, m in [0.5, 1): exact
  if (m < 0.7071067811865476) {
    m *= 2.0;
    --e;
  }
  // ln m = 2 atanh(t), t = (m - 1)/(m + 1), |t| < 0.172: the series
  // converges by a factor t^2 < 0.03 a term.
  const double t = (m - 1.0) / (m + 1.0);
  const double t2 = t * t;
  double term = t, sum = 0.0;
  for (int k = 1; k <= 41; k += 2) {
    sum += term / k;
    term *= t2;
  }
  return 2.0 * sum + e * kLn2;
}

}  // namespace gx
