// The derivative-free minimiser: cyclic one-variable searches with growing
// strides and parabolic interpolation, giant steps along the direction of
// recent progress with a search for oscillation, and step reduction by a
// fixed ratio until every step is below its minimum.
#include <algorithm>
#include <cmath>
#include <limits>

#include "gxlib/fortran/fortio.h"
#include "tavo/design/design.h"

namespace tavo {

namespace {

constexpr double kRatio = 10.0;
constexpr double kAck = 2.0;
constexpr double kColin = static_cast<double>(0.99f);
constexpr int kNcomp = 5;
constexpr int kDepth = 15;                       // giant-step records kept
constexpr double kPrec = 2.0e8;                  // a step below x/2e8 is lost in x
constexpr double kBound = static_cast<double>(1.0e20f);
constexpr double kStepFraction = static_cast<double>(0.01f);
constexpr double kCompCap = 0.999;
constexpr double kGuard = static_cast<double>(1.0e30f);

struct Run {
  Tavo& s;
  const Objective& fn;
  int nv = 0;
  int evals = 0;
  // Per variable, 1..nv.
  double step[21]{}, disp[21]{}, cnt[21]{}, cntPrev[21]{}, fPrevTreat[21]{};
  bool settled[21]{};
  // Giant-step records 1..15: point, value (directions live in the storage).
  double recX[kDepth + 1][21]{};
  double recF[kDepth + 1]{};
  int ng = 0;
  int nact = 0;
  int lastVaried = 0;
  double fbest = 0.0;
  double compar = 0.0;

  Run(Tavo& st, const Objective& f) : s(st), fn(f) {}

  double& X(int j) { return s.blk1.x[j]; }
  bool varied(int j) const { return s.blk1.mask[j] == 0; }
  bool inside(int j, double v) const { return v <= s.blk1.xmax[j] && v >= s.blk1.xmin[j]; }
  double clamp(int j, double v) const {
    v = std::min(v, s.blk1.xmax[j]);
    return std::max(v, s.blk1.xmin[j]);
  }
  double& dir(int i, int k) { return s.blk1.dirs[i][k]; }

  // One objective call at the current X. A value that is not a number is
  // taken as worse than any other, so the search never follows it.
  double eval() {
    ++evals;
    gx::gxpoll(s.gx);  // Ctrl-C cancels the fit: the loop restores the fields
    fn(s);
    double v = s.blk2.chisq;
    if (std::isnan(v)) v = std::numeric_limits<double>::infinity();
    return v;
  }

  void initialise() {
    auto& b = s.blk1;
    for (int pass = 0; pass < 2; ++pass) {
      nact = 0;
      for (int j = 1; j <= nv; ++j) {
        if (!varied(j)) continue;
        if (std::fabs(b.deltx[j]) * kPrec <= std::fabs(b.x[j]))
          b.deltx[j] = b.x[j] == 0.0 ? kStepFraction : kStepFraction * b.x[j];
        if (b.delmin[j] == 0.0) b.delmin[j] = b.deltx[j] / kPrec;
        if (b.xmax[j] - b.xmin[j] <= 0.0) {
          b.xmax[j] = kBound;
          b.xmin[j] = -kBound;
        }
        ++nact;
        b.x[j] = clamp(j, b.x[j]);
      }
      if (nact > 0) break;
      for (int j = 1; j <= nv; ++j) b.mask[j] = 0;
    }
    lastVaried = 0;
    for (int j = 1; j <= nv; ++j)
      if (varied(j)) lastVaried = j;
    if (nact <= 1) {
      compar = 0.0;
    } else {
      const double n = nact;
      const double q = 2.0 / (n - 1.0);
      const double a = 2.0 * ((1.0 / std::sqrt(n)) / (1.0 - std::pow(0.5, q)) - 1.0);
      compar = std::min(kCompCap,
                        std::fabs(((1.0 - kColin) * a + 1.0) * (1.0 - std::pow(1.0 - kColin, q))));
    }
    fbest = eval();
    for (int j = 1; j <= nv; ++j) {
      step[j] = b.deltx[j];
      cnt[j] = 0.0;
      fPrevTreat[j] = fbest;
      for (int k = 1; k <= nv; ++k) dir(j, k) = 0.0;
    }
    ng = 0;
  }

