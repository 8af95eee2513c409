// ENSEMB: one ray set mapped through every variant of a tolerance ensemble
// (or a slice of it), the spots summarised and ranked, and ENSEMB/M, which
// joins the summaries of slices run apart into the whole run's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/fortran/tmpfile.h"
#include "gxlib/math/prng.h"
#include "gxlib/plot/plot.h"
#include "kestrim/ensemble.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr float kText = 0.75f;
constexpr size_t kBlock = 1 << 16;   // rays mapped by one task

void say(Kestrim& k, const std::string& t) { kqsay(k, t); }

// Values asked with the prompted update; false when the input ended.
bool askValues(Kestrim& k, const std::string& prompt, double& a, double& b) {
  return gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro, prompt, a, b) == gx::Reply::Ok;
}

// What SYNTH takes from a coefficient file besides the polynomial.
struct Geometry {
  cofobap obap;       // object and aperture half-widths and centres
  cofdis dis;         // object-to-aperture distance and lengths
  char shape = 'C';   // collimator shape
};

// A coefficient file read into a polynomial, through the store's own reader
// in a session of its own (its messages go nowhere).
bool loadPoly(const std::string& file, RayPoly& p, Geometry* store, std::string& why) {
  std::istringstream in;
  std::ostringstream out;
  Kestrim scratch(in, out);
  std::string name = file;
  if (!std::filesystem::is_regular_file(file)) {
    why = file + " does not exist.";
    return false;
  }
  if (cofin(scratch, name) != 0) {
    why = "Error reading data from file " + file;
    return false;
  }
  p = rayPoly(scratch);
  if (store != nullptr) {
    store->obap = scratch.obap;
    store->dis = scratch.dis;
    store->shape = scratch.cofshape;
  }
  return true;
}

// Writes text as name, whole or not at all; an existing file is kept.
bool writeNew(const std::string& name, const std::string& text, std::string& why) {
  gx::TempFile t;
  if (!gx::tempCreate(name, "ens", t)) {
    why = t.error;
    return false;
  }
  {
    std::ofstream f(t.path, std::ios::binary);
    f << text;
    f.close();
    if (!f) {
      gx::tempDiscard(t);
      why = "Unable to write " + name;
      return false;
    }
  }
  if (!gx::tempCommit(t, name, true, 0644)) {
    why = std::filesystem::exists(name) ? name + " already exists." : t.error;
    return false;
  }
  return true;
}

// Object rays as SYNTH's random mode makes them, from the portable
// generator: uniform over the object and over the collimator opening
// (ellipse, or rectangle for a square collimator), a uniform energy spread.
void synthesise(RayArrays& r, long long n, double hx, double hy, double hax, double hay, double d,
                bool square, double de, std::uint64_t seed) {
  gx::Prng g(seed);
  r.resize(static_cast<size_t>(n));
  auto point = [&](double& u, double& v, bool rect) {
    for (;;) {
      u = g.symmetric();
      v = g.symmetric();
      if (rect || u * u + v * v <= 1.0) return;
    }
  };
  for (long long i = 0; i < n; ++i) {
    double ox, oy, ax, ay;
    point(ox, oy, false);
    point(ax, ay, square);
    const double x = ox * hx, y = oy * hy;
    r.x[i] = x;
    r.y[i] = y;
    r.th[i] = d > 0.0 ? (ax * hax - x) / d : 0.0;
    r.ph[i] = d > 0.0 ? (ay * hay - y) / d : 0.0;
    r.de[i] = de * g.symmetric();
  }
}

