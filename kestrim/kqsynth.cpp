// SYNTH: ray synthesis from an object and an aperture, mapped to the end of
// the lens system through the aberration polynomial.
#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <future>
#include <string>
#include <system_error>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/raypoly.h"

namespace kestrim {

namespace {

// Single-precision constants of the program, used at that precision.
constexpr double kPi = static_cast<double>(3.1415927f);
constexpr double kReach = static_cast<double>(1.05f);       // grid loops run to 1.05 h
constexpr double kMicron = static_cast<double>(1.0E-6f);
constexpr double kPeakMin = static_cast<double>(0.01f);      // smallest flux-peaking index
constexpr double kMinDivergence = static_cast<double>(1e-5f);

constexpr int kPromptColumn = 70;      // the SYNTH prompts all end here
// Grid points in one plane: the axis tables hold the square root of this
// (about a million positions per axis), which keeps them small.
constexpr double kMaxGridCount = 1e12;
// Rejected draws one SYNTH may spend in all: an elongated object with flux
// peaking can need 1e5 tries a ray, and a minute is all a user should wait.
// One bound for the whole run (not per ray), so where it stops does not
// hang on the time-of-day seed.
constexpr long long kMaxTotalRejections = 20000000;

std::string rightAligned(const std::string& s) {
  return s.size() >= kPromptColumn ? s : std::string(kPromptColumn - s.size(), ' ') + s;
}

std::string trimmed(const std::string& s) {
  size_t i = s.find_first_not_of(" \t");
  if (i == std::string::npos) return "";
  return std::string(gx::trimRight(std::string_view(s).substr(i)));
}

std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

// Inside an ellipse of half-sizes (ha, hb); a zero half-size leaves its
// axis out of the test.
bool inside(double a, double b, double ha, double hb) {
  double e = 0.0;
  if (ha != 0.0) e += (a / ha) * (a / ha);
  if (hb != 0.0) e += (b / hb) * (b / hb);
  return e <= 1.0;
}

// Grid positions -h, -h + step, ... up to 1.05 h; a half-size of at most
// 1e-30 gives the single value 0.
std::vector<double> axisPoints(double h, double step) {
  std::vector<double> p;
  if (h <= 1e-30) {
    p.push_back(0.0);
    return p;
  }
  const double top = kReach * h;
  for (double v = -h; v <= top;) {
    p.push_back(v);
    double nv = v + step;
    if (!(nv > v)) break;  // a step too small to move on
    v = nv;
  }
  return p;
}

// The points k in [0, n) of an ascending sequence val(k) that pass the
// ellipse test `in` with the other coordinate held, as one run [lo, hi):
// the test can only fail more as |val| grows, so the run stands about the
// point nearest zero and bisection finds its ends, instead of walking a
// grid whose points may nearly all lie outside the circle. With square
// apertures (all) every point is kept.
template <class Val, class In>
std::pair<long long, long long> insideRun(long long n, Val val, In in, bool all) {
  if (n <= 0) return {0, 0};
  if (all) return {0, n};
  long long lo = 0, hi = n;
  while (lo < hi) {
    const long long mid = lo + (hi - lo) / 2;
    if (val(mid) < 0.0)
      lo = mid + 1;
    else
      hi = mid;
  }
  long long m = lo;  // the first point at or above zero, or the one before
  if (m == n || (m > 0 && std::fabs(val(m - 1)) <= std::fabs(val(m)))) --m;
  if (!in(val(m))) return {0, 0};
  long long a = 0, b = m;  // outside, then inside, up to m
  while (a < b) {
    const long long mid = a + (b - a) / 2;
    if (in(val(mid)))
      b = mid;
    else
      a = mid + 1;
  }
  const long long first = a;
  a = m;
  b = n - 1;  // inside from m, then outside
  while (a < b) {
    const long long mid = a + (b - a + 1) / 2;
    if (in(val(mid)))
      a = mid;
    else
      b = mid - 1;
  }
  return {first, a + 1};
}

// One column of aperture points (fixed u) inside the circle: index run of v.
struct Column {
  long long u, lo, hi;
};

// The aperture columns in order, each with its run of points inside: every
// object point uses the same aperture points. One entry per column, never
// per ray.
template <class UOf, class VOf>
std::vector<Column> apertureColumns(long long nu, long long nv, UOf uOf, VOf vOf, bool square, double hu,
                                    double hv) {
  std::vector<Column> cols;
  for (long long i = 0; i < nu; ++i) {
    const double u = uOf(i);
    auto [lo, hi] = insideRun(nv, vOf, [&](double v) { return inside(u, v, hu, hv); }, square);
    if (lo >= hi) continue;
    cols.push_back({i, lo, hi});
  }
  return cols;
}

// Points of the aperture grid inside (a real: the product with the object
// points may pass any integer type).
double pointsIn(const std::vector<Column>& cols) {
  double n = 0.0;
  for (const Column& c : cols) n += static_cast<double>(c.hi - c.lo);
  return n;
}

double clampCount(double n) {
  if (!(n > 0.0)) return 0.0;
  return std::min(n, kMaxGridCount);
}

int truncInt(double v) {
  if (!(v > 0.0)) return 0;
  return static_cast<int>(std::min(v, 1e6));
}

using Ask = gx::Reply;

class Synth {
 public:
  explicit Synth(Kestrim& k) : k_(k), io_(k.gx.io) {}
  void run(const std::string& line, char qual);

