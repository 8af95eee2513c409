// Truncated power series: monomial tables, arithmetic and the elementary
// functions the ray equation needs.
#include "tavo/series/damap.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tavo::da {

namespace {

constexpr int kBase = kMaxOrder + 1;

int encode(const Exps& e, int nv) {
  int k = 0;
  for (int v = 0; v < nv; ++v) k = k * kBase + e[v];
  return k;
}

// All exponent vectors of nv variables with sum d, the first variable's
// power falling.
void enumerate(int nv, int v, int left, Exps& e, std::vector<Exps>& out) {
  if (v == nv - 1) {
    e[v] = left;
    out.push_back(e);
    e[v] = 0;
    return;
  }
  for (int p = left; p >= 0; --p) {
    e[v] = p;
    enumerate(nv, v + 1, left - p, e, out);
  }
  e[v] = 0;
}

}  // namespace

Space::Space(int nv, int order) : nv_(nv), order_(order) {
  if (nv < 1 || nv > kMaxVars || order < 0 || order > kMaxOrder)
    throw std::invalid_argument("power series: unsupported variable count or order");
  for (int d = 0; d <= order; ++d) {
    Exps e{};
    enumerate(nv, 0, d, e, exps_);
    bound_[d] = static_cast<int>(exps_.size());
  }
  for (const Exps& e : exps_) {
    int d = 0;
    for (int v = 0; v < nv; ++v) d += e[v];
    deg_.push_back(d);
  }
  std::vector<int> lookup(static_cast<size_t>(std::pow(kBase, nv)), -1);
  for (int m = 0; m < size(); ++m) lookup[encode(exps_[m], nv)] = m;
  prodStart_.resize(exps_.size());
  for (int i = 0; i < size(); ++i) {
    prodStart_[i] = static_cast<int>(prod_.size());
    const int nj = upTo(order - deg_[i]);
    for (int j = 0; j < nj; ++j) {
      Exps e{};
      for (int v = 0; v < nv; ++v) e[v] = exps_[i][v] + exps_[j][v];
      prod_.push_back(lookup[encode(e, nv)]);
    }
  }
}

int Space::index(const Exps& e) const {
  int d = 0;
  for (int v = 0; v < kMaxVars; ++v) {
    if (e[v] < 0 || (v >= nv_ && e[v] != 0)) return -1;
    d += e[v];
  }
  if (d > order_) return -1;
  for (int m = upTo(d - 1); m < upTo(d); ++m)
    if (std::equal(e.begin(), e.begin() + nv_, exps_[m].begin())) return m;
  return -1;
}

Poly::Poly(const Space& sp, double c0) : sp_(&sp), c_(sp.size(), 0.0) { c_[0] = c0; }

Poly Poly::var(const Space& sp, int v, double c0) {
  Poly p(sp, c0);
  if (sp.order() >= 1 && v >= 0 && v < sp.vars()) p.c_[1 + v] = 1.0;
  return p;
}

double Poly::coef(const Exps& e) const {
  const int m = sp_->index(e);
  return m < 0 ? 0.0 : c_[m];
}

double Poly::eval(const double* point) const {
  double sum = 0.0;
  for (int m = 0; m < sp_->size(); ++m) {
    if (c_[m] == 0.0) continue;
    double t = c_[m];
    const Exps& e = sp_->exps(m);
    for (int v = 0; v < sp_->vars(); ++v)
      for (int k = 0; k < e[v]; ++k) t *= point[v];
    sum += t;
  }
  return sum;
}

Poly& Poly::truncate(int d) {
  for (int m = sp_->upTo(d); m < sp_->size(); ++m) c_[m] = 0.0;
  return *this;
}

double Poly::norm() const {
  double n = 0.0;
  for (double v : c_) n = std::max(n, std::fabs(v));
  return n;
}

Poly& Poly::operator+=(const Poly& o) {
  for (size_t m = 0; m < c_.size(); ++m) c_[m] += o.c_[m];
  return *this;
}

Poly& Poly::operator-=(const Poly& o) {
  for (size_t m = 0; m < c_.size(); ++m) c_[m] -= o.c_[m];
  return *this;
}

