// Axial-field files and their smooth derivatives.
#include "tavo/exact/fieldfile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tavo {

namespace {

constexpr int kDegree = 10;         // of the local polynomial
constexpr double kSigma = 3.0;      // Gaussian weight width, in spacings
constexpr double kReach = 6.0;      // samples used out to this many widths
constexpr int kMinSamples = 24;
constexpr double kEndLevel = 1e-3;  // what "died away" means at the ends
constexpr double kCoarse = 8.0;     // spacing must be below width / kCoarse

std::string num(double v) {
  std::ostringstream o;
  o.precision(4);
  o << v;
  return o.str();
}

bool parseLine(const std::string& line, double& a, double& b) {
  std::string s = line;
  std::replace(s.begin(), s.end(), ',', ' ');
  std::istringstream in(s);
  std::string ta, tb, rest;
  if (!(in >> ta >> tb) || (in >> rest)) return false;
  char* e = nullptr;
  a = std::strtod(ta.c_str(), &e);
  if (*e != '\0' || !std::isfinite(a)) return false;
  b = std::strtod(tb.c_str(), &e);
  return *e == '\0' && std::isfinite(b);
}

}  // namespace

bool readAxialTable(const std::string& path, AxialTable& t, std::string& why) {
  t = AxialTable{};
  t.name = path;
  std::ifstream in(path);
  if (!in) {
    why = "Cannot read the field file " + path + ".";
    return false;
  }
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    const size_t b = line.find_first_not_of(" \t\r");
    if (b == std::string::npos) continue;
    const char c = line[b];
    if (c == '#' || c == '!' || c == '%' || c == ';' || line.compare(b, 2, "//") == 0) continue;
    double z = 0.0, f = 0.0;
    if (!parseLine(line, z, f)) {
      why = "Line " + std::to_string(n) + " of the field file " + path +
            " is not two numbers (z and the field).";
      return false;
    }
    if (!t.z.empty() && !(z > t.z.back())) {
      why = "The field file " + path + " is not sorted: z at line " + std::to_string(n) +
            " does not increase.";
      return false;
    }
    t.z.push_back(z);
    t.f.push_back(f);
  }
  const int m = static_cast<int>(t.z.size());
  if (m < kMinSamples) {
    why = "The field file " + path + " is too short: " + std::to_string(m) + " samples, at least " +
          std::to_string(kMinSamples) + " are needed.";
    return false;
  }
  t.h = (t.z.back() - t.z.front()) / (m - 1);
  // Length scale: the field's range over its steepest slope.
  double lo = t.f[0], hi = t.f[0], slope = 0.0;
  for (int i = 0; i < m; ++i) {
    lo = std::min(lo, t.f[i]);
    hi = std::max(hi, t.f[i]);
    if (i > 0) slope = std::max(slope, std::fabs(t.f[i] - t.f[i - 1]) / (t.z[i] - t.z[i - 1]));
  }
  if (!(hi > lo) || !(slope > 0.0)) {
    why = "The field file " + path + " holds no field.";
    return false;
  }
  t.width = (hi - lo) / slope;
  double hmax = 0.0;
  for (int i = 1; i < m; ++i) hmax = std::max(hmax, t.z[i] - t.z[i - 1]);
  if (hmax * kCoarse > t.width) {
    why = "The field file " + path + " is too coarse: samples " + num(hmax) +
          " m apart where the field changes over " + num(t.width) + " m; sample at " +
          num(t.width / 20.0) + " m or finer.";
    return false;
  }
  // Both ends level: the field has died away or reached its plateau.
  const double s0 = std::fabs(t.f[1] - t.f[0]) / (t.z[1] - t.z[0]);
  const double s1 = std::fabs(t.f[m - 1] - t.f[m - 2]) / (t.z[m - 1] - t.z[m - 2]);
  if (s0 > kEndLevel * slope || s1 > kEndLevel * slope) {
    why = "The field file " + path + " is too short: the field still changes at its " +
          std::string(s0 > kEndLevel * slope ? "first" : "last") +
          " samples; extend it until the field is level.";
    return false;
  }
  return true;
}

void tableDerivs(const AxialTable& t, double z, int m, double* d) {
  for (int k = 0; k <= m; ++k) d[k] = 0.0;
  const int n = static_cast<int>(t.z.size());
  if (n == 0) return;
  if (z <= t.z.front()) {
    d[0] = t.f.front();
    return;
  }
  if (z >= t.z.back()) {
    d[0] = t.f.back();
    return;
  }
  const double sig = kSigma * t.h, reach = kReach * sig;
  const int a = static_cast<int>(std::lower_bound(t.z.begin(), t.z.end(), z - reach) - t.z.begin());
  const int b = static_cast<int>(std::upper_bound(t.z.begin(), t.z.end(), z + reach) - t.z.begin());
  constexpr int p = kDegree + 1;
  const int rows = b - a;
  // Weighted Vandermonde in t = (z_j - z)/h, solved by Householder QR.
  std::vector<double> A(static_cast<size_t>(rows) * p), y(rows);
  for (int r = 0; r < rows; ++r) {
    const double u = (t.z[a + r] - z) / t.h;
    const double w = std::exp(-0.25 * ((t.z[a + r] - z) / sig) * ((t.z[a + r] - z) / sig));
    double pw = w;
    for (int c = 0; c < p; ++c) {
      A[r * p + c] = pw;
      pw *= u;
    }
    y[r] = w * t.f[a + r];
  }
  const int cols = std::min(p, rows);
  for (int c = 0; c < cols; ++c) {
    double norm = 0.0;
    for (int r = c; r < rows; ++r) norm += A[r * p + c] * A[r * p + c];
    norm = std::sqrt(norm);
    if (norm == 0.0) continue;
    const double alpha = A[c * p + c] > 0 ? -norm : norm;
    std::vector<double> v(rows - c);
    for (int r = c; r < rows; ++r) v[r - c] = A[r * p + c];
    v[0] -= alpha;
    double vv = 0.0;
    for (double x : v) vv += x * x;
    if (vv == 0.0) continue;
    for (int k = c; k < p; ++k) {
      double s = 0.0;
      for (int r = c; r < rows; ++r) s += v[r - c] * A[r * p + k];
      s = 2.0 * s / vv;
      for (int r = c; r < rows; ++r) A[r * p + k] -= s * v[r - c];
    }
    double s = 0.0;
    for (int r = c; r < rows; ++r) s += v[r - c] * y[r];
    s = 2.0 * s / vv;
    for (int r = c; r < rows; ++r) y[r] -= s * v[r - c];
  }
  std::vector<double> coef(p, 0.0);
  for (int c = cols - 1; c >= 0; --c) {
    double s = y[c];
    for (int k = c + 1; k < cols; ++k) s -= A[c * p + k] * coef[k];
    coef[c] = A[c * p + c] != 0.0 ? s / A[c * p + c] : 0.0;
  }
  double fact = 1.0, hk = 1.0;
  for (int k = 0; k <= m && k < p; ++k) {
    if (k > 0) {
      fact *= k;
      hk *= t.h;
    }
    d[k] = coef[k] * fact / hk;
  }
}

}  // namespace tavo
