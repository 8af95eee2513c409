// tavokestrim: TAVO and KESTRIM sessions in Python.
//
// Each session object holds the program's own state and runs the program's
// own command loop on lines the caller gives; the output is captured and
// returned. Typed accessors read the state and call the program's routines
// (the evaluator, the coefficient store, the aberration polynomial, the
// openPMD files) directly, so that numbers are those the program prints.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <type_traits>
#include <string>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/fortran/io.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/openpmd.h"
#include "kestrim/state.h"
#include "tavo/aber/aber.h"
#include "tavo/cof/cof.h"
#include "tavo/commands.h"
#include "tavo/exact/exact.h"
#include "tavo/series/damap.h"
#include "tavo/optics/optics.h"
#include "tavo/state.h"
#include "tavo/system/system.h"

namespace py = pybind11;

namespace {

// A program's message that says a command failed.
struct ProgramError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A numpy array that owns the vector's memory: no copy is made.
template <class T>
py::array_t<T> owned(std::vector<T>&& v, std::vector<py::ssize_t> shape) {
  auto* p = new std::vector<T>(std::move(v));
  py::capsule cap(p, [](void* q) { delete static_cast<std::vector<T>*>(q); });
  return py::array_t<T>(shape, p->data(), cap);
}

// The first record that reports a failure: the programs begin those with
// "?" (after the carriage-control blank), or say that a file cannot be
// opened or that there is no system to work on.
std::string firstError(const std::string& text) {
  std::istringstream is(text);
  for (std::string l; std::getline(is, l);) {
    size_t b = l.find_first_not_of(' ');
    if (b == std::string::npos || b > 1) continue;
    const std::string r = l.substr(b);
    if (r[0] == '?' || r.rfind("Unable to ", 0) == 0 || r.rfind("No lens system loaded", 0) == 0)
      return r;
  }
  return "";
}

// The input a session reads and the output it writes, kept apart from the
// state so that they exist before it.
struct Streams {
  std::stringstream in;
  std::ostringstream out;
};

// Feeds lines to a program loop until they are used up and no macro level
// is open. step runs one prompt-read-command; atTerminal says whether the
// loop reads the caller's lines (not a macro file).
template <class Step, class AtTerminal, class Running>
std::string feed(Streams& io, const std::string& text, Step step, AtTerminal atTerminal,
                 Running running, bool echo, bool check) {
  io.in.clear();
  io.in.str(text);
  io.out.str("");
  std::string failure;
  try {
    while (running() && (!atTerminal() || io.in.peek() != std::char_traits<char>::eof())) {
      io.in.clear();
      step();
    }
  } catch (const gx::EndOfInput&) {
    failure = "the command asked for more answers than were given";
  }
  io.in.clear();
  std::string out = io.out.str();
  io.out.str("");
  if (echo) py::print(out, py::arg("end") = "");
  if (!failure.empty()) throw ProgramError(failure + "\n" + out);
  if (check) {
    const std::string e = firstError(out);
    if (!e.empty()) throw ProgramError(e);
  }
  return out;
}

std::string lines(const std::string& line, const std::vector<std::string>& answers) {
  std::string t = line + "\n";
  for (const std::string& a : answers) t += a + "\n";
  return t;
}

// ---- TAVO ----

class TavoSession : private Streams {
 public:
  explicit TavoSession(bool echo) : s_(in, out), echo_(echo) {
    feedLines("", [&] { tavo::startSession(s_); });
  }

  std::string run(const std::string& line, const std::vector<std::string>& answers, bool check) {
    if (!s_.running) throw ProgramError("the TAVO session has ended (EXIT)");
    return feed(
        *this, lines(line, answers), [&] { tavo::oneLine(s_); },
        [&] { return s_.inout.cmd == gx::Io::kIn; }, [&] { return s_.running; }, echo_,
        check);
  }