 private:
  enum class Pass { Again, Quit, Abort };

  // Prompted reads; End when the input has ended.
  Ask readChar(const std::string& prompt, char& c);
  Ask readCount(const std::string& prompt, long long& n);
  Ask readValues(const std::string& prompt, double& a, double& b);
  Ask readValue(const std::string& prompt, double& a);
  void say(const std::string& text) { gx::gxsay(k_.gx, k_.io.out, text); }
  void blank() { say(""); }

  // The answers of one pass: how many rays, over what object and aperture.
  struct Beam {
    long long nrand = 0;          // random mode: the rays asked for
    double nobj = 0, naper = 0;   // grid modes: points in the object and in the aperture
    double hx = 0, hy = 0;        // object half-sizes (m); half-divergences (rad) in mode 3
    double hax = 0, hay = 0;      // aperture half-sizes (m)
    double thmax = 0;             // the largest divergence the aperture admits (rad)
    double po = 0, pa = 0;        // flux-peaking indices of object and aperture
  };

  // One pass of the dialogue and the rays it asks for, in its steps.
  Pass pass(bool first);
  bool askMode();
  bool askCounts(Beam& beam);
  bool askShape(Beam& beam);
  bool askObject(Beam& beam);
  bool askAperture(Beam& beam);
  bool askColours();
  bool askSpread();
  bool askPeaking(Beam& beam);
  void showCaption();
  bool openOutput();
  bool writeParaxialPair(double thmax);
  void settleCounts(Beam& beam);
  void randomRays(const Beam& beam);
  void regularRays(const Beam& beam);
  void divergenceRays(const Beam& beam);
  Pass again();  // the question that ends every pass
  void startTime();
  double draw() {
    s_ = gxrandom(s_);
    return s_;
  }
  // Offsets and energy of one ray, held for mapping; false when the pass
  // must stop.
  bool emit(double x, double th, double y, double ph);
  // Every ray made so far mapped and written, with the progress lines they
  // pass; false when a write failed.
  bool flush();
  // A full block handed to a second thread to map while the next is made;
  // the block before it is written first. False when a write failed.
  bool handOff();
  // The block handed off, when there is one, waited for and written.
  bool settle();
  // n rays of r mapped into mapped_ and packed into records_ on threads.
  void mapBlock(const RayArrays& r, size_t n, int threads);
  // Chunk c of those: rays c kChunk on.
  void mapChunk(const RayArrays& r, size_t n, size_t c);
  // Where chunk c's mapped rays lie at the system's end.
  void noteChunk(size_t n, size_t c);
  // Chunks of the block handed off, taken one at a time until none is left;
  // the thread that made the next block helps when it is done.
  void mapBusyChunks();
  static constexpr size_t kChunk = 2048;
  // n packed records written with the progress lines up to ray `end`.
  bool writeBlock(size_t n, long long end);
  bool write(double x, double th, double y, double ph, double de);
  // Whether the pass's rays fit on the disk of the ray set; false, with a
  // message, when they cannot. Rays go to the file in blocks as they are
  // made, so the disk is the only bound (NTOT's 64 bits count more).
  bool roomFor(double rays);
  void finish();

  Kestrim& k_;
  gx::Io& io_;
  double s_ = 1.5;
  std::array<long long, 102> hist_{};  // bins 1..101
  bool solenoid_ = false;
  char channel_ = 'W';
  bool open_ = false;
  bool spreadUsed_ = false;
  bool writeFailed_ = false;
  long long rejectedTotal_ = 0;
  std::string rayName_;
  std::string cofRead_;   // the coefficient file read, never to be written over

  // Per pass.
  int mode_ = 2;
  bool square_ = false;
  double d_ = 0.0;
  double offx_ = 0.0, offy_ = 0.0, aoffx_ = 0.0, aoffy_ = 0.0;
  double demax_ = 0.0;
  bool spread_ = false;
  long long count_ = 0;   // rays of this pass made, its paraxial pair included
  int every_ = 1000;      // a progress line at every this many rays