// The spots of the variants listed, mapped on every core. With more
// variants than threads each thread takes whole variants; otherwise the
// rays of one variant are split into blocks. Either way each spot is
// computed by the same serial code from the same positions.
void spots(const std::vector<RayPoly>& polys, const std::vector<int>& index, const RayArrays& rays,
           double z, int threads, std::vector<Spot>& out) {
  const size_t n = rays.size();
  out.assign(polys.size(), Spot{});
  auto one = [&](size_t v, bool inner) {
    // Each thread keeps its buffers from one variant to the next.
    thread_local std::vector<double> X, Y, scratch;
    X.resize(n);
    Y.resize(n);
    const size_t blocks = (n + kBlock - 1) / kBlock;
    // Pointers, not the names: in a block run by another thread the names
    // would be that thread's own buffers.
    double* px = X.data();
    double* py = Y.data();
    auto block = [&polys, &rays, v, n, z, px, py](size_t b) {
      const size_t from = b * kBlock, len = std::min(kBlock, n - from);
      mapToPlane(polys[v], rays, from, len, z, px + from, py + from);
    };
    parallelFor(blocks, inner ? threads : 1, block);
    out[v] = measureSpot(X.data(), Y.data(), n, scratch);
    out[v].variant = index[v];
  };
  if (polys.size() >= static_cast<size_t>(threads)) {
    parallelFor(polys.size(), threads, [&](size_t v) { one(v, false); });
  } else {
    for (size_t v = 0; v < polys.size(); ++v) one(v, true);
  }
}

// ---- plots -----------------------------------------------------------------

struct Frame {
  float xmin, xmax, ymin, ymax;
};

bool startPlot(Kestrim& k, char dev, const std::string& file, const Frame& f, const std::string& title,
               const std::string& xt, const std::string& yt) {
  gx::Lib& g = k.gx;
  gx::gxscale(g, k.io.in, k.io.out, k.io.macro, dev, file);
  const float mh = 0.12f * (f.xmax - f.xmin), mv = 0.12f * (f.ymax - f.ymin);
  int ierr = 0;
  gx::gxstart(g, k.io.in, k.io.out, k.io.macro, 1.4142135f, dev, f.xmin - mh, f.xmax + 0.05f * mh,
              f.ymin - mv, f.ymax + 0.6f * mv, ierr);
  if (ierr != 0) {
    say(k, "Unable to plot at this time.");
    return false;
  }
  gx::gxbox(g, dev, f.xmin, f.xmax, f.ymin, f.ymax);
  gx::gxmark(g, dev, 5, 5, kText);
  float ux = 0, uy = 0;
  gx::gxunit(g, ux, uy);
  const float tl = gx::gxsymlen(g, kText, title, -1);
  gx::gxsymbol(g, dev, (f.xmin + f.xmax) / 2 - tl / 2, f.ymax + 0.8f * uy, kText, 0.0f, title, -1);
  const float xl = gx::gxsymlen(g, kText, xt, -1);
  gx::gxsymbol(g, dev, (f.xmin + f.xmax) / 2 - xl / 2, f.ymin - 3.5f * uy, kText, 0.0f, xt, -1);
  const float yl = ux != 0 ? gx::gxsymlen(g, kText, yt, -1) / ux * uy : 0.0f;
  gx::gxsymbol(g, dev, f.xmin - 4.5f * ux, (f.ymin + f.ymax) / 2 - yl / 2, kText, 90.0f, yt, -1);
  return true;
}

void endPlot(Kestrim& k, char dev) {
  gx::gxend(k.gx, dev);
  gx::gxquit(k.gx, dev);
}

void line(Kestrim& k, char dev, float x1, float y1, float x2, float y2) {
  gx::gxplot(k.gx, dev, x1, y1, 3);
  gx::gxplot(k.gx, dev, x2, y2, 2);
}