  void load(const std::string& name) {
    run("DATA " + name, {}, true);
    if (s_.syspa < 3) throw ProgramError("no lens system was loaded from " + name);
  }

  py::array_t<double> element(int row) const {
    checkRow(row);
    std::vector<double> v(12);
    for (int c = 1; c <= 12; ++c) v[static_cast<size_t>(c - 1)] = s_.bdata(row, c);
    return owned(std::move(v), {12});
  }

  void set(int row, int col, double value) {
    checkRow(row);
    if (col < 2 || col > 12) throw py::index_error("column " + std::to_string(col) + " is not 2..12");
    s_.bdata(row, col) = value;
    // The particle's energy is kept as the stored energy too, as EDIT does.
    if (row == 1 && col == 4) s_.bdata(1, 12) = value;
  }

  int elements() const { return s_.syspa; }
  std::string title() const {
    const size_t b = s_.title.find_first_not_of(' '), e = s_.title.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s_.title.substr(b, e - b + 1);
  }

  // The system's first-order matrix (x, theta, y, phi).
  py::array_t<double> firstOrder() {
    return quietly([&] {
      tavo::Mat4 a;
      tavo::stigmat(s_, 1, a);
      return matrix(a);
    });
  }

  // The second-order matrix: rows x, theta, y, phi; columns the four first-
  // order terms then the ten monomials x^2, x th, x y, x ph, th^2, th y,
  // th ph, y^2, y ph, ph^2.
  py::array_t<double> secondOrder() {
    return quietly([&] {
      tavo::Mat4 a;
      tavo::stigmat(s_, 2, a);
      std::vector<double> v(4 * 14);
      for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 14; ++c) v[static_cast<size_t>((r - 1) * 14 + c - 1)] = s_.aber2(r, c);
      return owned(std::move(v), {4, 14});
    });
  }

  // Third-order coefficients as AB3 prints them: image side, micron and
  // mrad, rows x and y, the ten terms of the coefficient file's order.
  py::array_t<double> ab3() {
    return quietly([&] {
      tavo::Mat4 a;
      tavo::stigmat(s_, -3, a);
      double cc[2][10];
      tavo::imageCoefficients(s_, s_.syspa, s_.aber3.total, cc);
      std::vector<double> v(20);
      for (int p = 0; p < 2; ++p)
        for (int j = 0; j < 10; ++j) v[static_cast<size_t>(p * 10 + j)] = cc[p][j];
      return owned(std::move(v), {2, 10});
    });
  }

  // The third-order system vector (20 values, x and y interleaved, m/rad).
  py::array_t<double> thirdOrder() {
    return quietly([&] {
      tavo::Mat4 a;
      tavo::stigmat(s_, -3, a);
      std::vector<double> v(s_.aber3.total.a.begin(), s_.aber3.total.a.end());
      return owned(std::move(v), {20});
    });
  }

  // Focal lengths and magnifications at the system end.
  py::dict image() {
    return quietly([&] {
      tavo::Mat4 a;
      tavo::stigmat(s_, 1, a);
      double fx = 0, fy = 0, mx = 0, my = 0;
      tavo::focal(s_, s_.syspa, fx, fy, false);
      tavo::mag(s_, s_.syspa, mx, my, false);
      py::dict d;
      d["focal"] = py::make_tuple(fx, fy);
      d["magnification"] = py::make_tuple(mx, my);
      d["length"] = s_.syspb.totlen;
      return d;
    });
  }

