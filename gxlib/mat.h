// Small fixed-size matrices of doubles and the one linear solver.
//
// One convention throughout: entries are numbered from 1 as the optics
// writes them, m(r, c) being row r and column c, and stored column by
// column, m.a[(c - 1) * R + (r - 1)], so that a column is contiguous and a
// matrix reads and writes as the column-major blocks of the files. A
// column vector Mat<N, 1> is indexed v(i).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

namespace gx {

template <int R, int C>
struct Mat {
  static_assert(R > 0 && C > 0, "a matrix has at least one row and one column");
  static constexpr int kRows = R;
  static constexpr int kCols = C;

  std::array<double, static_cast<size_t>(R) * static_cast<size_t>(C)> a{};   // column by column

  constexpr double& operator()(int r, int c) { return a[index(r, c)]; }
  constexpr double operator()(int r, int c) const { return a[index(r, c)]; }
  constexpr double& operator()(int i)
    requires(C == 1)
  {
    return a[static_cast<size_t>(i - 1)];
  }
  constexpr double operator()(int i) const
    requires(C == 1)
  {
    return a[static_cast<size_t>(i - 1)];
  }

  constexpr void fill(double v) { a.fill(v); }

  static constexpr Mat identity()
    requires(R == C)
  {
    Mat m;
    for (int i = 1; i <= R; ++i) m(i, i) = 1.0;
    return m;
  }

  friend constexpr bool operator==(const Mat&, const Mat&) = default;

 private:
  static constexpr size_t index(int r, int c) {
    return static_cast<size_t>(c - 1) * static_cast<size_t>(R) + static_cast<size_t>(r - 1);
  }
};

template <int N>
using Vec = Mat<N, 1>;

// The determinant of a 3x3 matrix, expanded along the first row.
constexpr double det(const Mat<3, 3>& m) {
  return m(1, 1) * (m(2, 2) * m(3, 3) - m(2, 3) * m(3, 2)) -
         m(1, 2) * (m(2, 1) * m(3, 3) - m(2, 3) * m(3, 1)) +
         m(1, 3) * (m(2, 1) * m(3, 2) - m(2, 2) * m(3, 1));
}

// Solves m x = b by Gaussian elimination with partial pivoting. The columns
// are first scaled to a largest entry of 1, so that unknowns of very
// different sizes (octupole strengths differ by powers of the
// magnification) are pivoted fairly and the pivot test is relative: a pivot
// not above tiny
// makes the system singular (tiny = 0 refuses only an exact zero). False,
// with x unspecified, when a column is zero or not finite, the system is
// singular, or the solution is not finite.
template <int N>
bool solve(Mat<N, N> m, Mat<N, 1> b, Mat<N, 1>& x, double tiny = 1e-12) {
  std::array<double, static_cast<size_t>(N) + 1> scale{};   // scale[c], c = 1..N
  for (int c = 1; c <= N; ++c) {
    for (int i = 1; i <= N; ++i) scale[c] = std::max(scale[c], std::fabs(m(i, c)));
  }
  for (int c = 1; c <= N; ++c) {
    if (!(scale[c] > 0.0) || !std::isfinite(scale[c])) return false;
    for (int i = 1; i <= N; ++i) m(i, c) /= scale[c];
  }
  for (int k = 1; k <= N; ++k) {
    int p = k;
    for (int i = k + 1; i <= N; ++i)
      if (std::fabs(m(i, k)) > std::fabs(m(p, k))) p = i;
    if (!(std::fabs(m(p, k)) > tiny)) return false;
    for (int c = 1; c <= N; ++c) std::swap(m(k, c), m(p, c));
    std::swap(b(k), b(p));
    for (int i = k + 1; i <= N; ++i) {
      const double f = m(i, k) / m(k, k);
      for (int c = k; c <= N; ++c) m(i, c) -= f * m(k, c);
      b(i) -= f * b(k);
    }
  }
  for (int k = N; k >= 1; --k) {
    double v = b(k);
    for (int c = k + 1; c <= N; ++c) v -= m(k, c) * x(c);
    x(k) = v / m(k, k);
  }
  for (int c = 1; c <= N; ++c) {
    x(c) /= scale[c];
    if (!std::isfinite(x(c))) return false;
  }
  return true;
}

}  // namespace gx