// A marker of the given kind centred on (x, y), half-sizes a and b: a
// square, a triangle, a cross or a diamond.
void marker(Kestrim& k, char dev, int kind, float x, float y, float a, float b) {
  switch (kind % 4) {
    case 0:
      gx::gxplot(k.gx, dev, x - a, y - b, 3);
      gx::gxplot(k.gx, dev, x + a, y - b, 2);
      gx::gxplot(k.gx, dev, x + a, y + b, 2);
      gx::gxplot(k.gx, dev, x - a, y + b, 2);
      gx::gxplot(k.gx, dev, x - a, y - b, 2);
      break;
    case 1:
      gx::gxplot(k.gx, dev, x - a, y - b, 3);
      gx::gxplot(k.gx, dev, x + a, y - b, 2);
      gx::gxplot(k.gx, dev, x, y + b, 2);
      gx::gxplot(k.gx, dev, x - a, y - b, 2);
      break;
    case 2:
      line(k, dev, x - a, y - b, x + a, y + b);
      line(k, dev, x - a, y + b, x + a, y - b);
      break;
    default:
      gx::gxplot(k.gx, dev, x, y - b, 3);
      gx::gxplot(k.gx, dev, x + a, y, 2);
      gx::gxplot(k.gx, dev, x, y + b, 2);
      gx::gxplot(k.gx, dev, x - a, y, 2);
      gx::gxplot(k.gx, dev, x, y - b, 2);
      break;
  }
}

// Histogram of the rms sizes, the nominal size marked by a dashed line.
void plotHistogram(Kestrim& k, char dev, const std::string& file, const Summary& s) {
  std::vector<double> v;
  double nominal = 0;
  for (const Spot& p : s.spots) {
    if (p.variant == 0) nominal = p.rms * 1e6;
    else v.push_back(p.rms * 1e6);
  }
  if (v.empty()) return;
  double lo = std::min(*std::min_element(v.begin(), v.end()), nominal);
  double hi = std::max(*std::max_element(v.begin(), v.end()), nominal);
  if (!(hi > lo)) hi = lo + std::max(1e-6, 0.1 * std::fabs(lo));
  constexpr int kBins = 20;
  const double w = (hi - lo) / kBins;
  std::vector<int> count(kBins, 0);
  for (double x : v) count[std::min(kBins - 1, static_cast<int>((x - lo) / w))] += 1;
  const int top = *std::max_element(count.begin(), count.end());
  const Frame f{static_cast<float>(lo), static_cast<float>(hi), 0.0f, static_cast<float>(1.15 * top + 1)};
  if (!startPlot(k, dev, file, f, "Spot sizes of " + std::to_string(v.size()) + " variants",
                 "rms spot size (micron)", "variants"))
    return;
  for (int b = 0; b < kBins; ++b) {
    const float x0 = static_cast<float>(lo + b * w), x1 = static_cast<float>(lo + (b + 1) * w);
    const float h = static_cast<float>(count[b]);
    gx::gxplot(k.gx, dev, x0, 0.0f, 3);
    gx::gxplot(k.gx, dev, x0, h, 2);
    gx::gxplot(k.gx, dev, x1, h, 2);
    gx::gxplot(k.gx, dev, x1, 0.0f, 2);
  }
  gx::gxline(k.gx, 2);
  line(k, dev, static_cast<float>(nominal), 0.0f, static_cast<float>(nominal), f.ymax);
  gx::gxline(k.gx, 0);
  endPlot(k, dev);
}

// Current against diameter: the nominal system and the variants at the
// 10th, 50th and 90th percentile of rms size.
void plotCurrent(Kestrim& k, char dev, const std::string& file, const Summary& s) {
  std::vector<std::pair<std::string, size_t>> which;
  for (size_t i = 0; i < s.spots.size(); ++i)
    if (s.spots[i].variant == 0) which.push_back({"nominal", i});
  for (double p : {10.0, 50.0, 90.0}) {
    const size_t i = variantAtRank(s, p);
    if (i < s.spots.size() && s.spots[i].variant > 0)
      which.push_back({std::to_string(static_cast<int>(p)) + "th", i});
  }
  if (which.empty()) return;
  float dmax = 0;
  for (auto& w : which) dmax = std::max(dmax, static_cast<float>(s.spots[w.second].curve[kCurvePoints - 1] * 1e6));
  if (!(dmax > 0)) dmax = 1;
  const Frame f{0.0f, dmax, 0.0f, 100.0f};
  if (!startPlot(k, dev, file, f, "Current within a diameter", "diameter (micron)",
                 "current (%)"))
    return;
  float ux = 0, uy = 0;
  gx::gxunit(k.gx, ux, uy);
  int style = 0;
  for (auto& w : which) {
    const Spot& p = s.spots[w.second];
    gx::gxline(k.gx, style);
    gx::gxplot(k.gx, dev, 0.0f, 0.0f, 3);
    for (int j = 0; j < kCurvePoints; ++j)
      gx::gxplot(k.gx, dev, static_cast<float>(p.curve[j] * 1e6), 5.0f * (j + 1), 2);
    for (int j = 0; j < kCurvePoints; ++j)
      marker(k, dev, style, static_cast<float>(p.curve[j] * 1e6), 5.0f * (j + 1), 0.3f * ux, 0.3f * uy);
    const float y = 40.0f - 8.0f * style;
    line(k, dev, 0.62f * dmax, y, 0.70f * dmax, y);
    marker(k, dev, style, 0.66f * dmax, y, 0.3f * ux, 0.3f * uy);
    gx::gxline(k.gx, 0);
    const std::string label = w.first + (p.variant > 0 ? " (variant " + std::to_string(p.variant) + ")" : "");
    gx::gxsymbol(k.gx, dev, 0.72f * dmax, y - 0.3f * uy, kText, 0.0f, label, -1);
    ++style;
  }
  gx::gxline(k.gx, 0);
  endPlot(k, dev);
}