  // The transfer map integrated through the fields (hard or soft edges),
  // to the order asked for (at most 7), with the fringe length as a
  // multiple of the bore radius (FRINGE's value when not given). Returns
  // the exponents of the monomials (m, 4: x, theta, y, phi) and their
  // coefficients in x, theta, y, phi at the system end (4, m), SI units.
  py::tuple exactMap(const std::string& edges, int order, py::object fringe) {
    if (edges != "soft" && edges != "hard") throw py::value_error("edges is 'soft' or 'hard'");
    if (order < 1 || order > tavo::da::kMaxOrder) throw py::value_error("order is 1..7");
    return quietly([&] {
      tavo::Mat4 a;
      tavo::stigmat(s_, 1, a);
      tavo::Lattice lat;
      std::string why;
      if (!tavo::buildLattice(s_, lat, why)) throw ProgramError(why);
      tavo::MapSettings set;
      set.model = edges == "soft" ? tavo::EdgeModel::Soft : tavo::EdgeModel::Hard;
      set.fringe = fringe.is_none() ? s_.fringe : fringe.cast<double>();
      if (!(set.fringe > 0)) throw py::value_error("the fringe length must be positive");
      const tavo::da::Space sp(4, order);
      std::vector<tavo::da::Poly> map;
      {
        py::gil_scoped_release nogil;
        if (!tavo::systemMap(lat, set, sp, map, why)) why = why.empty() ? "no map" : why;
        else why.clear();
      }
      if (!why.empty()) throw ProgramError(why);
      const int m = sp.size();
      std::vector<int> ex(static_cast<size_t>(m) * 4);
      std::vector<double> c(static_cast<size_t>(m) * 4);
      for (int i = 0; i < m; ++i)
        for (int v = 0; v < 4; ++v) {
          ex[static_cast<size_t>(i * 4 + v)] = sp.exps(i)[static_cast<size_t>(v)];
          c[static_cast<size_t>(v * m + i)] = map[static_cast<size_t>(v)][i];
        }
      return py::make_tuple(owned(std::move(ex), {m, 4}), owned(std::move(c), {4, m}));
    });
  }

 private:
  template <class F>
  void feedLines(const std::string& text, F f) {
    in.clear();
    in.str(text);
    f();
    out.str("");
  }
  template <class F>
  std::invoke_result_t<F> quietly(F f) {
    if (s_.syspa < 3) throw ProgramError("no lens system loaded (load or DATA first)");
    auto r = f();
    out.str("");
    return r;
  }
  void checkRow(int row) const {
    if (row < 1 || row > std::max(s_.syspa, 2))
      throw py::index_error("row " + std::to_string(row) + " is not 1.." + std::to_string(s_.syspa));
  }
  static py::array_t<double> matrix(const tavo::Mat4& a) {
    std::vector<double> v(16);
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 4; ++c) v[static_cast<size_t>((r - 1) * 4 + c - 1)] = a(r, c);
    return owned(std::move(v), {4, 4});
  }

  tavo::Tavo s_;
  bool echo_;
};

// ---- KESTRIM ----

using Rays = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<double> flat(const Rays& r) {
  if (r.ndim() != 2 || r.shape(1) != 5) throw py::value_error("rays must be an (n, 5) array");
  return std::vector<double>(r.data(), r.data() + r.size());
}

class KestrimSession : private Streams {
 public:
  explicit KestrimSession(bool echo) : k_(in, out), echo_(echo) {
    in.str("");
    kestrim::kqstart(k_);
    out.str("");
  }
  ~KestrimSession() {
    std::string none;
    int ierr = 0;
    kestrim::kqio(k_, 'E', none, ierr);
    k_.gx.io.closeAll();
  }

  std::string run(const std::string& line, const std::vector<std::string>& answers, bool check) {
    if (!k_.running) throw ProgramError("the KESTRIM session has ended (EXIT)");
    return feed(
        *this, lines(line, answers), [&] { kestrim::kqstep(k_); },
        [&] { return k_.io.in == gx::Io::kIn; }, [&] { return k_.running; }, echo_, check);
  }

  void readCof(const std::string& name) {
    std::string n = name;
    const int st = kestrim::cofin(k_, n);
    const std::string o = out.str();
    out.str("");
    if (st != 0) {
      const std::string e = firstError(o);
      throw ProgramError(e.empty() ? "cannot read the coefficient file " + name + "\n" + o : e);
    }
  }