  // Rays made and not yet mapped, in the order they were made. Mapping
  // them together gives the same bits as one by one, on any core count.
  static constexpr size_t kHold = size_t{1} << 15;
  RayPoly poly_;               // the coefficient file's polynomial
  int threads_ = mappingThreads();  // threads that map a block
  RayArrays held_;             // object rays, offsets and energy applied
  std::vector<double> mapped_; // their images: x, th, y, ph, kHold apart
  std::vector<char> records_;  // their records as the ray set holds them
  size_t nheld_ = 0;
  long long written_ = 0;   // rays of every pass, the paraxial pairs included
  // The block a second thread maps while the next is made: making rays in
  // the dialogue's order is serial, and the write is the kernel's copy.
  RayArrays busy_;
  size_t nbusy_ = 0;
  long long busyEnd_ = 0;      // count_ at its last ray
  std::atomic<size_t> nextChunk_{0};   // the next of its chunks to be mapped
  // Where the rays written lie at the system's end, as counting a set notes
  // it (x + 0 th, y + 0 ph): file rays 1, 2 and the rest, in file order, so
  // that a SORT there after SYNTH reads the set once. Per chunk of the
  // block being mapped, merged in order as the block is written.
  EndExtent end_;
  std::vector<RangeScan> chunkX_, chunkY_;
  std::future<void> mapping_;  // last: joined before the buffers it uses go
};

Ask Synth::readChar(const std::string& prompt, char& c) {
  std::string line;
  if (gx::gxprompt(k_.gx, k_.io.in, k_.io.out, rightAligned(prompt), line) == Ask::End)
    return Ask::End;
  size_t i = line.find_first_not_of(" \t");
  c = i == std::string::npos ? ' ' : line[i];
  return Ask::Ok;
}

Ask Synth::readCount(const std::string& prompt, long long& n) {
  std::string line;
  return gx::gxask(k_.gx, k_.io.in, k_.io.out, rightAligned(prompt), line, 0,
                   [&](const std::string& r) {
                     gx::ListScanner sc(1);
                     if (!sc.add(r) || sc.items().empty() || sc.items()[0].null) return false;
                     long long v = 0;
                     if (!gx::listInt(sc.items()[0].text, v)) return false;
                     n = v;
                     return true;
                   });
}

Ask Synth::readValues(const std::string& prompt, double& a, double& b) {
  return gx::gxaskupdate(k_.gx, k_.io.in, k_.io.out, k_.io.macro, rightAligned(prompt), a, b);
}

Ask Synth::readValue(const std::string& prompt, double& a) {
  return gx::gxaskupdate(k_.gx, k_.io.in, k_.io.out, k_.io.macro, rightAligned(prompt), a);
}

void Synth::startTime() {
  std::string t = gx::pad(gx::gxtime(k_.gx), 8);
  for (char& c : t)
    if (c == ' ') c = '0';
  auto dig = [&](int i) {
    char c = t[static_cast<size_t>(i)];
    return (c >= '0' && c <= '9') ? c - '0' : 0;
  };
  const int secs = 36000 * dig(0) + 3600 * dig(1) + 600 * dig(3) + 60 * dig(4) + 10 * dig(6) + dig(7);
  const double f = secs / 86400.0;
  say("The time is --" + t + "--");
  say("Fraction of day elapsed " + gx::fF(f, 7, 5));
  s_ = 2000.0 * f + 1.5;
}

bool Synth::write(double x, double th, double y, double ph, double de) {
  if (!kqrays(k_, channel_, 0, x, th, y, ph, de)) {
    writeFailed_ = true;
    return false;
  }
  return true;
}

bool Synth::emit(double x, double th, double y, double ph) {
  if (count_ % 1024 == 0) gx::gxpoll(k_.gx);  // Ctrl-C: the set being written is discarded
  x += offx_;
  y += offy_;
  th += aoffx_;
  ph += aoffy_;
  double de = 0.0;
  if (spread_) {
    de = demax_ * (1.0 - 2.0 * draw());
    // Checked as a real first: an infinite or undefined ratio has no bin.
    const double at = 50.0 * de / demax_ + 51.5;
    if (at >= 1.0 && at < 102.0) ++hist_[static_cast<size_t>(at)];
  }
  held_.x[nheld_] = x;
  held_.th[nheld_] = th;
  held_.y[nheld_] = y;
  held_.ph[nheld_] = ph;
  held_.de[nheld_] = de;
  ++nheld_;
  ++count_;
  return nheld_ < kHold || handOff();
}

bool Synth::flush() {
  if (!settle()) return false;
  const size_t n = nheld_;
  if (n == 0) return !writeFailed_;
  nheld_ = 0;
  mapBlock(held_, n, threads_);
  return writeBlock(n, count_);
}

bool Synth::handOff() {
  if (!settle()) return false;
  std::swap(held_, busy_);
  nbusy_ = nheld_;
  busyEnd_ = count_;
  nheld_ = 0;
  if (threads_ > 1 && !solenoid_) {
    nextChunk_ = 0;
    try {
      mapping_ = std::async(std::launch::async, [this] { mapBusyChunks(); });
      return true;
    } catch (const std::system_error&) {
      // No second thread to be had: mapped here, on what there is.
    }
  }
  mapBlock(busy_, nbusy_, threads_);
  return true;
}

void Synth::mapBusyChunks() {
  const size_t chunks = (nbusy_ + kChunk - 1) / kChunk;
  for (size_t c; (c = nextChunk_.fetch_add(1)) < chunks;) mapChunk(busy_, nbusy_, c);
}

bool Synth::settle() {
  if (nbusy_ == 0) return !writeFailed_;
  if (mapping_.valid()) {
    mapBusyChunks();
    mapping_.get();
  }
  const size_t n = nbusy_;
  nbusy_ = 0;
  return writeBlock(n, busyEnd_);
}

void Synth::mapBlock(const RayArrays& r, size_t n, int threads) {
  if (solenoid_) {
    double *xo = mapped_.data(), *tho = xo + kHold, *yo = tho + kHold, *pho = yo + kHold;
    for (size_t i = 0; i < n; ++i)
      cofsole(k_, r.x[i], r.th[i], r.y[i], r.ph[i], r.de[i], xo[i], tho[i], yo[i], pho[i]);
    kqpackrays(records_.data(), xo, tho, yo, pho, r.de.data(), n);
    for (size_t c = 0; c * kChunk < n; ++c) noteChunk(n, c);
    return;
  }
  parallelFor((n + kChunk - 1) / kChunk, threads, [&](size_t c) { mapChunk(r, n, c); });
}

void Synth::noteChunk(size_t n, size_t c) {
  const double *xo = mapped_.data(), *tho = xo + kHold, *yo = tho + kHold, *pho = yo + kHold;
  RangeScan x, y;
  for (size_t i = c * kChunk, e = std::min(n, i + kChunk); i < e; ++i) {
    x.add(xo[i] + 0.0 * tho[i]);
    y.add(yo[i] + 0.0 * pho[i]);
  }
  chunkX_[c] = x;
  chunkY_[c] = y;
}

void Synth::mapChunk(const RayArrays& r, size_t n, size_t c) {
  double *xo = mapped_.data(), *tho = xo + kHold, *yo = tho + kHold, *pho = yo + kHold;
  const size_t from = c * kChunk, m = std::min(kChunk, n - from);
  mapRays(poly_, &r.x[from], &r.th[from], &r.y[from], &r.ph[from], &r.de[from], m, xo + from, tho + from,
          yo + from, pho + from);
  kqpackrays(&records_[kRayRecordBytes * from], xo + from, tho + from, yo + from, pho + from, &r.de[from], m);
  noteChunk(n, c);
}

bool Synth::writeBlock(size_t n, long long end) {
  if (!kqraysblock(k_, channel_, records_.data(), n)) {
    writeFailed_ = true;
    return false;
  }
  for (size_t c = 0; c * kChunk < n; ++c) end_.addRest(chunkX_[c], chunkY_[c]);
  const long long first = end - static_cast<long long>(n) + 1;
  for (long long c = (first + every_ - 1) / every_ * every_; c <= end; c += every_)
    say(kqcount(c, 8) + " rays generated");
  return true;
}

Synth::Pass Synth::pass(bool first) {
  Beam beam;
  if (!askMode() || !askCounts(beam) || !askShape(beam) || !askObject(beam) || !askAperture(beam) ||
      !askColours() || !askSpread() || !askPeaking(beam))
    return Pass::Abort;
  showCaption();
  if (first && !openOutput()) return again();
  if (writeParaxialPair(beam.thmax)) {
    settleCounts(beam);
    if (mode_ == 1)
      randomRays(beam);
    else if (mode_ == 2)
      regularRays(beam);
    else
      divergenceRays(beam);
    flush();
    written_ += count_;
  }
  if (writeFailed_) {
    // A disk that filled: the set is not kept, and the dialogue still ends
    // with its last question so that a macro's answers are not commands.
    say("?KQSYNTH- No ray set written.");
    again();
    return Pass::Abort;
  }

  say(kqcount(count_, 8) + " rays generated total.");
  blank();
  return again();
}

// Random (1), regular (2) or divergence-specified (3) rays.
bool Synth::askMode() {
  char c = ' ';
  for (;;) {
    if (readChar("Random (1), Regular (2) or Divergence specified (3) mode (CR for 2) > ", c) == Ask::End)
      return false;
    if (c == ' ') c = '2';
    if (c >= '1' && c <= '3') break;
  }
  mode_ = c - '0';
  return true;
}

// How many rays: a number in random mode, points in object and aperture in
// the grid modes (the square root of a total each).
bool Synth::askCounts(Beam& beam) {
  long long& nrand = beam.nrand;
  double &nobj = beam.nobj, &naper = beam.naper;
  if (mode_ == 1) {
    if (readCount("Number of rays > ", nrand) == Ask::End) return false;
    k_.ntot = nrand;
  } else {
    double n = 0.0;
    if (readValue("Number of rays (CR for non-auto) > ", n) == Ask::End) return false;
    if (n + 0.5 >= 1.0) {
      nobj = naper = std::sqrt(n);
    } else {
      double a = 0.0, b = 0.0;
      if (readValues("Number of rays in object, aperture (CR to abort) > ", a, b) == Ask::End)
        return false;
      nobj = std::round(std::clamp(a, -1e15, 1e15));
      naper = std::round(std::clamp(b, -1e15, 1e15));
      if (nobj == 0.0 && naper == 0.0) return false;
    }
  }
  return true;
}

// The shape of the apertures, the object's too.
bool Synth::askShape(Beam& beam) {
  double &nobj = beam.nobj, &naper = beam.naper;
  char c = ' ';
  if (readChar("Circular or Square apertures (CR for Circular) > ", c) == Ask::End) return false;
  square_ = c == 'S' || c == 's';
  if (square_) {
    say("< SQUARE apertures selected. >");
  } else {
    say("< CIRCULAR apertures selected. >");
    // About the asked number of grid points then fall inside the circle.
    nobj *= std::sqrt(4.0 / kPi);
    naper *= std::sqrt(4.0 / kPi);
  }
  return true;
}

// The object's half-sizes and offsets, or in mode 3 its half-divergences.
bool Synth::askObject(Beam& beam) {
  double &hx = beam.hx, &hy = beam.hy;
  if (mode_ != 3) {
    double a = 0.0, b = 0.0;
    if (readValues("Object X and Y diameter (micron) > ", a, b) == Ask::End) return false;
    hx = a * kMicron / 2.0;
    hy = b * kMicron / 2.0;
    double ox = 0.0, oy = 0.0;
    if (readValues("Object offsets (x,y) in  (micron) > ", ox, oy) == Ask::End) return false;
    offx_ = ox * kMicron;
    offy_ = oy * kMicron;
  } else {
    double a = 0.0, b = 0.0;
    if (readValues("Maximum object X and Y divergences (degrees) > ", a, b) == Ask::End)
      return false;
    hx = kPi * a / 180.0 / 2.0;
    hy = kPi * b / 180.0 / 2.0;
  }
  if (hy < 1e-20) hy = hx;
  return true;
}

// The aperture, the largest divergence it admits, and its offsets as
// angles at the object.
bool Synth::askAperture(Beam& beam) {
  double &hax = beam.hax, &hay = beam.hay, &thmax = beam.thmax;
  {
    double a = 0.0, b = 0.0;
    if (readValues("Aperture X and Y diameter (mm) > ", a, b) == Ask::End) return false;
    hax = a / 1000.0 / 2.0;
    hay = b / 1000.0 / 2.0;
    if (hay < 1e-20) hay = hax;
  }
  double shadow = 0.0;
  cof3(k_, d_, shadow);
  if (d_ == 0.0) {
    say("?KQSYNTH- Object to aperture distance is zero: no rays can be made.");
    return false;
  }
  thmax = std::max(hax, hay) / d_;
  if (!(thmax > 0.0)) thmax = kMinDivergence;
  if (mode_ != 3) say("< Maximum divergence = " + g13(1000.0 * thmax) + " mrad.>");

  {
    double a = 0.0, b = 0.0;
    if (readValues("Aperture offsets (x,y) in mm > ", a, b) == Ask::End) return false;
    aoffx_ = a / (1000.0 * d_);
    aoffy_ = b / (1000.0 * d_);
  }
  return true;
}

bool Synth::askColours() {
  if (k_.flags.colour != 0) {
    double nc = k_.ncolours;
    if (readValue("Number of colours (CR for " + std::to_string(k_.ncolours) + ") > ", nc) == Ask::End)
      return false;
    if (nc >= 1.0) k_.ncolours = static_cast<int>(std::round(std::min(nc, 1e6)));
  }
  return true;
}

bool Synth::askSpread() {
  demax_ = 0.0;
  if (readValue("Maximum beam energy half spread (%) > ", demax_) == Ask::End) return false;
  spread_ = demax_ > 1e-10;
  if (spread_) spreadUsed_ = true;
  return true;
}

// Flux peaking: indices above 0.01 crowd the random rays towards the axis.
bool Synth::askPeaking(Beam& beam) {
  double &po = beam.po, &pa = beam.pa;
  say("In random mode it is possible to flux peak");
  say("by setting the idicies for the random number");
  say("generator to values greater than 0.01.");
  for (;;) {
    po = pa = 0.0;
    if (readValues("Indicies for object and aperture (o,a) > ", po, pa) == Ask::End) return false;
    // A negative index sends the rays outwards without bound.
    if (po >= 0.0 && pa >= 0.0) break;
    say("?KQSYNTH- Flux peaking indicies must not be negative.");
  }
  say("Flux peaking indicies set to: Object " + gx::fF(po, 5, 2) + " Aperture " + gx::fF(pa, 5, 2));
  return true;
}

// The caption and the focal positions, which SYNTH leaves for MAP and PLOT.
void Synth::showCaption() {
  k_.caption = gx::pad(trimmed(cofcap(k_)), 100);
  say("Caption: " + std::string(gx::trimRight(k_.caption)));
  double xf = 1e10, yf = 1e10;
  coffocal(k_, xf, yf);
  say("Focal lengths (from end of system):");
  say("X focal position = " + g13(xf) + " m");
  say("Y focal position = " + g13(yf) + " m");
  k_.xfocal = xf;
  k_.yfocal = yf;
  k_.flags.focalKnown = 1;
}

// Opens the output ray set at the first pass; false when none was opened.
bool Synth::openOutput() {
  int ierr = 1;
  if (!kqblank(rayName_)) {
    // SYNTH/N name.cof names the coefficients; the same name as the
    // output would put the rays in place of the coefficient file.
    std::string file = kqstrip(rayName_);
    if (!kqhasdot(file)) file += ".bin";
    std::error_code ec;
    if (std::filesystem::equivalent(file, kqstrip(cofRead_), ec)) {
      say("?KQSYNTH- " + file + " is the coefficient file; the rays need another name.");
      say("?KQSYNTH- No ray set written.");
      return false;
    }
  }
  if (channel_ == 'A')
    kqioappend(k_, rayName_, ierr);
  else
    kqio(k_, channel_, rayName_, ierr);
  if (ierr != 0) {
    // The dialog still ends with its last question, so the answers that
    // follow in a macro are not taken as commands.
    say("?KQSYNTH- No ray set written.");
    return false;
  }
  open_ = true;
  return true;
}

// The paraxial pair: the axial ray and a ray of small angle.
bool Synth::writeParaxialPair(double thmax) {
  count_ = 0;
  held_.resize(kHold);   // room for the pass's rays to gather in
  busy_.resize(kHold);
  mapped_.resize(4 * kHold);
  records_.resize(kRayRecordBytes * kHold);
  chunkX_.resize(kHold / kChunk);
  chunkY_.resize(kHold / kChunk);
  const double zero = 0.0, small = thmax / 1000.0;
  double xo, tho, yo, pho;
  coftran(k_, zero, zero, zero, zero, zero, xo, tho, yo, pho);
  if (!write(xo, tho, yo, pho, 0.0)) return false;
  end_.add(written_ + 1, xo, tho, yo, pho);
  coftran(k_, zero, small, zero, small, zero, xo, tho, yo, pho);
  if (!write(xo, tho, yo, pho, 0.0)) return false;
  end_.add(written_ + 2, xo, tho, yo, pho);
  count_ = 2;
  return true;
}

// Degenerate sizes put all the points into the other plane; the counts
// are held to what the grids can take.
void Synth::settleCounts(Beam& beam) {
  double &nobj = beam.nobj, &naper = beam.naper;
  const double hx = beam.hx, hax = beam.hax;
  if (hx < 1e-30) {
    naper = naper * naper;
    nobj = 1.0;
  }
  if (hax < 1e-30) {
    nobj = nobj * nobj;
    naper = 1.0;
  }
  nobj = clampCount(nobj);
  naper = clampCount(naper);
}

void Synth::randomRays(const Beam& beam) {
  every_ = 1000;
  const long long nrand = beam.nrand;
  const double hx = beam.hx, hy = beam.hy, hax = beam.hax, hay = beam.hay;
  const double po = beam.po, pa = beam.pa;
  bool stopped = false;
  const long long want = std::max<long long>(nrand, 0);
  const double ro = std::max(hx, hy), ra = std::max(hax, hay);
  if (!roomFor(static_cast<double>(want))) return;
  auto point = [&](double p, double h1, double h2, double r, double& a, double& b) {
    if (std::fabs(p) < kPeakMin) {
      a = (2.0 * draw() - 1.0) * h1;
      b = (2.0 * draw() - 1.0) * h2;
    } else {
      const double phi = 2.0 * kPi * draw();
      const double rho = std::pow(draw(), p) * r;
      a = rho * std::cos(phi);
      b = rho * std::sin(phi);
    }
    return square_ || inside(a, b, h1, h2);
  };
  for (long long n = 0; n < want && !stopped; ++n) {
    double x = 0, y = 0, u = 0, v = 0;
    for (;;) {
      if (point(po, hx, hy, ro, x, y) && point(pa, hax, hay, ra, u, v)) break;
      if (++rejectedTotal_ > kMaxTotalRejections) {
        if (!flush()) return;
        say("?KQSYNTH- More than " + std::to_string(kMaxTotalRejections) +
            " random rays fell outside the object or aperture; stopped at " +
            std::to_string(count_) + " rays.");
        say("          Use fewer rays, a rounder object or aperture, or square apertures.");
        stopped = true;
        break;
      }
    }
    if (stopped) break;
    if (!emit(x, u / d_, y, v / d_)) break;
  }
}

void Synth::regularRays(const Beam& beam) {
  every_ = 500;
  const double nobj = beam.nobj, naper = beam.naper;
  const double hx = beam.hx, hy = beam.hy, hax = beam.hax, hay = beam.hay;
  const double sx = 2.0 * hx / std::sqrt(nobj), sy = 2.0 * hy / std::sqrt(nobj);
  const double sax = 2.0 * hax / std::sqrt(naper), stepAy = 2.0 * hay / std::sqrt(naper);

  bool stopped = false;
  say("  Object: " + g13(hx) + "," + g13(hy));
  say("    Step: " + g13(sx) + "," + g13(sy));
  say("Aperture: " + g13(hax) + "," + g13(hay));
  say("A Offset: " + g13(1000.0 * aoffx_) + "," + g13(1000.0 * aoffy_) + " mr");
  say("    Step: " + g13(sax) + "," + g13(stepAy));
  say("No. of object rays " + gx::fI(std::llround(nobj), 12));
  say("No. of aperture rays " + gx::fI(std::llround(naper), 12));
  say("Approx. total " + gx::fI(std::llround(std::min(nobj * naper, 9e18)), 12));
  blank();
  const auto xs = axisPoints(hx, sx), ys = axisPoints(hy, sy);
  const auto us = axisPoints(hax, sax), vs = axisPoints(hay, stepAy);
  const long long nys = static_cast<long long>(ys.size()), nvs = static_cast<long long>(vs.size());
  auto yAt = [&](long long k) { return ys[static_cast<size_t>(k)]; };
  auto vAt = [&](long long k) { return vs[static_cast<size_t>(k)]; };
  const auto aperture = apertureColumns(
      static_cast<long long>(us.size()), nvs, [&](long long i) { return us[static_cast<size_t>(i)]; }, vAt,
      square_, hax, hay);
  double objectPoints = 0.0;
  for (const double x : xs) {
    auto [ylo, yhi] = insideRun(nys, yAt, [&](double y) { return inside(x, y, hx, hy); }, square_);
    objectPoints += static_cast<double>(yhi - ylo);
  }
  if (!roomFor(objectPoints * pointsIn(aperture))) return;
  for (size_t ix = 0; ix < xs.size() && !stopped && !aperture.empty(); ++ix) {
    const double x = xs[ix];
    auto [ylo, yhi] = insideRun(nys, yAt, [&](double y) { return inside(x, y, hx, hy); }, square_);
    for (long long k = ylo; k < yhi && !stopped; ++k) {
      const double y = yAt(k);
      for (const Column& col : aperture) {
        const double u = us[static_cast<size_t>(col.u)];
        for (long long m = col.lo; m < col.hi; ++m) {
          if (!emit(x, u / d_, y, vAt(m) / d_)) {
            stopped = true;
            break;
          }
        }
        if (stopped) break;
      }
    }
  }
}

void Synth::divergenceRays(const Beam& beam) {
  every_ = 1000;
  const double nobj = beam.nobj, naper = beam.naper;
  const double hx = beam.hx, hy = beam.hy, hax = beam.hax, hay = beam.hay;
  bool stopped = false;
  const double kk = std::sqrt(nobj) / 2.0, ll = std::sqrt(naper) / 2.0;
  // Both planes keep the x plane's angular step; when one half-size is
  // zero the other sets the step.
  const double dth = kk > 0.0 ? (hx > 0.0 ? hx : hy) / kk : 0.0;
  const double dap = ll > 0.0 ? (hax > 0.0 ? hax : hay) / ll : 0.0;
  const int ntx = hx > 0.0 ? truncInt(kk + 0.5) : 0;
  const int nty = hy > 0.0 && dth > 0.0 ? (hx > 0.0 ? truncInt(hy * kk / hx + 0.5) : truncInt(hy / dth + 0.5)) : 0;
  const int nax = hax > 0.0 ? truncInt(ll + 0.5) : 0;
  const int nay = hay > 0.0 && dap > 0.0 ? (hax > 0.0 ? truncInt(hay * ll / hax + 0.5) : truncInt(hay / dap + 0.5)) : 0;
  k_.ireg[1] = truncInt(nobj);
  k_.ireg[2] = truncInt(naper);
  say("No of rays in divergence space = " + std::to_string(k_.ireg[1]) + " (" + std::to_string(2 * ntx + 1) +
      "x" + std::to_string(2 * nty + 1) + ")");
  say("X divergence range: " + g13(2.0 * hx) + " Y divergence range: " + g13(2.0 * hy) + " radians");
  say("X divergence range: " + g13(2.0 * hx * 180.0 / kPi) + " Y divergence range: " +
      g13(2.0 * hy * 180.0 / kPi) + " degrees");
  say("  No of rays in aperture space = " + std::to_string(k_.ireg[2]) + " (" + std::to_string(2 * nax + 1) +
      "x" + std::to_string(2 * nay + 1) + ")");
  say("X aperture radius: " + g13(hax) + " Y aperture radius: " + g13(hay) + " m");
  auto thOf = [&](int i) { return kk > 0.0 && hx > 0.0 ? hx * i / kk : dth * i; };
  auto phOf = [&](int j) { return hx > 0.0 && hy > 0.0 && kk > 0.0 ? hy * j / (hy * kk / hx) : dth * j; };
  auto uOf = [&](int i) { return ll > 0.0 && hax > 0.0 ? hax * i / ll : dap * i; };
  auto vOf = [&](int j) { return hax > 0.0 && hay > 0.0 && ll > 0.0 ? hay * j / (hay * ll / hax) : dap * j; };
  // Index k of a run stands for grid number k - n.
  const auto aperture = apertureColumns(
      2LL * nax + 1, 2LL * nay + 1, [&](long long k) { return uOf(static_cast<int>(k - nax)); },
      [&](long long k) { return vOf(static_cast<int>(k - nay)); }, square_, hax, hay);
  double objectPoints = 0.0;
  for (int i = -ntx; i <= ntx; ++i) {
    const double th = thOf(i);
    auto [jlo, jhi] = insideRun(
        2LL * nty + 1, [&](long long k) { return phOf(static_cast<int>(k - nty)); },
        [&](double ph) { return inside(th, ph, hx, hy); }, square_);
    objectPoints += static_cast<double>(jhi - jlo);
  }
  if (!roomFor(objectPoints * pointsIn(aperture))) return;
  for (int i = -ntx; i <= ntx && !stopped && !aperture.empty(); ++i) {
    const double th = thOf(i);
    auto [jlo, jhi] = insideRun(
        2LL * nty + 1, [&](long long k) { return phOf(static_cast<int>(k - nty)); },
        [&](double ph) { return inside(th, ph, hx, hy); }, square_);
    for (long long jk = jlo; jk < jhi && !stopped; ++jk) {
      const double ph = phOf(static_cast<int>(jk - nty));
      for (const Column& col : aperture) {
        const double u = uOf(static_cast<int>(col.u - nax));
        for (long long bk = col.lo; bk < col.hi; ++bk) {
          const double v = vOf(static_cast<int>(bk - nay));
          // The ray that passes through the aperture point (u, v).
          if (!emit(u - d_ * std::tan(th), th, v - d_ * std::tan(ph), ph)) {
            stopped = true;
            break;
          }
        }
        if (stopped) break;
      }
    }
  }
}

bool Synth::roomFor(double rays) {
  const int unit = channel_ == 'A' ? k_.rays.unitA : k_.rays.unitW;
  const std::string name = io_.nameOf(unit);
  std::filesystem::path folder = std::filesystem::path(name).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  const std::filesystem::space_info s = std::filesystem::space(folder, ec);
  // Where the room cannot be told, a disk that fills is still caught when
  // a write fails.
  if (ec || s.available == static_cast<std::uintmax_t>(-1)) return true;
  const double need = rays * static_cast<double>(kRayRecordBytes), free = static_cast<double>(s.available);
  if (need <= free) return true;
  say("?KQSYNTH- This pass asks for " + gx::fG(rays, 10, 3, 1) + " rays (" + gx::fG(need, 10, 3, 1) +
      " bytes); the disk of " + name + " has " + gx::fG(free, 10, 3, 1) + " bytes free.");
  say("?KQSYNTH- No rays generated in this pass.");
  return false;
}

Synth::Pass Synth::again() {
  char c = ' ';
  if (readChar("Return to top of this routine, or quit? (R/Q) > ", c) == Ask::End) return Pass::Quit;
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return (c == 'R' || c == 'Y') ? Pass::Again : Pass::Quit;
}

void Synth::finish() {
  const int unit = channel_ == 'A' ? k_.rays.unitA : k_.rays.unitW;
  std::string name = io_.nameOf(unit);
  if (writeFailed_) {
    // An incomplete ray set is not kept under the user's name.
    io_.close(unit, false);
    return;
  }
  const bool kept = kqioend(k_, channel_);
  int ierr = 1;
  // A new set is as long as what was written; an appended one is counted.
  if (kept && channel_ == 'W') {
    kqioreadwritten(k_, name, ierr, written_);
    if (ierr == 0) {
      k_.rays.end = end_;
      k_.rays.endNtot = written_;
    }
  } else
    kqio(k_, 'R', name, ierr);
  if (ierr == 0) k_.rayFile = gx::pad(name, 100);

  if (!spreadUsed_) return;
  const int fu = k_.io.file;
  if (!io_.open(fu, "dist.fit", gx::OpenStatus::Replace, gx::Access::Write)) {
    say("Unable to open dist.fit" + io_.reason());
    return;
  }
  for (const char* h : {" DE distribution", " DE", " Number", " 12,0", " 0", " 0", " 0"}) io_.write(fu, h);
  for (int b = 1; b <= 101; ++b) {
    // A count too wide for its column is written whole, never as asterisks.
    const std::string cnt = kqcount(hist_[static_cast<size_t>(b)], 4);
    io_.write(fu, std::string(" ").append(gx::fI(b, 3)).append(",").append(cnt).append(",0"));
  }
  if (!io_.close(fu)) {
    say("Unable to write dist.fit");
    return;
  }
  say("Energy distribution in dist.fit");
  blank();
}

void Synth::run(const std::string& line, char qual) {
  hist_.fill(0);
  // NTOT counts the current ray set: a SYNTH that writes none leaves it.
  const long long ntotBefore = k_.ntot;
  startTime();

  std::string arg = gx::pad(line, 40).substr(7, 33);
  if ((arg[0] == 'S' || arg[0] == 's') && arg[1] == ' ') {
    solenoid_ = true;
    say("Solenoid option active.");
    blank();
    arg[0] = ' ';
  }
  rayName_ = arg;
  std::string cofName = (qual == 'N') ? arg.substr(0, 30) : std::string(30, ' ');
  if (qual == 'A') {
    channel_ = 'A';
    io_.write(k_.io.out, " Appending rays to file: " + trimmed(arg));
  }
  blank();
  say("<<< Obtain aberration coefficients and system parameters >>>");
  blank();
  int echo = 0, status = 1;
  cofmod(k_, k_.io.in, k_.io.out, echo, cofName, qual, status);
  if (status != 0) {
    say("Error getting coefficients");
    blank();
    return;
  }
  cofRead_ = cofName;
  poly_ = rayPoly(k_);

  bool first = true;
  for (;;) {
    Pass p = pass(first);
    if (open_) first = false;
    if (p == Pass::Again) continue;
    break;
  }
  if (open_) finish();
  // No set written: the current one stays, and so does its count.
  if (!open_ || writeFailed_) k_.ntot = ntotBefore;
}

}  // namespace

// The remainder of x divided by 1, sign kept. x - trunc(x) is exact, as
// fmod is, and far quicker.
double gxfrac(double x) {
  const double f = x - std::trunc(x);
  return f == 0.0 ? std::copysign(0.0, x) : f;
}

double gxrandom(double r) { return std::fabs(gxfrac(9821.0 * r + 0.211327)); }

void kqsynth(Kestrim& k, KqLine& cmd) {
  std::string line = cmd.line;
  const char qual = cmd.qual;
  Synth s(k);
  s.run(line, qual);
}

}  // namespace kestrim