// The ranking as bars: each error kind's share of the mean growth.
void plotRanking(Kestrim& k, char dev, const std::string& file, const std::vector<Sensitivity>& kinds,
                 const std::vector<Sensitivity>& lenses) {
  std::vector<Sensitivity> all = kinds;
  all.insert(all.end(), lenses.begin(), lenses.end());
  if (all.empty()) return;
  float top = 0;
  for (auto& e : all) top = std::max(top, static_cast<float>(e.share * 1e12));
  if (!(top > 0)) top = 1;
  const float rows = static_cast<float>(all.size());
  const Frame f{0.0f, 1.1f * top, 0.0f, rows + 1};
  if (!startPlot(k, dev, file, f, "Spot growth by error kind and by lens",
                 "mean growth of the squared rms size (square micron)", ""))
    return;
  float ux = 0, uy = 0;
  gx::gxunit(k.gx, ux, uy);
  for (size_t i = 0; i < all.size(); ++i) {
    const float y = rows - static_cast<float>(i);
    const float w = std::max(0.0f, static_cast<float>(all[i].share * 1e12));
    gx::gxplot(k.gx, dev, 0.0f, y - 0.3f, 3);
    gx::gxplot(k.gx, dev, w, y - 0.3f, 2);
    gx::gxplot(k.gx, dev, w, y + 0.3f, 2);
    gx::gxplot(k.gx, dev, 0.0f, y + 0.3f, 2);
    gx::gxsymbol(k.gx, dev, w + 0.5f * ux, y - 0.3f * uy, kText, 0.0f, all[i].name, -1);
  }
  endPlot(k, dev);
}

// The statistics shown and written, and the plots, for a whole (or merged)
// summary.
void report(Kestrim& k, const Summary& s, const std::string& sumName, char dev) {
  Manifest m;
  std::string why;
  const bool haveManifest = readManifest(s.folder, m, why);
  if (!haveManifest) say(k, "No sensitivity ranking: " + why);
  const std::vector<std::string> stats = statisticsLines(s, haveManifest ? &m : nullptr);
  say(k, "");
  for (const auto& l : stats) say(k, l);
  say(k, "");
  if (!writeNew(sumName, summaryText(s, stats), why)) {
    say(k, "?ENSEMB- " + why + " No summary written.");
    return;
  }
  say(k, "Summary written to " + sumName);
  if (dev == ' ') return;
  std::string stem = sumName;
  if (const size_t dot = stem.rfind('.'); dot != std::string::npos && dot > stem.rfind('/') + 1)
    stem.erase(dot);
  plotHistogram(k, dev, stem + "_hist", s);
  plotCurrent(k, dev, stem + "_current", s);
  if (haveManifest) {
    std::vector<Sensitivity> terms, kinds, lenses;
    rankSensitivity(s, m, terms, kinds, lenses);
    plotRanking(k, dev, stem + "_rank", kinds, lenses);
  }
}