  // Rays at the object through the aberration polynomial to the end of the
  // system: (n, 5) in, (n, 5) out, DE passed on.
  // out (an (n, 5) float64 array) receives the mapped rays instead of a
  // new array, as numpy's out= does.
  py::array_t<double> map(const Rays& rays, bool solenoid, py::object outArg) {
    checkCof();
    if (rays.ndim() != 2 || rays.shape(1) != 5) throw py::value_error("rays must be an (n, 5) array");
    const py::ssize_t n = rays.shape(0);
    std::vector<double> o;
    py::array_t<double> given;
    double* dst = nullptr;
    if (!outArg.is_none()) {
      // Taken as it is: a cast that converted it would write into a copy.
      py::array any = outArg.cast<py::array>();
      if (!any.dtype().is(py::dtype::of<double>()))
        throw py::value_error("out must be a float64 array");
      given = py::reinterpret_borrow<py::array_t<double>>(any);
      if (given.ndim() != 2 || given.shape(0) != n || given.shape(1) != 5 ||
          !(given.flags() & py::array::c_style) || !given.writeable() ||
          !given.dtype().is(py::dtype::of<double>()))
        throw py::value_error("out must be a writable C-ordered float64 array of the rays' shape");
      dst = given.mutable_data();
    } else {
      o.resize(static_cast<size_t>(n) * 5);
      dst = o.data();
    }
    const double* r = rays.data();
    {
      py::gil_scoped_release nogil;
      for (py::ssize_t i = 0; i < n; ++i) {
        const double* v = r + 5 * i;
        double* w = dst + 5 * i;
        if (solenoid)
          kestrim::cofsole(k_, v[0], v[1], v[2], v[3], v[4], w[0], w[1], w[2], w[3]);
        else
          kestrim::coftran(k_, v[0], v[1], v[2], v[3], v[4], w[0], w[1], w[2], w[3]);
        w[4] = v[4];
      }
    }
    if (dst != o.data()) return given;
    return owned(std::move(o), {n, 5});
  }

  // The current ray set (the read channel) as an (n, 5) array.
  py::array_t<double> rays() {
    std::vector<double> v;
    v.reserve(static_cast<size_t>(std::max(k_.ntot, 0)) * 5);
    kestrim::kqeach(k_, 1, [&](int, double x, double th, double y, double ph, double de) {
      v.insert(v.end(), {x, th, y, ph, de});
    });
    out.str("");
    const py::ssize_t n = static_cast<py::ssize_t>(v.size() / 5);
    return owned(std::move(v), {n, 5});
  }

  py::array_t<double> readRays(const std::string& name) {
    run("DATA " + name, {}, true);
    if (k_.ntot == 0 && !k_.gx.io.isOpen(k_.rays.unitR))
      throw ProgramError("cannot open the ray set " + name);
    return rays();
  }

  // Writes rays as a ray-set file with the caption; it becomes current.
  void writeRays(const std::string& name, const Rays& r, const std::string& caption) {
    std::vector<double> v = flat(r);
    k_.caption = gx::pad(caption, 100);
    std::string n = gx::pad(name, 100);
    int ierr = 1;
    kestrim::kqio(k_, 'W', n, ierr);
    if (ierr != 0) throw ProgramError(firstLine("cannot write " + name));
    for (size_t i = 0; i < v.size(); i += 5)
      if (!kestrim::kqrays(k_, 'W', 0, v[i], v[i + 1], v[i + 2], v[i + 3], v[i + 4])) {
        k_.gx.io.close(k_.rays.unitW, false);
        throw ProgramError(firstLine("cannot write " + name));
      }
    kestrim::kqioend(k_, 'W');
    kestrim::kqio(k_, 'R', n, ierr);
    out.str("");
    if (ierr != 0) throw ProgramError("cannot reopen " + name);
    k_.rayFile = n;
  }

