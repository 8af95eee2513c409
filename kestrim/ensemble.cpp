// Ensemble spots: the manifest, the spot measures, the summary files and
// their merging, the order statistics and the sensitivity ranking.
#include "kestrim/ensemble.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace kestrim {

namespace {

std::string num17(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v + 0.0);
  return b;
}

bool toDouble(const std::string& w, double& v) {
  char* end = nullptr;
  v = std::strtod(w.c_str(), &end);
  return end != w.c_str() && *end == '\0';
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string t; in >> t;) w.push_back(t);
  return w;
}

// Full width at half maximum of a profile: a histogram of 200 bins over
// +-4 rms about the centroid, the half-maximum crossings interpolated.
double profileFwhm(const double* v, size_t n, double c, double rms, std::vector<double>& bins) {
  if (n == 0 || !(rms > 0.0)) return 0.0;
  constexpr int kBins = 200;
  const double lo = c - 4.0 * rms, w = 8.0 * rms / kBins;
  bins.assign(kBins, 0.0);
  for (size_t i = 0; i < n; ++i) {
    const double f = (v[i] - lo) / w;
    if (f >= 0.0 && f < kBins) bins[static_cast<size_t>(f)] += 1.0;
  }
  const size_t peak = static_cast<size_t>(std::max_element(bins.begin(), bins.end()) - bins.begin());
  const double half = bins[peak] / 2.0;
  size_t a = peak, b = peak;
  while (a > 0 && bins[a - 1] > half) --a;
  while (b + 1 < kBins && bins[b + 1] > half) ++b;
  // Linear crossing between the last bin above half and the next one.
  double left = lo + (a + 0.5) * w, right = lo + (b + 0.5) * w;
  if (a > 0) left -= w * (bins[a] - half) / (bins[a] - bins[a - 1]);
  if (b + 1 < kBins) right += w * (bins[b] - half) / (bins[b] - bins[b + 1]);
  return right - left;
}

// Two measurements of one variant agree to the bit.
bool sameSpot(const Spot& a, const Spot& b) {
  if (a.cx != b.cx || a.cy != b.cy || a.rms != b.rms || a.fwhm != b.fwhm || a.d50 != b.d50 ||
      a.d90 != b.d90)
    return false;
  for (int k = 0; k < kCurvePoints; ++k)
    if (a.curve[k] != b.curve[k]) return false;
  return true;
}

}  // namespace

bool readManifest(const std::string& folder, Manifest& m, std::string& why) {
  const std::string name = folder + "/manifest.txt";
  std::ifstream f(name);
  if (!f) {
    why = "Unable to open " + name;
    return false;
  }
  m = Manifest{};
  std::vector<std::string> header;
  std::vector<int> errorColumn;
  int col[7] = {-1, -1, -1, -1, -1, -1, -1};   // variant file refocused x0 th0 y0 ph0
  const char* fixed[7] = {"variant", "file", "refocused", "x0", "th0", "y0", "ph0"};
  int line = 0;
  for (std::string l; std::getline(f, l);) {
    ++line;
    if (l.empty() || l[0] == '#') continue;
    const std::vector<std::string> w = words(l);
    if (header.empty()) {
      header = w;
      for (size_t k = 0; k < w.size(); ++k) {
        for (int c = 0; c < 7; ++c)
          if (w[k] == fixed[c]) col[c] = static_cast<int>(k);
        const bool angle = w[k].rfind("sang.", 0) == 0 || w[k].rfind("oang.", 0) == 0;
        const bool error = w[k].find('.') != std::string::npos && w[k].rfind("field.", 0) != 0;
        if (error && !angle) {
          errorColumn.push_back(static_cast<int>(k));
          m.errorNames.push_back(w[k]);
        }
      }
      for (int c = 0; c < 7; ++c)
        if (c != 2 && col[c] < 0) {
          why = name + " has no column " + fixed[c] + ".";
          return false;
        }
      continue;
    }
    if (w.size() != header.size()) {
      why = name + " line " + std::to_string(line) + ": " + std::to_string(w.size()) +
            " fields where the header has " + std::to_string(header.size()) + ".";
      return false;
    }
    EnsembleVariant v;
    double idx = 0;
    bool ok = toDouble(w[col[0]], idx) && idx >= 0 && idx == std::floor(idx) && idx < 1e7;
    v.index = static_cast<int>(idx);
    v.file = w[col[1]];
    for (int c = 0; c < 4; ++c) ok = ok && toDouble(w[col[3 + c]], v.offset[c]) && std::isfinite(v.offset[c]);
    for (int k : errorColumn) {
      double e = 0;
      ok = ok && toDouble(w[k], e) && std::isfinite(e);
      v.errors.push_back(e);
    }
    if (!ok || v.file.find('/') != std::string::npos ||
        v.index != static_cast<int>(m.variants.size())) {
      why = name + " line " + std::to_string(line) + " cannot be read.";
      return false;
    }
    m.variants.push_back(v);
  }
  if (m.variants.empty()) {
    why = name + " lists no variants.";
    return false;
  }
  return true;
}