Poly& Poly::operator*=(double v) {
  for (double& c : c_) c *= v;
  return *this;
}

Poly& Poly::axpy(double v, const Poly& a) {
  for (size_t m = 0; m < c_.size(); ++m) c_[m] += v * a.c_[m];
  return *this;
}

Poly& Poly::addProduct(const Poly& a, const Poly& b) {
  const Space& sp = *sp_;
  const int order = sp.order();
  // Most maps are sparse (symmetries leave whole families at zero).
  for (int i = 0; i < sp.size(); ++i) {
    const double ai = a.c_[i];
    if (ai == 0.0) continue;
    const int nj = sp.upTo(order - sp.degree(i));
    for (int j = 0; j < nj; ++j) {
      const double bj = b.c_[j];
      if (bj != 0.0) c_[sp.product(i, j)] += ai * bj;
    }
  }
  return *this;
}

Poly operator+(Poly a, const Poly& b) { return a += b; }
Poly operator-(Poly a, const Poly& b) { return a -= b; }
Poly operator-(Poly a) { return a *= -1.0; }
Poly operator*(const Poly& a, const Poly& b) {
  Poly r(a.space());
  return r.addProduct(a, b);
}
Poly operator*(Poly a, double v) { return a *= v; }
Poly operator*(double v, Poly a) { return a *= v; }
Poly operator+(Poly a, double v) { return a += v; }
Poly operator-(Poly a, double v) { return a -= v; }
Poly operator+(double v, Poly a) { return a += v; }
Poly operator-(double v, Poly a) {
  a *= -1.0;
  return a += v;
}

Poly series(const Poly& a, const std::vector<double>& derivs) {
  const int n = a.space().order();
  Poly bar = a;
  bar[0] = 0.0;
  // Horner in the nilpotent part: sum f^(k)(a0)/k! bar^k.
  std::vector<double> t(n + 1, 0.0);
  double fact = 1.0;
  for (int k = 0; k <= n; ++k) {
    if (k > 0) fact *= k;
    t[k] = k < static_cast<int>(derivs.size()) ? derivs[k] / fact : 0.0;
  }
  Poly r(a.space(), t[n]);
  for (int k = n - 1; k >= 0; --k) {
    r = r * bar;
    r += t[k];
  }
  return r;
}

Poly recip(const Poly& a) {
  const double a0 = a.constant();
  const int n = a.space().order();
  std::vector<double> d(n + 1);
  double f = 1.0 / a0;
  for (int k = 0; k <= n; ++k) {
    d[k] = f;
    f *= -(k + 1) / a0;
  }
  return series(a, d);
}

Poly sqrt(const Poly& a) {
  const double a0 = a.constant();
  const int n = a.space().order();
  std::vector<double> d(n + 1);
  double f = std::sqrt(a0);
  for (int k = 0; k <= n; ++k) {
    d[k] = f;
    f *= (0.5 - k) / a0;
  }
  return series(a, d);
}

Poly pow(const Poly& a, int n) {
  Poly r(a.space(), 1.0);
  for (int k = 0; k < n; ++k) r = r * a;
  return r;
}

Poly compose(const Poly& a, const std::vector<Poly>& b) {
  const Space& sa = a.space();
  const Space& sb = b.at(0).space();
  const int nv = sa.vars();
  // Powers of each substituted series up to the order of a.
  std::vector<std::vector<Poly>> pw(nv);
  for (int v = 0; v < nv; ++v) {
    pw[v].push_back(Poly(sb, 1.0));
    for (int k = 1; k <= sa.order(); ++k) pw[v].push_back(pw[v].back() * b.at(v));
  }
  Poly r(sb);
  for (int m = 0; m < sa.size(); ++m) {
    if (a[m] == 0.0) continue;
    const Exps& e = sa.exps(m);
    Poly t(sb, a[m]);
    for (int v = 0; v < nv; ++v)
      if (e[v] > 0) t = t * pw[v][e[v]];
    r += t;
  }
  return r;
}

}  // namespace tavo::da