  py::tuple readOpenPMD(const std::string& name, py::object iteration, const std::string& group) {
    std::uint64_t it = std::numeric_limits<std::uint64_t>::max();
    if (!iteration.is_none()) it = iteration.cast<std::uint64_t>();
    kestrim::opmd::Read r;
    const std::string why = kestrim::opmd::read(name, it, group, r);
    if (!why.empty()) throw ProgramError(why);
    py::dict info;
    info["species"] = r.beam.species.type;
    info["charge"] = r.beam.species.charge;
    info["mass"] = r.beam.species.massAmu;
    info["energy"] = r.beam.energyMeV;
    info["total_charge"] = r.beam.totalCharge;
    info["caption"] = r.beam.caption;
    info["notes"] = r.notes;
    const py::ssize_t n = static_cast<py::ssize_t>(r.rays.size() / 5);
    return py::make_tuple(owned(std::move(r.rays), {n, 5}), info);
  }

  void writeOpenPMD(const std::string& name, const Rays& r, const std::string& species,
                    double energy, py::object charge, py::object mass, double totalCharge,
                    const std::string& caption) {
    kestrim::opmd::Beam b;
    if (!kestrim::opmd::knownSpecies(species, b.species)) {
      if (charge.is_none() || mass.is_none())
        throw py::value_error(species + " needs its charge number and mass (u)");
      b.species = {species, charge.cast<int>(), mass.cast<double>()};
    }
    b.energyMeV = energy;
    b.totalCharge = totalCharge;
    b.caption = caption;
    const std::string why = kestrim::opmd::write(name, flat(r), b, true);
    if (!why.empty()) throw ProgramError(why);
  }

  // SYNTH: synthesises a ray set from the coefficient file cof into
  // name.bin (the current set afterwards) with the dialogue's answers;
  // the time of day fixes the seed as it does for SYNTH. Returns the rays.
  py::array_t<double> synth(const std::string& name, const std::string& cof, int mode, double n,
                            std::pair<double, double> object, std::pair<double, double> aperture,
                            double spread, bool square, std::pair<double, double> peaking,
                            const std::string& time) {
    if (mode < 1 || mode > 3) throw py::value_error("mode is 1 (random), 2 (regular) or 3 (divergence)");
    auto two = [](std::pair<double, double> p) { return num(p.first) + " " + num(p.second); };
    std::vector<std::string> a = {cof, "", std::to_string(mode), num(n), square ? "S" : "C",
                                  two(object)};
    if (mode != 3) a.push_back("0 0");   // object offsets
    a.push_back(two(aperture));
    a.push_back("0 0");                   // aperture offsets
    if (k_.flags.colour) a.push_back("");
    a.push_back(num(spread));
    a.push_back(two(peaking));
    a.push_back("Q");
    setTime(time);
    std::string o;
    try {
      o = run("SYNTH " + name, a, true);
    } catch (...) {
      setTime("");
      throw;
    }
    setTime("");
    if (o.find("rays generated total.") == std::string::npos)
      throw ProgramError("SYNTH made no ray set:\n" + o);
    return rays();
  }