Spot measureSpot(const double* X, const double* Y, size_t n, std::vector<double>& scratch) {
  Spot s;
  if (n == 0) return s;
  double sx = 0, sy = 0;
  for (size_t i = 0; i < n; ++i) {
    sx += X[i];
    sy += Y[i];
  }
  s.cx = sx / n;
  s.cy = sy / n;
  scratch.resize(n);
  double s2 = 0;
  for (size_t i = 0; i < n; ++i) {
    const double dx = X[i] - s.cx, dy = Y[i] - s.cy;
    scratch[i] = dx * dx + dy * dy;
    s2 += scratch[i];
  }
  s.rms = std::sqrt(s2 / n);
  // Encircled diameters: the ranks selected by halving, the middle rank
  // first and then each side in what lies on that side (about log2 of the
  // number of ranks passes over the rays instead of one pass a rank).
  size_t rank[kCurvePoints];
  for (int k = 0; k < kCurvePoints; ++k) {
    const double f = (k + 1) / static_cast<double>(kCurvePoints);
    const size_t r = static_cast<size_t>(std::ceil(f * n - 1e-9));
    rank[k] = std::clamp<size_t>(r, 1, n) - 1;
  }
  auto select = [&](auto&& self, size_t lo, size_t hi, int a, int b) -> void {
    if (a > b) return;
    const int mid = (a + b) / 2;
    const size_t at = rank[mid];
    if (at >= lo && at < hi) std::nth_element(scratch.begin() + lo, scratch.begin() + at, scratch.begin() + hi);
    self(self, lo, at, a, mid - 1);
    self(self, at + 1, hi, mid + 1, b);
  };
  select(select, 0, n, 0, kCurvePoints - 1);
  for (int k = 0; k < kCurvePoints; ++k) s.curve[k] = 2.0 * std::sqrt(scratch[rank[k]]);
  s.d50 = s.curve[9];
  // 90 %: the eighteenth point of the curve.
  s.d90 = s.curve[17];
  std::vector<double> bins;
  s.fwhm = 0.5 * (profileFwhm(X, n, s.cx, s.rms, bins) + profileFwhm(Y, n, s.cy, s.rms, bins));
  return s;
}

std::string summaryText(const Summary& s, const std::vector<std::string>& statistics) {
  std::ostringstream o;
  o << "# KESTRIM ensemble spots\n";
  o << "# folder " << s.folder << "\n";
  o << "# rays " << s.rays << "\n";
  o << "# plane " << num17(s.z) << "\n";
  o << "# variants " << s.total << "\n";
  o << "# source " << s.source << "\n";
  o << "# lengths in metres; diameters about the centroid; e05..e100 the diameter holding that"
       " percentage of the rays\n";
  o << "variant cx cy rms fwhm d50 d90";
  for (int k = 1; k <= kCurvePoints; ++k) {
    char b[8];
    std::snprintf(b, sizeof b, " e%02d", 5 * k);
    o << b;
  }
  o << "\n";
  for (const Spot& p : s.spots) {
    o << p.variant;
    for (double v : {p.cx, p.cy, p.rms, p.fwhm, p.d50, p.d90}) o << " " << num17(v);
    for (double v : p.curve) o << " " << num17(v);
    o << "\n";
  }
  for (const std::string& l : statistics) o << "# " << l << "\n";
  return o.str();
}