  // One-variable search of variable j. Returns true when it failed.
  bool treat(int j) {
    const double x0 = X(j);
    settled[j] = false;
    if (std::fabs(step[j]) * kPrec <= std::fabs(x0)) {
      settled[j] = true;
      X(j) = x0;
      return true;
    }
    int state;
    double fplus = 0.0, fminus = 0.0, last = 0.0;
    bool stride = false;
    X(j) = x0 + step[j];
    if (!inside(j, X(j))) {
      state = 4;
    } else {
      fplus = eval();
      if (fplus < fbest) {
        stride = true;
        last = fplus;
      }
      state = fplus == fbest ? 2 : 1;
    }
    if (!stride) {
      X(j) = x0 - step[j];
      if (!inside(j, X(j))) {
        X(j) = x0;
        return true;
      }
      fminus = eval();
      if (fminus < fbest) {
        step[j] = -step[j];
        stride = true;
        last = fminus;
      } else if (fminus == fbest) {
        ++state;
      }
    }
    if (!stride) return interpolate(j, x0, state, fplus, fminus);
    return strideSearch(j, last);
  }

  // No stride from x0: the parabola through x0 - step, x0 and x0 + step
  // (values fminus, fbest, fplus), unless either side was out of bounds
  // (state 4) or the objective is flat both ways (state 3). Always a
  // failure of the search.
  bool interpolate(int j, double x0, int state, double fplus, double fminus) {
    if (state >= 4) {
      X(j) = x0;
      return true;
    }
    if (state == 3) {
      settled[j] = true;
      X(j) = x0;
      return true;
    }
    const double den = fplus - 2.0 * fbest + fminus;
    const double dd = (fminus - fplus) * step[j] * 0.5 / den;
    if (den * (fminus - fplus) == 0.0 || !std::isfinite(dd)) {
      X(j) = x0;
      return true;
    }
    disp[j] = dd;
    cnt[j] = dd / std::fabs(step[j]);
    X(j) = x0 + dd;
    const double f = eval();
    if (f < fbest) {
      fbest = f;
    } else {
      disp[j] = cnt[j] = 0.0;
      X(j) = x0;
    }
    return true;
  }

  // Stride search: doubling steps while the objective falls (last is the
  // value after the first step), then the parabola through the last three
  // points. A success of the search.
  bool strideSearch(int j, double last) {
    nfail = 0;
    double t = step[j];
    double fprev = fbest;
    double x0 = X(j);
    for (;;) {
      fprev = fbest;
      fbest = last;
      cnt[j] += t / std::fabs(step[j]);
      disp[j] += t;
      t = kAck * t;
      x0 = X(j);
      X(j) = x0 + t;
      if (!inside(j, X(j))) {
        X(j) = x0;
        return false;
      }
      last = eval();
      if (!(last < fbest)) break;
    }
    // Parabola through x0 - t/ACK, x0 and x0 + t.
    const double f = last;
    const double den = kAck * fprev - fbest * (kAck + 1.0) + f;
    const double c = den == 0.0
                         ? kGuard
                         : ((kAck * kAck * fprev - fbest * (kAck * kAck - 1.0) - f) * (0.5 / kAck)) / den;
    if (!std::isfinite(c) || !std::isfinite(x0 + c * t)) {
      X(j) = x0;
      return false;
    }
    X(j) = x0 + c * t;
    const double fp = eval();
    if (fp < fbest) {
      fbest = fp;
      disp[j] += c * t;
      cnt[j] += c * t / std::fabs(step[j]);
    } else {
      X(j) = x0;
    }
    return false;
  }