  // SORT into an n x n grid at the plane z (micron from the set's reference
  // plane) over a square of side range (micron; 0: SORT's own); the grid
  // file name.agp is written as by SORT. Returns the cell centres (micron)
  // and the counts, counts[j, i] for y index j and x index i.
  py::tuple sort(const std::string& name, int n, double z, double range) {
    const std::string file = name + ".agp";
    std::remove(file.c_str());
    run("SORT " + name, {std::to_string(n), num(z), range == 0 ? "" : num(range)}, true);
    std::vector<double> x, y, c;
    readTable(file, 7 - 4, x, y, c);
    const size_t m = static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(c.size()))));
    if (m * m != c.size() || m == 0) throw ProgramError("SORT wrote no grid to " + file);
    std::vector<double> xs(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(m)), ys;
    for (size_t j = 0; j < m; ++j) ys.push_back(y[j * m]);
    const py::ssize_t mm = static_cast<py::ssize_t>(m);
    return py::make_tuple(owned(std::move(xs), {mm}), owned(std::move(ys), {mm}),
                          owned(std::move(c), {mm, mm}));
  }

  // PROFIL of X, Y or E with n channels into name + letter + .fit; returns
  // the channel positions (micron from the range's centre, or the energy
  // axis as PROFIL writes it) and the counts.
  py::tuple profile(const std::string& name, char option, int n) {
    const char o = static_cast<char>(std::toupper(static_cast<unsigned char>(option)));
    if (o != 'X' && o != 'Y' && o != 'E') throw py::value_error("option is X, Y or E");
    std::string file = name + static_cast<char>(std::tolower(static_cast<unsigned char>(o))) + ".fit";
    for (char& ch : file) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::remove(file.c_str());
    run(std::string("PROFIL/") + o + " " + name, {std::to_string(n)}, true);
    std::vector<double> x, c, e;
    readTable(file, 7, x, c, e);
    const py::ssize_t m = static_cast<py::ssize_t>(x.size());
    return py::make_tuple(owned(std::move(x), {m}), owned(std::move(c), {m}));
  }

  int ntot() const { return k_.ntot; }
  // Fixes the time of day SYNTH reads ("HH:MM:SS"): the same time gives the
  // same seed and so the same rays. Empty: the clock again.
  void setTime(const std::string& t) {
    if (t.empty())
      k_.gx.clock = nullptr;
    else
      k_.gx.clock = [t] { return t; };
  }

 private:
  static std::string num(double v) {
    std::ostringstream s;
    s.precision(17);
    s << v;
    return s.str();
  }
  // The three comma-separated numbers of each line of a data file after
  // its header lines.
  static void readTable(const std::string& file, int header, std::vector<double>& a,
                        std::vector<double>& b, std::vector<double>& c) {
    std::ifstream f(file);
    if (!f) throw ProgramError("no file " + file + " was written");
    std::string l;
    for (int i = 0; i < header && std::getline(f, l); ++i) {
    }
    while (std::getline(f, l)) {
      for (char& ch : l)
        if (ch == ',') ch = ' ';
      std::istringstream is(l);
      double u, v, w;
      if (is >> u >> v >> w) a.push_back(u), b.push_back(v), c.push_back(w);
    }
  }
  std::string firstLine(const std::string& dflt) {
    const std::string o = out.str();
    out.str("");
    const std::string e = firstError(o);
    return e.empty() ? dflt : e;
  }
  // A store whose first-order matrix is all zero holds no system.
  void checkCof() const {
    for (int i = 0; i < 16; ++i)
      if (k_.bmat.a[static_cast<size_t>(i)] != 0.0) return;
    throw ProgramError("no coefficients loaded (read_cof, or SYNTH through run)");
  }

  kestrim::Kestrim k_;
  bool echo_;
};

}  // namespace