bool readSummary(const std::string& name, Summary& s, std::string& why) {
  std::ifstream f(name);
  if (!f) {
    why = "Unable to open " + name;
    return false;
  }
  s = Summary{};
  bool header = false;
  int settings = 0;
  int line = 0;
  for (std::string l; std::getline(f, l);) {
    ++line;
    if (l.rfind("# ", 0) == 0 && !header) {
      const std::string rest = l.substr(2);
      auto value = [&](const char* key) -> const char* {
        const std::string k = std::string(key) + " ";
        return rest.rfind(k, 0) == 0 ? rest.c_str() + k.size() : nullptr;
      };
      double v = 0;
      const char* p = nullptr;
      if ((p = value("folder"))) {
        s.folder = p;
        ++settings;
      } else if ((p = value("rays"))) {
        s.rays = std::atoll(p);
        ++settings;
      } else if ((p = value("plane"))) {
        if (toDouble(p, v)) ++settings;
        s.z = v;
      } else if ((p = value("variants"))) {
        s.total = std::atoi(p);
        ++settings;
      } else if ((p = value("source"))) {
        s.source = p;
        ++settings;
      }
      continue;
    }
    if (l.empty() || l[0] == '#') continue;
    if (!header) {
      header = true;
      if (l.rfind("variant cx cy rms", 0) != 0) break;
      continue;
    }
    const std::vector<std::string> w = words(l);
    Spot p;
    double idx = 0;
    bool ok = w.size() == 7 + kCurvePoints && toDouble(w[0], idx) && idx >= 0 && idx < 1e7 &&
              idx == std::floor(idx);
    double* fields[6] = {&p.cx, &p.cy, &p.rms, &p.fwhm, &p.d50, &p.d90};
    for (int k = 0; ok && k < 6; ++k) ok = toDouble(w[1 + k], *fields[k]);
    for (int k = 0; ok && k < kCurvePoints; ++k) ok = toDouble(w[7 + k], p.curve[k]);
    if (!ok) {
      why = name + " line " + std::to_string(line) + " cannot be read.";
      return false;
    }
    p.variant = static_cast<int>(idx);
    s.spots.push_back(p);
  }
  if (!header || settings != 5 || s.total < 0 || s.total > 10000000 || s.rays < 1) {
    why = name + " is not an ensemble summary.";
    return false;
  }
  for (const Spot& p : s.spots)
    if (p.variant > s.total) {
      why = name + " lists variant " + std::to_string(p.variant) + " of " + std::to_string(s.total) + ".";
      return false;
    }
  return true;
}

bool mergeSummaries(const std::vector<Summary>& parts, Summary& whole, std::string& why) {
  if (parts.empty()) {
    why = "No summaries to merge.";
    return false;
  }
  whole = parts[0];
  whole.spots.clear();
  std::map<int, Spot> byIndex;
  for (const Summary& p : parts) {
    if (p.folder != whole.folder || p.rays != whole.rays || p.z != whole.z ||
        p.total != whole.total || p.source != whole.source) {
      why = "The slices were not made from the same ensemble, rays and plane.";
      return false;
    }
    for (const Spot& sp : p.spots) {
      auto [it, fresh] = byIndex.emplace(sp.variant, sp);
      if (!fresh && !sameSpot(it->second, sp)) {
        why = "Variant " + std::to_string(sp.variant) + " differs between the slices.";
        return false;
      }
    }
  }
  for (auto& [i, sp] : byIndex) whole.spots.push_back(sp);
  return true;
}

Percentiles percentiles(std::vector<double> v) {
  Percentiles p;
  if (v.empty()) return p;
  std::sort(v.begin(), v.end());
  auto rank = [&](double q) {
    size_t r = static_cast<size_t>(std::ceil(q * v.size() - 1e-9));
    return v[std::clamp<size_t>(r, 1, v.size()) - 1];
  };
  p.median = rank(0.5);
  p.p90 = rank(0.9);
  return p;
}

size_t variantAtRank(const Summary& s, double p) {
  std::vector<size_t> idx;
  for (size_t i = 0; i < s.spots.size(); ++i)
    if (s.spots[i].variant > 0) idx.push_back(i);
  if (idx.empty()) return 0;
  std::stable_sort(idx.begin(), idx.end(),
                   [&](size_t a, size_t b) { return s.spots[a].rms < s.spots[b].rms; });
  size_t r = static_cast<size_t>(std::ceil(p / 100.0 * idx.size() - 1e-9));
  return idx[std::clamp<size_t>(r, 1, idx.size()) - 1];
}

