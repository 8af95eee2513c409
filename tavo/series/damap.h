// Truncated power series in the ray coordinates (x, theta, y, phi and, when
// asked for, the energy deviation delta): the algebra that carries a whole
// transfer map through the ray equation at once. A Space fixes the number of
// variables and the truncation order; every Poly of that Space holds one
// coefficient per monomial of degree up to the order, graded by degree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavo::da {

constexpr int kMaxVars = 5;
constexpr int kMaxOrder = 7;
using Exps = std::array<int, kMaxVars>;

class Space {
 public:
  // nv variables (1..5), truncation order 0..7.
  Space(int nv, int order);
  int vars() const { return nv_; }
  int order() const { return order_; }
  int size() const { return static_cast<int>(exps_.size()); }
  // Number of monomials of degree <= d.
  int upTo(int d) const { return d < 0 ? 0 : bound_[d > order_ ? order_ : d]; }
  int degree(int m) const { return deg_[m]; }
  const Exps& exps(int m) const { return exps_[m]; }
  // Index of a monomial, -1 when its degree exceeds the order.
  int index(const Exps& e) const;
  // Index of the product of monomials i and j (j < upTo(order - degree(i))).
  int product(int i, int j) const { return prod_[prodStart_[i] + j]; }

 private:
  int nv_, order_;
  std::vector<Exps> exps_;
  std::vector<int> deg_;
  std::array<int, kMaxOrder + 1> bound_{};
  std::vector<int> prodStart_;
  std::vector<int> prod_;
};

// A Poly refers to its Space, which must outlive it.
class Poly {
 public:
  explicit Poly(const Space& sp, double c0 = 0.0);
  // The variable v (0-based) plus the constant c0.
  static Poly var(const Space& sp, int v, double c0 = 0.0);

  const Space& space() const { return *sp_; }
  double operator[](int m) const { return c_[m]; }
  double& operator[](int m) { return c_[m]; }
  double constant() const { return c_[0]; }
  // Coefficient of x^e0 theta^e1 y^e2 phi^e3 delta^e4 (0 beyond the order).
  double coef(const Exps& e) const;
  // Value at a point (one number per variable).
  double eval(const double* point) const;
  // Drops every term above degree d.
  Poly& truncate(int d);
  // Largest absolute coefficient.
  double norm() const;

  Poly& operator+=(const Poly& o);
  Poly& operator-=(const Poly& o);
  Poly& operator+=(double v) { c_[0] += v; return *this; }
  Poly& operator-=(double v) { c_[0] -= v; return *this; }
  Poly& operator*=(double v);
  // this += a * b (truncated).
  Poly& addProduct(const Poly& a, const Poly& b);
  // this += v * a.
  Poly& axpy(double v, const Poly& a);

 private:
  const Space* sp_;
  std::vector<double> c_;
};

Poly operator+(Poly a, const Poly& b);
Poly operator-(Poly a, const Poly& b);
Poly operator-(Poly a);
Poly operator*(const Poly& a, const Poly& b);
Poly operator*(Poly a, double v);
Poly operator*(double v, Poly a);
Poly operator+(Poly a, double v);
Poly operator-(Poly a, double v);
Poly operator+(double v, Poly a);
Poly operator-(double v, Poly a);

// Functions of a series with a non-zero constant part (false-free: the
// caller guarantees a positive constant for sqrt, a non-zero one for recip).
Poly recip(const Poly& a);
Poly sqrt(const Poly& a);
Poly pow(const Poly& a, int n);
// f(a) for a function given by its derivatives f^(k)(a0), k = 0..order.
Poly series(const Poly& a, const std::vector<double>& derivs);
// a(b[0], b[1], ...): substitutes the series b for the variables of a.
Poly compose(const Poly& a, const std::vector<Poly>& b);

// One classical fourth-order Runge-Kutta step of y' = f(z, y) for a vector
// of series.
template <class F>
void rk4Step(F&& f, double z, double h, std::vector<Poly>& y) {
  const std::size_t n = y.size();
  std::vector<Poly> k1 = f(z, y);
  std::vector<Poly> t = y;
  for (std::size_t i = 0; i < n; ++i) t[i].axpy(0.5 * h, k1[i]);
  std::vector<Poly> k2 = f(z + 0.5 * h, t);
  t = y;
  for (std::size_t i = 0; i < n; ++i) t[i].axpy(0.5 * h, k2[i]);
  std::vector<Poly> k3 = f(z + 0.5 * h, t);
  t = y;
  for (std::size_t i = 0; i < n; ++i) t[i].axpy(h, k3[i]);
  std::vector<Poly> k4 = f(z + h, t);
  for (std::size_t i = 0; i < n; ++i) {
    y[i].axpy(h / 6.0, k1[i]);
    y[i].axpy(h / 3.0, k2[i]);
    y[i].axpy(h / 3.0, k3[i]);
    y[i].axpy(h / 6.0, k4[i]);
  }
}

}  // namespace tavo::da