PYBIND11_MODULE(tavokestrim, m) {
  m.doc() = "TAVO (lens-system optics design) and KESTRIM (ray mapping) sessions";
  py::register_exception<ProgramError>(m, "Error", PyExc_RuntimeError);

  py::class_<TavoSession>(m, "Tavo", "A TAVO session in the current folder")
      .def(py::init<bool>(), py::arg("echo") = false)
      .def("run", &TavoSession::run, py::arg("line"), py::arg("answers") = std::vector<std::string>{},
           py::arg("check") = true,
           "Runs one command line (and the answers to its prompts); returns the output. "
           "A message beginning with '?' raises tavokestrim.Error unless check=False.")
      .def("load", &TavoSession::load, py::arg("name"), "DATA name: loads a .tav lens system")
      .def("save", [](TavoSession& t, const std::string& n) { return t.run("SAVE " + n, {}, true); },
           py::arg("name"))
      .def("cofout",
           [](TavoSession& t, const std::string& n, const std::string& shape) {
             return t.run("COFOUT " + n, {shape}, true);
           },
           py::arg("name"), py::arg("aperture") = "C", "Writes the coefficient file name.cof")
      .def("stig", [](TavoSession& t) { return t.run("STIG", {}, true); })
      .def("cram", [](TavoSession& t) { return t.run("CRAM", {}, true); })
      .def("exact",
           [](TavoSession& t, const std::string& qual) {
             return t.run(qual.empty() ? "EXACT" : "EXACT/" + qual, {}, true);
           },
           py::arg("qualifier") = "", "EXACT (F: refit the image plane; C: correct)")
      .def("fringe",
           [](TavoSession& t, double length) { return t.run("FRINGE " + std::to_string(length), {}, true); },
           py::arg("length"))
      .def("element", &TavoSession::element, py::arg("row"), "Row of the element table (12 columns)")
      .def("set", &TavoSession::set, py::arg("row"), py::arg("column"), py::arg("value"))
      .def_property_readonly("elements", &TavoSession::elements)
      .def_property_readonly("title", &TavoSession::title)
      .def("first_order", &TavoSession::firstOrder)
      .def("second_order", &TavoSession::secondOrder)
      .def("third_order", &TavoSession::thirdOrder)
      .def("ab3", &TavoSession::ab3)
      .def("image", &TavoSession::image)
      .def("exact_map", &TavoSession::exactMap, py::arg("edges") = "soft", py::arg("order") = 5,
           py::arg("fringe") = py::none());

  py::class_<KestrimSession>(m, "Kestrim", "A KESTRIM session in the current folder")
      .def(py::init<bool>(), py::arg("echo") = false)
      .def("run", &KestrimSession::run, py::arg("line"),
           py::arg("answers") = std::vector<std::string>{}, py::arg("check") = true)
      .def("read_cof", &KestrimSession::readCof, py::arg("name"))
      .def("map", &KestrimSession::map, py::arg("rays"), py::arg("solenoid") = false,
           py::arg("out") = py::none(),
           "Rays at the object through the coefficient file's polynomial: an (n, 5) array")
      .def("rays", &KestrimSession::rays, "The current ray set as an (n, 5) array")
      .def("read_rays", &KestrimSession::readRays, py::arg("name"))
      .def("write_rays", &KestrimSession::writeRays, py::arg("name"), py::arg("rays"),
           py::arg("caption") = "")
      .def("read_openpmd", &KestrimSession::readOpenPMD, py::arg("name"),
           py::arg("iteration") = py::none(), py::arg("group") = "")
      .def("write_openpmd", &KestrimSession::writeOpenPMD, py::arg("name"), py::arg("rays"),
           py::arg("species"), py::arg("energy"), py::arg("charge") = py::none(),
           py::arg("mass") = py::none(),
           py::arg("total_charge") = std::numeric_limits<double>::quiet_NaN(),
           py::arg("caption") = "")
      .def("set_time", &KestrimSession::setTime, py::arg("time"))
      .def("synth", &KestrimSession::synth, py::arg("name"), py::arg("cof"), py::arg("mode") = 2,
           py::arg("rays") = 100, py::arg("object") = std::pair<double, double>{0, 0},
           py::arg("aperture") = std::pair<double, double>{0, 0}, py::arg("spread") = 0.0,
           py::arg("square") = false, py::arg("peaking") = std::pair<double, double>{0, 0},
           py::arg("time") = "00:00:00",
           "SYNTH: object (micron, or degrees in mode 3) and aperture (mm) full sizes, "
           "energy half spread (%), flux-peaking indices; the time of day seeds the generator")
      .def("sort", &KestrimSession::sort, py::arg("name"), py::arg("n") = 25, py::arg("z") = 0.0,
           py::arg("range") = 0.0)
      .def("profile", &KestrimSession::profile, py::arg("name"), py::arg("option") = 'X',
           py::arg("channels") = 20)
      .def_property_readonly("ntot", &KestrimSession::ntot);
}