void rankSensitivity(const Summary& s, const Manifest& m, std::vector<Sensitivity>& terms,
                     std::vector<Sensitivity>& kinds, std::vector<Sensitivity>& lenses) {
  terms.clear();
  kinds.clear();
  lenses.clear();
  double nominal = -1.0;
  std::vector<double> growth;
  std::vector<const EnsembleVariant*> drawn;
  for (const Spot& sp : s.spots) {
    if (sp.variant == 0) nominal = sp.rms;
    if (sp.variant <= 0 || sp.variant >= static_cast<int>(m.variants.size())) continue;
    growth.push_back(sp.rms * sp.rms);
    drawn.push_back(&m.variants[sp.variant]);
  }
  const size_t n = growth.size();
  if (n < 3 || nominal < 0.0) return;
  for (double& g : growth) g -= nominal * nominal;
  double gm = 0;
  for (double g : growth) gm += g;
  gm /= n;
  std::map<std::string, double> byKind, byLens;
  for (size_t c = 0; c < m.errorNames.size(); ++c) {
    double um = 0;
    for (size_t i = 0; i < n; ++i) um += drawn[i]->errors[c] * drawn[i]->errors[c];
    um /= n;
    double cov = 0, var = 0;
    for (size_t i = 0; i < n; ++i) {
      const double u = drawn[i]->errors[c] * drawn[i]->errors[c] - um;
      cov += u * (growth[i] - gm);
      var += u * u;
    }
    if (!(var > 0.0)) continue;
    const double share = cov / var * um;
    const std::string& name = m.errorNames[c];
    terms.push_back({name, share});
    const size_t dot = name.find('.');
    byKind[name.substr(0, dot)] += share;
    const std::string lens =
        name.rfind("psu.", 0) == 0 ? "supply " + name.substr(dot + 1) : "row " + name.substr(dot + 1);
    byLens[lens] += share;
  }
  for (auto& [k, v] : byKind) kinds.push_back({k, v});
  for (auto& [k, v] : byLens) lenses.push_back({k, v});
  auto order = [](std::vector<Sensitivity>& v) {
    std::stable_sort(v.begin(), v.end(),
                     [](const Sensitivity& a, const Sensitivity& b) { return a.share > b.share; });
  };
  order(terms);
  order(kinds);
  order(lenses);
}

std::vector<std::string> statisticsLines(const Summary& s, const Manifest* m) {
  std::vector<std::string> out;
  const Spot* nominal = nullptr;
  for (const Spot& sp : s.spots)
    if (sp.variant == 0) nominal = &sp;
  std::vector<double> shift, rms, fwhm, d50, d90;
  for (const Spot& sp : s.spots) {
    if (sp.variant <= 0) continue;
    shift.push_back(nominal ? std::hypot(sp.cx - nominal->cx, sp.cy - nominal->cy) : 0.0);
    rms.push_back(sp.rms);
    fwhm.push_back(sp.fwhm);
    d50.push_back(sp.d50);
    d90.push_back(sp.d90);
  }
  char b[200];
  std::snprintf(b, sizeof b, "Spots of %zu variants of %d (micron)       nominal       median  90th percentile",
                rms.size(), s.total);
  out.push_back(b);
  auto row = [&](const char* name, const std::vector<double>& v, double nom) {
    const Percentiles p = percentiles(v);
    std::snprintf(b, sizeof b, "%-32s %12.5g %12.5g %12.5g", name, nom * 1e6, p.median * 1e6, p.p90 * 1e6);
    out.push_back(b);
  };
  row("centroid shift", shift, 0.0);
  row("rms size", rms, nominal ? nominal->rms : 0.0);
  row("FWHM", fwhm, nominal ? nominal->fwhm : 0.0);
  row("diameter of 50 % of the current", d50, nominal ? nominal->d50 : 0.0);
  row("diameter of 90 % of the current", d90, nominal ? nominal->d90 : 0.0);
  if (m == nullptr) return out;
  std::vector<Sensitivity> terms, kinds, lenses;
  rankSensitivity(s, *m, terms, kinds, lenses);
  if (terms.empty()) {
    out.push_back("Too few variants (or no errors) for a sensitivity ranking.");
    return out;
  }
  double total = 0;
  for (const auto& t : terms) total += std::max(t.share, 0.0);
  auto list = [&](const char* title, const std::vector<Sensitivity>& v, size_t most) {
    out.push_back(title);
    for (size_t i = 0; i < v.size() && i < most; ++i) {
      std::snprintf(b, sizeof b, "  %-12s %12.5g um^2 %7.1f %%", v[i].name.c_str(), v[i].share * 1e12,
                    total > 0 ? 100.0 * std::max(v[i].share, 0.0) / total : 0.0);
      out.push_back(b);
    }
  };
  list("Sensitivity: growth of the mean square spot size by error kind", kinds, 20);
  list("by lens", lenses, 20);
  list("by error", terms, 10);
  return out;
}

}  // namespace kestrim