  int nfail = 0;

  double dotRec(int k1, int k2) {
    double sum = 0.0;
    for (int i = 1; i <= nv; ++i) sum += dir(i, k1) * dir(i, k2);
    return sum;
  }

  // The parabola through the line search's last three points: a success
  // when it improves on the best value.
  bool finishLine(const double* d, double fprev, double f, const double* xs) {
    const double den = kAck * fprev - fbest * (kAck + 1.0) + f;
    const double t = ((kAck * kAck * fprev - fbest * (kAck * kAck - 1.0) - f) * (0.5 / kAck)) / den;
    if (!std::isfinite(t)) return false;
    for (int i = 1; i <= nv; ++i)
      if (varied(i)) X(i) = clamp(i, xs[i] + t * d[i]);
    const double v = eval();
    if (v < fbest) {
      fbest = v;
      return true;
    }
    return false;
  }

  // Records the point, the value and the direction of the latest progress
  // (the counts of the pass over their norm), the oldest record dropped
  // when all are taken.
  void recordProgress(double vnorm) {
    ++ng;
    if (ng > kDepth) {
      ng = kDepth;
      for (int k = 1; k < kDepth; ++k) {
        for (int i = 1; i <= nv; ++i) {
          recX[k][i] = recX[k + 1][i];
          dir(i, k) = dir(i, k + 1);
        }
        recF[k] = recF[k + 1];
      }
    }
    for (int i = 1; i <= nv; ++i) {
      recX[ng][i] = X(i);
      dir(i, ng) = cnt[i] / vnorm;
    }
    recF[ng] = fbest;
  }

  // The search for oscillation: the first record from k0 on whose
  // direction agrees better with the latest than the one before it. Then d
  // becomes the way from that record here (dprime keeps the old d), fprev
  // the value a step back along it, k0 the record after it. r receives the
  // records left to look at.
  bool oscillation(int& k0, int& r, double* d, double* dprime, double& fprev) {
    const double c = dotRec(ng - 1, ng);
    r = 0;
    for (int k = k0; k <= ng - 2; ++k) {
      r = (ng - 2) - k;
      if (dotRec(k, ng) > c) {
        k0 = k + 1;
        for (int i = 1; i <= nv; ++i) {
          dprime[i] = d[i];
          d[i] = (X(i) - recX[k][i]) / kAck;
        }
        fprev = fbest + (recF[k] - fbest) / kAck;
        return true;
      }
    }
    r = 0;
    return false;
  }

  // Steps along d, d growing kAck times each step, while the objective
  // falls. xs receives the point before the last step, f the last value,
  // fprev the best before the last success; returns the successes.
  int lineSearch(double* d, double* xs, double& fprev, double& f) {
    int g = 0;
    for (;;) {
      for (int i = 1; i <= nv; ++i) xs[i] = X(i);
      for (int i = 1; i <= nv; ++i) d[i] *= kAck;
      for (int i = 1; i <= nv; ++i)
        if (varied(i)) X(i) = clamp(i, xs[i] + d[i]);
      f = eval();
      if (!(f < fbest)) return g;
      fprev = fbest;
      fbest = f;
      ++g;
    }
  }

  // Giant step at variable j. Returns true when a new cycle is to start.
  bool giant(int j, double vnorm) {
    recordProgress(vnorm);
    int k0 = 1;
    bool flag = false;
    int r = 0;
    double d[21], dprime[21], xs[21];
    for (int i = 1; i <= nv; ++i) d[i] = dprime[i] = disp[i];
    bool oscSearch = ng >= 3;
    for (;;) {
      double fprev = fPrevTreat[j];
      flag = false;
      if (oscSearch) flag = oscillation(k0, r, d, dprime, fprev);
      // Line search (its parabola only when it is the last chance or it
      // made progress).
      double f = 0.0;
      const int g = lineSearch(d, xs, fprev, f);
      bool success = false;
      if (r == 0 || g > 0) success = finishLine(d, fprev, f, xs);
      if (!success) {
        for (int i = 1; i <= nv; ++i) X(i) = xs[i];
        if (flag && g == 0) {
          for (int i = 1; i <= nv; ++i) d[i] = dprime[i];
        } else {
          for (int i = 1; i <= nv; ++i) d[i] /= kAck;
        }
      }
      if (success || g > 0) {
        if (flag) ng = 0;
        return true;
      }
      if (r > 0) {
        oscSearch = true;      // resume the search for oscillation at k0
        continue;
      }
      if (!flag) {
        ng = std::max(ng - 1, 0);
        return false;
      }
      oscSearch = false;       // a plain giant step along d
    }
  }