// The plot device, or blank for none. False when the input ended.
bool askDevice(Kestrim& k, char& dev) {
  std::string reply;
  if (kqask(k, "Plots on Q PostScript, V SVG, H HP-GL, S terminal (CR for none) > ", reply, 40) !=
      gx::Reply::Ok)
    return false;
  const std::string r = kqstrip(reply);
  dev = r.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(r[0])));
  if (dev != ' ' && dev != 'Q' && dev != 'V' && dev != 'H' && dev != 'P' && dev != 'S') {
    say(k, "No plots: unknown device " + r.substr(0, 1) + ".");
    dev = ' ';
  }
  return true;
}

// A summary name that must not exist yet: asked again at the terminal.
bool askSummaryName(Kestrim& k, const std::string& suggested, std::string& name) {
  for (;;) {
    std::string reply;
    if (kqask(k, "Summary file (CR for " + suggested + ") > ", reply, 100) != gx::Reply::Ok)
      return false;
    name = kqstrip(reply);
    if (name.empty()) name = suggested;
    if (!std::filesystem::exists(name)) return true;
    say(k, "?ENSEMB- " + name + " already exists.");
    if (k.io.in != gx::Io::kIn) return false;
  }
}

void merge(Kestrim& k, const std::string& arg) {
  std::vector<Summary> parts;
  for (;;) {
    std::string reply;
    if (kqask(k, "Summary of a slice (CR when all are given) > ", reply, 100) != gx::Reply::Ok)
      return;
    const std::string name = kqstrip(reply);
    if (name.empty()) break;
    Summary s;
    std::string why;
    if (!readSummary(name, s, why)) {
      say(k, "?ENSEMB- " + why);
      continue;
    }
    parts.push_back(s);
  }
  Summary whole;
  std::string why;
  if (!mergeSummaries(parts, whole, why)) {
    say(k, "?ENSEMB- " + why);
    return;
  }
  int missing = 0;
  std::vector<bool> seen(whole.total + 1, false);
  for (const Spot& p : whole.spots)
    if (p.variant <= whole.total) seen[p.variant] = true;
  for (int v = 1; v <= whole.total; ++v) missing += !seen[v];
  if (missing > 0)
    say(k, "The slices hold " + std::to_string(whole.total - missing) + " of the " +
               std::to_string(whole.total) + " variants.");
  std::string sumName = kqstrip(arg);
  if (sumName.empty() && !askSummaryName(k, whole.folder + ".sum", sumName)) return;
  char dev = ' ';
  if (!askDevice(k, dev)) return;
  report(k, whole, sumName, dev);
}

void ensemb(Kestrim& k, const std::string& arg);

}  // namespace

// The folder or summary name is taken whole as typed: slice folders on a
// cluster's scratch space are often longer than the decoded line.
void kqensemb(Kestrim& k, KqLine& c) {
  try {
    if (c.qual == 'M')
      merge(k, c.rawArg);
    else
      ensemb(k, c.rawArg);
  } catch (const std::bad_alloc&) {
    // The rays and the spots live in memory: too many for this machine.
    say(k, "?ENSEMB- Not enough memory for so many rays; nothing written.");
  }
}