  void go() {
    const int nvTotal = s.blk1.nv;
    nv = std::clamp(nvTotal, 0, 20);
    initialise();
    for (;;) {
      // A cycle of passes.
      int p = 0;
      nfail = 0;
      bool newCycle = false;
      bool finished = false;
      while (!newCycle && !finished) {
        for (int j = 1; j <= nv; ++j) {
          cntPrev[j] = cnt[j];
          cnt[j] = 0.0;
          disp[j] = 0.0;
          if (!varied(j)) {
            settled[j] = true;
            continue;
          }
          const bool failed = treat(j);
          if (failed && ++nfail >= nact) {
            // Reduction of every step.
            ng = 0;
            bool converged = true;
            for (int i = 1; i <= nv; ++i)
              if (varied(i) && !settled[i] && std::fabs(step[i]) > std::fabs(s.blk1.delmin[i]))
                converged = false;
            for (int i = 1; i <= nv; ++i) step[i] /= kRatio;
            if (converged) finished = true;
            else newCycle = true;
            break;
          }
          if (p >= 1) {
            if (std::fabs(cnt[j]) >= kAck) {
              step[j] = kAck * std::fabs(step[j]);
              cnt[j] /= kAck;
              cntPrev[j] /= kAck;
              for (int k = 1; k <= kDepth; ++k) dir(j, k) /= kAck;
            }
            double pp = 0.0, vv = 0.0, dot = 0.0;
            for (int i = 1; i <= nv; ++i) {
              pp += cntPrev[i] * cntPrev[i];
              vv += cnt[i] * cnt[i];
              dot += cnt[i] * cntPrev[i];
            }
            if (pp * vv > 0.0) {
              const double cosine = dot / (std::sqrt(vv) * std::sqrt(pp));
              const bool last = j == lastVaried;
              const bool take = (p == 1 && last && cosine >= compar) ||
                                (p >= 2 && ((last && p >= kNcomp) || cosine >= compar));
              if (take && giant(j, std::sqrt(vv))) {
                newCycle = true;
                break;
              }
            }
          }
          fPrevTreat[j] = fbest;
        }
        if (!newCycle && !finished) ++p;
      }
      if (finished) break;
    }
    s.blk2.chisq = fbest;
    eval();
  }
};

}  // namespace

void setup(Tavo& s, double precision) {
  auto& b = s.blk1;
  const int nv = std::clamp(b.nv, 0, 20);
  for (int i = 1; i <= nv; ++i) {
    b.mask[i] = 0;
    b.xmax[i] = b.xmin[i] = 0.0;
    b.deltx[i] = 0.0;
    b.delmin[i] = precision;
    for (int k = 1; k <= 20; ++k) b.dirs[i][k] = 0.0;
  }
  b.ntrac = -1;
  b.matrx = 0;
  s.mon.ncall = 0;
}

int stepit(Tavo& s, const Objective& objective) {
  s.gx.io.write(s.inout.term, " Call to STEPIT: NV=" + gx::fI(s.blk1.nv, 12));
  Run run(s, objective);
  if (s.blk1.nv < 1) {
    // Nothing to vary: the objective is still evaluated at the point.
    objective(s);
    return 1;
  }
  run.go();
  return run.evals;
}

}  // namespace tavo