namespace {

// The ensemble folder (asked for when not given), its manifest and the
// nominal system with the geometry the rays are synthesised for.
bool openEnsemble(Kestrim& k, const std::string& arg, std::string& folder, Manifest& m,
                  RayPoly& nominal, Geometry& geometry) {
  folder = kqstrip(arg);
  if (folder.empty()) {
    std::string reply;
    if (kqask(k, "Ensemble folder > ", reply, 100) != gx::Reply::Ok) return false;
    folder = kqstrip(reply);
    if (folder.empty()) return false;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string why;
  if (!readManifest(folder, m, why) ||
      !loadPoly(folder + "/" + m.variants[0].file, nominal, &geometry, why)) {
    say(k, "?ENSEMB- " + why);
    return false;
  }
  say(k, "Ensemble " + folder + ": the nominal system and " +
             std::to_string(static_cast<int>(m.variants.size()) - 1) + " variants.");
  return true;
}

// Rays 3 on of the current set: rays 1 and 2 are the paraxial pair. Every
// variant maps the same rays and the encircled diameters sort them, so they
// are held in memory: as many as a synthesised set may have.
constexpr long long kMaxHeldRays = 100000000;
bool raysFromSet(Kestrim& k, RayArrays& rays, std::string& source) {
  if (k.ntot < 3) {
    say(k, "No data!");
    return false;
  }
  if (k.ntot - 2 > kMaxHeldRays) {
    say(k, "?ENSEMB- The set holds " + std::to_string(k.ntot - 2) +
               " beam rays; ENSEMB holds its rays in memory and takes at most 1e8.");
    return false;
  }
  kqeach(k, 3, [&](long long, double x, double th, double y, double ph, double de) {
    rays.x.push_back(x);
    rays.th.push_back(th);
    rays.y.push_back(y);
    rays.ph.push_back(ph);
    rays.de.push_back(de);
  });
  source = "set " + kqstrip(k.rayFile) + " rays 3 to " + std::to_string(k.ntot);
  return true;
}

// A ray set synthesised from a seed over the object and the aperture, so
// that every slice of a run maps the same rays.
bool synthesisedRays(Kestrim& k, const Geometry& geometry, RayArrays& rays, std::string& source) {
  double n = 200000, unused = 0;
  for (;;) {
    if (!askValues(k, "Number of rays > ", n, unused)) return false;
    if (n >= 1 && n <= 1e8 && n == std::floor(n)) break;
    say(k, "?ENSEMB- The number of rays is a whole number from 1 to 1e8.");
    n = 200000;
  }
  double ox = 2e6 * geometry.obap.v[0], oy = 2e6 * geometry.obap.v[1];
  double ax = 2e3 * geometry.obap.v[2], ay = 2e3 * geometry.obap.v[3];
  if (!askValues(k, "Object X and Y diameter (micron) > ", ox, oy)) return false;
  if (!askValues(k, "Aperture X and Y diameter (mm) > ", ax, ay)) return false;
  if (oy < 1e-20) oy = ox;
  if (ay < 1e-20) ay = ax;
  double de = 0, seed = 1;
  if (!askValues(k, "Maximum beam energy half spread (%) > ", de, unused)) return false;
  for (;;) {
    if (!askValues(k, "Seed > ", seed, unused)) return false;
    if (seed >= 0 && seed <= 9007199254740992.0 && seed == std::floor(seed)) break;
    say(k, "?ENSEMB- The seed is a whole number not below 0.");
    seed = 1;
  }
  synthesise(rays, static_cast<long long>(n), std::fabs(ox) * 0.5e-6, std::fabs(oy) * 0.5e-6,
             std::fabs(ax) * 0.5e-3, std::fabs(ay) * 0.5e-3, geometry.dis.objap,
             geometry.shape == 'S', std::fabs(de), static_cast<std::uint64_t>(seed));
  char b[300];
  std::snprintf(b, sizeof b, "synthesised object %.17g %.17g um aperture %.17g %.17g mm de %.17g %% seed %.17g",
                ox, oy, ax, ay, de, seed);
  source = b;
  return true;
}

// The rays at the object, from the current set or synthesised.
bool askRays(Kestrim& k, const Geometry& geometry, RayArrays& rays, std::string& source) {
  std::string reply;
  if (kqask(k, "Rays from the current set (D) or synthesised (CR for synthesised) > ", reply, 40) !=
      gx::Reply::Ok)
    return false;
  const std::string r = kqstrip(reply);
  const bool fromSet = !r.empty() && (r[0] == 'D' || r[0] == 'd');
  if (!(fromSet ? raysFromSet(k, rays, source) : synthesisedRays(k, geometry, rays, source)))
    return false;
  if (rays.size() == 0) {
    say(k, "No data!");
    return false;
  }
  return true;
}

// What one run maps and where it goes: the image plane, the variants of
// this slice, the summary's name and, for a whole run, the plot device.
struct RunPlan {
  double z = 0;
  int from = 1, to = 0;
  bool whole = true;
  std::string sumName;
  char dev = ' ';
};

bool askPlan(Kestrim& k, const std::string& folder, int total, RunPlan& plan) {
  double zmic = 0, unused = 0;
  if (!askValues(k, "Image distance (micron) (CR for 0) > ", zmic, unused)) return false;
  plan.z = zmic * 1e-6;
  double from = 1, to = total;
  for (;;) {
    if (!askValues(k, "Variants from, to (CR for all) > ", from, to)) return false;
    if (from >= 1 && to <= total && from <= to && from == std::floor(from) && to == std::floor(to)) break;
    say(k, "?ENSEMB- Variants are numbered 1 to " + std::to_string(total) + ".");
    from = 1;
    to = total;
  }
  plan.from = static_cast<int>(from);
  plan.to = static_cast<int>(to);
  plan.whole = plan.from == 1 && plan.to == total;
  const std::string suggested =
      plan.whole ? folder + ".sum"
                 : folder + "_" + std::to_string(plan.from) + "_" + std::to_string(plan.to) + ".sum";
  if (!askSummaryName(k, suggested, plan.sumName)) return false;
  return !plan.whole || askDevice(k, plan.dev);
}

// The polynomials: the nominal system's and the slice's, each with its
// as-built offsets from the manifest.
bool loadSlice(Kestrim& k, const std::string& folder, const Manifest& m, const RayPoly& nominal,
               const RunPlan& plan, std::vector<RayPoly>& polys, std::vector<int>& index) {
  polys.assign(1, nominal);
  index.assign(1, 0);
  for (int v = plan.from; v <= plan.to; ++v) {
    RayPoly p;
    std::string why;
    if (!loadPoly(folder + "/" + m.variants[v].file, p, nullptr, why)) {
      say(k, "?ENSEMB- " + why);
      return false;
    }
    polys.push_back(p);
    index.push_back(v);
  }
  for (size_t i = 0; i < polys.size(); ++i)
    std::copy(m.variants[index[i]].offset, m.variants[index[i]].offset + 4, polys[i].offset);
  return true;
}

// A slice: its rows for the merge, its own statistics for a glance.
void writeSlice(Kestrim& k, const Summary& s, const std::string& sumName) {
  const std::vector<std::string> stats = statisticsLines(s, nullptr);
  for (const auto& l : stats) say(k, l);
  std::string why;
  if (!writeNew(sumName, summaryText(s, stats), why)) {
    say(k, "?ENSEMB- " + why + " No summary written.");
    return;
  }
  say(k, "Slice summary written to " + sumName + " (ENSEMB/M joins the slices).");
}

void ensemb(Kestrim& k, const std::string& arg) {
  std::string folder;
  Manifest m;
  RayPoly nominal;
  Geometry geometry;
  if (!openEnsemble(k, arg, folder, m, nominal, geometry)) return;
  const int total = static_cast<int>(m.variants.size()) - 1;
  RayArrays rays;
  std::string source;
  if (!askRays(k, geometry, rays, source)) return;
  RunPlan plan;
  if (!askPlan(k, folder, total, plan)) return;
  std::vector<RayPoly> polys;
  std::vector<int> index;
  if (!loadSlice(k, folder, m, nominal, plan, polys, index)) return;

  const int threads = mappingThreads();
  say(k, "Mapping " + std::to_string(rays.size()) + " rays through " + std::to_string(polys.size()) +
             " systems on " + std::to_string(threads) + " threads.");
  Summary s;
  s.folder = folder;
  s.rays = static_cast<long long>(rays.size());
  s.z = plan.z;
  s.total = total;
  s.source = source;
  spots(polys, index, rays, s.z, threads, s.spots);
  if (plan.whole)
    report(k, s, plan.sumName, plan.dev);
  else
    writeSlice(k, s, plan.sumName);
}

}  // namespace

}  // namespace kestrim
