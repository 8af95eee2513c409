// openPMD particle files through the HDF5 C library.
#include "kestrim/openpmd.h"

#include <hdf5.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "gxlib/fortran/tmpfile.h"

namespace kestrim::opmd {

namespace {

constexpr double kC = 299792458.0;              // speed of light (m/s)
constexpr double kE = 1.602176634e-19;          // elementary charge (C)
constexpr double kU = 1.66053906660e-27;        // atomic mass unit (kg)
constexpr double kMeV = 1e6 * kE;               // one MeV in J
constexpr const char* kVersion = "2.0.0";

// Holds one HDF5 identifier and closes it with its own close routine.
class Hid {
 public:
  Hid() = default;
  Hid(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  Hid(const Hid&) = delete;
  Hid& operator=(const Hid&) = delete;
  Hid(Hid&& o) noexcept : id_(o.id_), close_(o.close_) { o.id_ = -1; }
  Hid& operator=(Hid&& o) noexcept {
    if (this != &o) {
      reset();
      id_ = o.id_;
      close_ = o.close_;
      o.id_ = -1;
    }
    return *this;
  }
  ~Hid() { reset(); }
  void reset() {
    if (id_ >= 0 && close_) close_(id_);
    id_ = -1;
  }
  hid_t get() const { return id_; }
  hid_t release() {
    hid_t id = id_;
    id_ = -1;
    return id;
  }
  bool ok() const { return id_ >= 0; }

 private:
  hid_t id_ = -1;
  herr_t (*close_)(hid_t) = nullptr;
};

// HDF5 prints its own error stack by default; the program says what went
// wrong in its own words instead. The previous handler comes back after.
class Quiet {
 public:
  Quiet() {
    H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  ~Quiet() { H5Eset_auto2(H5E_DEFAULT, func_, data_); }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;

 private:
  H5E_auto2_t func_ = nullptr;
  void* data_ = nullptr;
};

struct Fail {
  std::string why;
};

// ---- writing ----

void attrString(hid_t obj, const char* name, const std::string& v) {
  Hid type(H5Tcopy(H5T_C_S1), H5Tclose);
  H5Tset_size(type.get(), std::max<size_t>(v.size(), 1));
  H5Tset_strpad(type.get(), H5T_STR_NULLPAD);
  Hid space(H5Screate(H5S_SCALAR), H5Sclose);
  Hid a(H5Acreate2(obj, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  std::string buf = v.empty() ? std::string(1, '\0') : v;
  if (!a.ok() || H5Awrite(a.get(), type.get(), buf.data()) < 0)
    throw Fail{std::string("cannot write the attribute ") + name};
}

void attrDoubles(hid_t obj, const char* name, const double* v, hsize_t n, bool scalar) {
  Hid space(scalar ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &n, nullptr), H5Sclose);
  Hid a(H5Acreate2(obj, name, H5T_IEEE_F64LE, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  if (!a.ok() || H5Awrite(a.get(), H5T_NATIVE_DOUBLE, v) < 0)
    throw Fail{std::string("cannot write the attribute ") + name};
}
void attrDouble(hid_t obj, const char* name, double v) { attrDoubles(obj, name, &v, 1, true); }

void attrU64(hid_t obj, const char* name, const std::uint64_t* v, hsize_t n, bool scalar) {
  Hid space(scalar ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &n, nullptr), H5Sclose);
  Hid a(H5Acreate2(obj, name, H5T_STD_U64LE, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  if (!a.ok() || H5Awrite(a.get(), H5T_NATIVE_UINT64, v) < 0)
    throw Fail{std::string("cannot write the attribute ") + name};
}

void attrInt(hid_t obj, const char* name, int v) {
  Hid space(H5Screate(H5S_SCALAR), H5Sclose);
  Hid a(H5Acreate2(obj, name, H5T_STD_I32LE, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  if (!a.ok() || H5Awrite(a.get(), H5T_NATIVE_INT, &v) < 0)
    throw Fail{std::string("cannot write the attribute ") + name};
}

Hid group(hid_t parent, const std::string& name) {
  Hid g(H5Gcreate2(parent, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
  if (!g.ok()) throw Fail{"cannot make the group " + name};
  return g;
}

// Powers of length, mass, time, current, temperature, amount, luminosity.
using Dim = std::array<double, 7>;
constexpr Dim kNone{0, 0, 0, 0, 0, 0, 0};
constexpr Dim kLength{1, 0, 0, 0, 0, 0, 0};
constexpr Dim kMomentum{1, 1, -1, 0, 0, 0, 0};
constexpr Dim kTime{0, 0, 1, 0, 0, 0, 0};
constexpr Dim kMass{0, 1, 0, 0, 0, 0, 0};
constexpr Dim kCharge{0, 0, 1, 1, 0, 0, 0};

void recordAttrs(hid_t rec, const Dim& dim) {
  attrDoubles(rec, "unitDimension", dim.data(), 7, false);
  attrDouble(rec, "timeOffset", 0.0);
}


// A scalar record held as a dataset of its own.
void scalarRecord(hid_t parent, const char* name, const std::vector<double>& v, double unitSI,
                  const Dim& dim) {
  hsize_t n = v.size();
  Hid space(H5Screate_simple(1, &n, nullptr), H5Sclose);
  Hid d(H5Dcreate2(parent, name, H5T_IEEE_F64LE, space.get(), H5P_DEFAULT, H5P_DEFAULT,
                   H5P_DEFAULT),
        H5Dclose);
  if (!d.ok() || (n > 0 && H5Dwrite(d.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                    v.data()) < 0))
    throw Fail{std::string("cannot write the record ") + name};
  attrDouble(d.get(), "unitSI", unitSI);
  recordAttrs(d.get(), dim);
}

void intRecord(hid_t parent, const char* name, const std::vector<int>& v) {
  hsize_t n = v.size();
  Hid space(H5Screate_simple(1, &n, nullptr), H5Sclose);
  Hid d(H5Dcreate2(parent, name, H5T_STD_I32LE, space.get(), H5P_DEFAULT, H5P_DEFAULT,
                   H5P_DEFAULT),
        H5Dclose);
  if (!d.ok() || (n > 0 && H5Dwrite(d.get(), H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                    v.data()) < 0))
    throw Fail{std::string("cannot write the record ") + name};
  attrDouble(d.get(), "unitSI", 1.0);
  recordAttrs(d.get(), kNone);
}

// One component of a vector record.
void component(hid_t rec, const char* name, const std::vector<double>& v, double unitSI) {
  hsize_t n = v.size();
  Hid space(H5Screate_simple(1, &n, nullptr), H5Sclose);
  Hid d(H5Dcreate2(rec, name, H5T_IEEE_F64LE, space.get(), H5P_DEFAULT, H5P_DEFAULT,
                   H5P_DEFAULT),
        H5Dclose);
  if (!d.ok() || (n > 0 && H5Dwrite(d.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                    v.data()) < 0))
    throw Fail{std::string("cannot write the component ") + name};
  attrDouble(d.get(), "unitSI", unitSI);
}

// A component with one value for every particle: a group that holds it.
void constant(hid_t parent, const char* name, double value, std::uint64_t n, double unitSI) {
  Hid g = group(parent, name);
  attrDouble(g.get(), "value", value);
  attrU64(g.get(), "shape", &n, 1, false);
  attrDouble(g.get(), "unitSI", unitSI);
}

// A scalar record with one value for every particle.
void constantRecord(hid_t parent, const char* name, double value, std::uint64_t n, double unitSI,
                    const Dim& dim) {
  Hid g = group(parent, name);
  attrDouble(g.get(), "value", value);
  attrU64(g.get(), "shape", &n, 1, false);
  attrDouble(g.get(), "unitSI", unitSI);
  recordAttrs(g.get(), dim);
}

std::string now() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

// A group name from a species name: only letters, digits and underscores.
std::string groupName(const std::string& type) {
  std::string g;
  for (char ch : type) g += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return g.empty() ? std::string("particles") : g;
}

std::string trimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// The file's own attributes: what it is and who wrote it.
void fileAttrs(hid_t f) {
  attrString(f, "openPMD", kVersion);
  attrString(f, "openPMDextension", "BeamPhysics;SpeciesType");
  attrString(f, "basePath", "/data/%T/");
  attrString(f, "particlesPath", "particles/");
  attrString(f, "iterationEncoding", "groupBased");
  attrString(f, "iterationFormat", "/data/%T/");
  attrString(f, "fileType", "openPMD");
  attrString(f, "software", "KESTRIM");
  attrString(f, "softwareVersion", "2");
  attrString(f, "author", "KESTRIM");
  attrString(f, "date", now());
}

void writeFile(hid_t f, const std::vector<double>& rays, const Beam& beam, bool pair) {
  const std::uint64_t n = rays.size() / 5;
  fileAttrs(f);
  Hid data = group(f, "data");
  Hid it = group(data.get(), "0");
  attrDouble(it.get(), "time", 0.0);
  attrDouble(it.get(), "dt", 0.0);
  attrDouble(it.get(), "timeUnitSI", 1.0);
  Hid parts = group(it.get(), "particles");
  Hid sp = group(parts.get(), groupName(beam.species.type));
  attrString(sp.get(), "speciesType", beam.species.type);
  attrU64(sp.get(), "numParticles", &n, 1, true);
  if (std::isfinite(beam.totalCharge)) {
    attrDouble(sp.get(), "totalCharge", beam.totalCharge);
    attrDouble(sp.get(), "chargeUnitSI", 1.0);
  }
  // What a ray set holds beyond its particles.
  attrString(sp.get(), "comment", trimRight(beam.caption));
  attrInt(sp.get(), "kestrimParaxialPair", pair ? 1 : 0);
  attrDouble(sp.get(), "kestrimEnergyMeV", beam.energyMeV);

  const double m = beam.species.massAmu;
  const double p0 = momentumSI(m, beam.energyMeV);
  std::vector<double> x(n), y(n), z(n, 0.0), px(n), py(n), pz(n), dp(n), th(n), ph(n), de(n),
      w(n, 1.0), t(n, 0.0);
  std::vector<int> status(n, 1);   // a ray set holds only rays that passed
  for (std::uint64_t i = 0; i < n; ++i) {
    const double* r = &rays[5 * i];
    x[i] = r[0], th[i] = r[1], y[i] = r[2], ph[i] = r[3], de[i] = r[4];
    const double p = momentumSI(m, beam.energyMeV * (1.0 + r[4] / 100.0));
    pz[i] = p / std::sqrt(1.0 + r[1] * r[1] + r[3] * r[3]);
    px[i] = pz[i] * r[1];
    py[i] = pz[i] * r[3];
    dp[i] = p - p0;
  }
  // The paraxial pair traces the image planes; it carries no beam.
  if (pair)
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(2, n); ++i) w[i] = 0.0;

  {
    Hid g = group(sp.get(), "position");
    recordAttrs(g.get(), kLength);
    component(g.get(), "x", x, 1.0);
    component(g.get(), "y", y, 1.0);
    component(g.get(), "z", z, 1.0);
  }
  {
    Hid g = group(sp.get(), "positionOffset");
    recordAttrs(g.get(), kLength);
    for (const char* c : {"x", "y", "z"}) constant(g.get(), c, 0.0, n, 1.0);
  }
  {
    Hid g = group(sp.get(), "momentum");
    recordAttrs(g.get(), kMomentum);
    component(g.get(), "x", px, 1.0);
    component(g.get(), "y", py, 1.0);
    component(g.get(), "z", pz, 1.0);
  }
  scalarRecord(sp.get(), "totalMomentum", dp, 1.0, kMomentum);
  constantRecord(sp.get(), "totalMomentumOffset", p0, n, 1.0, kMomentum);
  scalarRecord(sp.get(), "weight", w, 1.0, kNone);
  intRecord(sp.get(), "particleStatus", status);
  scalarRecord(sp.get(), "time", t, 1.0, kTime);
  constantRecord(sp.get(), "mass", m * kU, n, 1.0, kMass);
  constantRecord(sp.get(), "charge", beam.species.charge * kE, n, 1.0, kCharge);
  {
    Hid g = group(sp.get(), "slope");
    recordAttrs(g.get(), kNone);
    component(g.get(), "x", th, 1.0);
    component(g.get(), "y", ph, 1.0);
  }
  scalarRecord(sp.get(), "energyDeviation", de, 0.01, kNone);
}

// ---- reading ----

bool hasAttr(hid_t obj, const char* name) { return H5Aexists(obj, name) > 0; }

bool linkExists(hid_t loc, const std::string& path) {
  // Each step of a path must exist before the next is asked about.
  size_t pos = 0;
  while (true) {
    size_t slash = path.find('/', pos);
    std::string part = path.substr(0, slash);
    if (H5Lexists(loc, part.c_str(), H5P_DEFAULT) <= 0) return false;
    if (slash == std::string::npos) return true;
    pos = slash + 1;
  }
}

bool readAttrString(hid_t obj, const char* name, std::string& v) {
  if (!hasAttr(obj, name)) return false;
  Hid a(H5Aopen(obj, name, H5P_DEFAULT), H5Aclose);
  if (!a.ok()) return false;
  Hid type(H5Aget_type(a.get()), H5Tclose);
  if (H5Tget_class(type.get()) != H5T_STRING) return false;
  Hid space(H5Aget_space(a.get()), H5Sclose);
  if (H5Sget_simple_extent_npoints(space.get()) != 1) return false;
  if (H5Tis_variable_str(type.get()) > 0) {
    Hid mem(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(mem.get(), H5T_VARIABLE);
    H5Tset_cset(mem.get(), H5Tget_cset(type.get()));   // h5py writes UTF-8
    char* s = nullptr;
    if (H5Aread(a.get(), mem.get(), &s) < 0) return false;
    v = s ? s : "";
    H5free_memory(s);
    return true;
  }
  size_t size = H5Tget_size(type.get());
  if (size == 0 || size > (1u << 20)) return false;
  std::string buf(size, '\0');
  Hid mem(H5Tcopy(H5T_C_S1), H5Tclose);
  H5Tset_size(mem.get(), size);
  H5Tset_strpad(mem.get(), H5T_STR_NULLPAD);
  H5Tset_cset(mem.get(), H5Tget_cset(type.get()));
  if (H5Aread(a.get(), mem.get(), buf.data()) < 0) return false;
  v = buf.substr(0, buf.find('\0'));
  return true;
}

// A numeric attribute of one value (a scalar or an array of one).
bool readAttrDouble(hid_t obj, const char* name, double& v) {
  if (!hasAttr(obj, name)) return false;
  Hid a(H5Aopen(obj, name, H5P_DEFAULT), H5Aclose);
  if (!a.ok()) return false;
  Hid type(H5Aget_type(a.get()), H5Tclose);
  H5T_class_t c = H5Tget_class(type.get());
  if (c != H5T_FLOAT && c != H5T_INTEGER) return false;
  Hid space(H5Aget_space(a.get()), H5Sclose);
  if (H5Sget_simple_extent_npoints(space.get()) != 1) return false;
  return H5Aread(a.get(), H5T_NATIVE_DOUBLE, &v) >= 0;
}

bool isGroup(hid_t loc, const std::string& path) {
  H5O_info_t info;
  if (H5Oget_info_by_name(loc, path.c_str(), &info, H5P_DEFAULT) < 0) return false;
  return info.type == H5O_TYPE_GROUP;
}

std::vector<std::string> children(hid_t g) {
  std::vector<std::string> out;
  H5G_info_t info;
  if (H5Gget_info(g, &info) < 0) return out;
  for (hsize_t i = 0; i < info.nlinks; ++i) {
    ssize_t len = H5Lget_name_by_idx(g, ".", H5_INDEX_NAME, H5_ITER_INC, i, nullptr, 0,
                                     H5P_DEFAULT);
    if (len <= 0) continue;
    std::string name(static_cast<size_t>(len) + 1, '\0');
    H5Lget_name_by_idx(g, ".", H5_INDEX_NAME, H5_ITER_INC, i, name.data(), name.size(),
                       H5P_DEFAULT);
    name.resize(static_cast<size_t>(len));
    out.push_back(name);
  }
  return out;
}

// One component in SI: a dataset of n numbers or a constant group, times
// its unitSI. raw (when given) receives the values as stored.
std::vector<double> readComponent(hid_t sp, const std::string& path, std::uint64_t n,
                                  std::vector<double>* raw = nullptr, double* unitOut = nullptr) {
  std::vector<double> v;
  double unit = 1.0;
  if (isGroup(sp, path)) {
    Hid g(H5Gopen2(sp, path.c_str(), H5P_DEFAULT), H5Gclose);
    double value = 0;
    if (!g.ok() || !readAttrDouble(g.get(), "value", value))
      throw Fail{path + " is a group without a value: neither a dataset nor a constant"};
    readAttrDouble(g.get(), "unitSI", unit);
    v.assign(n, value);
  } else {
    Hid d(H5Dopen2(sp, path.c_str(), H5P_DEFAULT), H5Dclose);
    if (!d.ok()) throw Fail{path + " cannot be read"};
    Hid type(H5Dget_type(d.get()), H5Tclose);
    H5T_class_t c = H5Tget_class(type.get());
    if (c != H5T_FLOAT && c != H5T_INTEGER) throw Fail{path + " does not hold numbers"};
    Hid space(H5Dget_space(d.get()), H5Sclose);
    int rank = H5Sget_simple_extent_ndims(space.get());
    hsize_t dims[8] = {0};
    if (rank != 1 || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != 1)
      throw Fail{path + " is not a list of one value per particle (rank " +
                 std::to_string(rank) + ")"};
    if (dims[0] != n)
      throw Fail{path + " holds " + std::to_string(dims[0]) + " values, not " +
                 std::to_string(n)};
    v.resize(n);
    if (n > 0 &&
        H5Dread(d.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()) < 0)
      throw Fail{path + " cannot be read: the file is damaged or truncated"};
    readAttrDouble(d.get(), "unitSI", unit);
  }
  if (raw) *raw = v;
  if (unitOut) *unitOut = unit;
  if (unit != 1.0)
    for (double& e : v) e *= unit;
  return v;
}

// The length of a dataset of one value per particle (0 when not one).
std::uint64_t lengthOf(hid_t sp, const std::string& path) {
  if (isGroup(sp, path)) return 0;
  Hid d(H5Dopen2(sp, path.c_str(), H5P_DEFAULT), H5Dclose);
  if (!d.ok()) return 0;
  Hid space(H5Dget_space(d.get()), H5Sclose);
  hsize_t dims[8] = {0};
  if (H5Sget_simple_extent_ndims(space.get()) != 1) return 0;
  H5Sget_simple_extent_dims(space.get(), dims, nullptr);
  return dims[0];
}

Hid openFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw Fail{path + " does not exist"};
  Hid f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!f.ok()) throw Fail{path + " is not an HDF5 file, or it is damaged or truncated"};
  std::string version;
  if (!readAttrString(f.get(), "openPMD", version))
    throw Fail{path + " is not an openPMD file: it has no openPMD version"};
  if (version.empty() || (version[0] != '1' && version[0] != '2') ||
      (version.size() > 1 && version[1] != '.'))
    throw Fail{path + " is openPMD " + version + "; versions 1 and 2 are read"};
  std::string base;
  if (!readAttrString(f.get(), "basePath", base) || base != "/data/%T/")
    throw Fail{path + ": basePath is not /data/%T/"};
  return f;
}

std::vector<std::uint64_t> iterationsOf(hid_t f) {
  std::vector<std::uint64_t> its;
  if (!isGroup(f, "data")) return its;
  Hid data(H5Gopen2(f, "data", H5P_DEFAULT), H5Gclose);
  for (const std::string& c : children(data.get())) {
    if (c.empty() || c.size() > 19 || c.find_first_not_of("0123456789") != std::string::npos)
      continue;
    if (isGroup(data.get(), c)) its.push_back(std::stoull(c));
  }
  std::sort(its.begin(), its.end());
  return its;
}

std::string listOf(const std::vector<std::uint64_t>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
  return s;
}
std::string listOf(const std::vector<std::string>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + v[i];
  return s;
}

// The iteration and the particle groups in it.
std::uint64_t pickIteration(hid_t f, const std::string& path, std::uint64_t want) {
  std::vector<std::uint64_t> its = iterationsOf(f);
  if (its.empty()) throw Fail{path + " holds no iteration under /data/"};
  if (want == std::numeric_limits<std::uint64_t>::max()) {
    if (its.size() > 1)
      throw Fail{path + " holds " + std::to_string(its.size()) + " iterations (" + listOf(its) +
                 "): name the one to read"};
    return its[0];
  }
  if (std::find(its.begin(), its.end(), want) == its.end())
    throw Fail{path + " has no iteration " + std::to_string(want) + " (it holds " +
               listOf(its) + ")"};
  return want;
}

std::string particlesPathOf(hid_t f, const std::string& path, std::uint64_t it) {
  std::string pp;
  if (!readAttrString(f, "particlesPath", pp))
    throw Fail{path + " holds no particles (no particlesPath)"};
  std::string p = "data/" + std::to_string(it) + "/" + pp;
  while (!p.empty() && p.back() == '/') p.pop_back();
  if (!isGroup(f, p)) throw Fail{path + " has no particles in iteration " + std::to_string(it)};
  return p;
}

std::vector<std::string> groupsIn(hid_t f, const std::string& p) {
  Hid g(H5Gopen2(f, p.c_str(), H5P_DEFAULT), H5Gclose);
  std::vector<std::string> out;
  for (const std::string& c : children(g.get()))
    if (isGroup(g.get(), c)) out.push_back(c);
  return out;
}

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// The particle group to read: the one named, or the only one.
std::string pickGroup(hid_t f, const std::string& path, const std::string& pp, std::uint64_t it,
                      const std::string& name) {
  std::vector<std::string> groups = groupsIn(f, pp);
  if (name.empty()) {
    if (groups.empty()) throw Fail{path + " has no particle group in iteration " + std::to_string(it)};
    if (groups.size() > 1)
      throw Fail{path + " holds " + std::to_string(groups.size()) + " particle groups (" +
                 listOf(groups) + "): name the one to read"};
    return groups[0];
  }
  if (std::find(groups.begin(), groups.end(), name) == groups.end())
    throw Fail{path + " has no particle group " + name + " (it holds " + listOf(groups) + ")"};
  return name;
}

// One particle group being read as rays: the columns of every particle and
// which of them are kept.
struct Group {
  hid_t sp;               // the particle group
  std::string name;       // its name in the file
  std::string type;       // its species
  bool known = false;     // a species whose charge and mass the program knows
  std::uint64_t n = 0;    // particles in the group
  std::vector<double> x, y, th, ph, de;
  std::vector<bool> keep;
  bool has(const std::string& p) const { return linkExists(sp, p); }
  std::vector<double> get(const std::string& p) const { return readComponent(sp, p, n); }
  std::vector<double> opt(const std::string& p, double dflt) const {
    return has(p) ? get(p) : std::vector<double>(n, dflt);
  }
};

// The species: KESTRIM follows charged particles only.
void readSpecies(Group& g, Read& out) {
  if (!readAttrString(g.sp, "speciesType", g.type)) {
    g.type = g.name;
    out.notes.push_back("The group " + g.name + " has no speciesType; its name is taken.");
  }
  if (g.type.find(';') != std::string::npos)
    throw Fail{g.name + " mixes species (" + g.type + "); one species is mapped at a time"};
  const std::string lt = lower(g.type);
  if (lt == "photon" || lt.find("neutrino") != std::string::npos || lt == "neutron" ||
      lt == "anti-neutron" || lt == "gluon" || lt == "z-boson" || lt == "higgs")
    throw Fail{g.name + " holds " + g.type + " particles: KESTRIM maps charged particles only"};
  out.beam.species.type = g.type;
  Species known;
  g.known = knownSpecies(g.type, known);
  if (g.known) out.beam.species = known;
}

std::uint64_t particleCount(const Group& g, Read& out) {
  double count = -1;
  std::uint64_t n = 0;
  if (readAttrDouble(g.sp, "numParticles", count)) {
    if (!(count >= 0) || count > 1e12 || count != std::floor(count))
      throw Fail{g.name + ": numParticles is not a count"};
    n = static_cast<std::uint64_t>(count);
  } else {
    if (!g.has("position/x")) throw Fail{g.name + " has no position/x record"};
    n = lengthOf(g.sp, "position/x");
    out.notes.push_back(g.name + " has no numParticles; the length of position/x is taken.");
  }
  if (n > 200000000ull) throw Fail{g.name + " holds too many particles (" + std::to_string(n) + ")"};
  return n;
}

void readPositions(Group& g) {
  for (const char* need : {"position/x", "position/y"})
    if (!g.has(need)) throw Fail{g.name + " has no " + std::string(need) + " record"};
  double ux = 1, uy = 1;
  g.x = readComponent(g.sp, "position/x", g.n, nullptr, &ux);
  g.y = readComponent(g.sp, "position/y", g.n, nullptr, &uy);
  // An offset is added only when it is not zero: x + 0 would turn -0 into +0.
  for (const char* c : {"x", "y"}) {
    std::vector<double> off = g.opt(std::string("positionOffset/") + c, 0.0);
    std::vector<double>& v = c[0] == 'x' ? g.x : g.y;
    for (std::uint64_t i = 0; i < g.n; ++i)
      if (off[i] != 0.0) v[i] += off[i];
  }
}

// The mass from a mass record or the known species; the charge from a
// charge record when the species is not known.
void readMassAndCharge(const Group& g, Beam& beam) {
  double massAmu = beam.species.massAmu;
  if (g.n > 0 && g.has("mass")) {
    std::vector<double> m = g.get("mass");
    if (!m.empty() && std::isfinite(m[0]) && m[0] > 0) massAmu = m[0] / kU;
  }
  if (g.n > 0 && g.has("charge") && !g.known) {
    std::vector<double> q = g.get("charge");
    if (!q.empty() && std::isfinite(q[0])) beam.species.charge = static_cast<int>(std::lround(q[0] / kE));
  }
  beam.species.massAmu = massAmu;
}

// The program's own slope and energy-deviation records.
void readOwnRecords(Group& g) {
  g.th = g.get("slope/x");
  g.ph = g.get("slope/y");
  std::vector<double> raw;
  double unit = 1;
  readComponent(g.sp, "energyDeviation", g.n, &raw, &unit);
  // Kept in per cent: values stored with unitSI 0.01 are taken as they are.
  if (unit == 0.01)
    g.de = raw;
  else
    for (std::uint64_t i = 0; i < g.n; ++i) g.de[i] = raw[i] * unit * 100.0;
}

bool rayFinite(const Group& g, std::uint64_t i) {
  return std::isfinite(g.x[i]) && std::isfinite(g.y[i]) && std::isfinite(g.th[i]) &&
         std::isfinite(g.ph[i]) && std::isfinite(g.de[i]);
}

// Slopes from the momenta; returns the total momentum of each particle.
// Particles that do not move forward are not kept.
std::vector<double> slopesFromMomenta(Group& g, const std::vector<double>& status, Read& out) {
  for (const char* need : {"momentum/x", "momentum/y", "momentum/z"})
    if (!g.has(need))
      throw Fail{g.name + " has no " + std::string(need) +
                 " record: the slopes and energies cannot be found"};
  if (!(out.beam.species.massAmu > 0))
    throw Fail{"The mass of " + g.type + " is not known: " + g.name + " has no mass record"};
  std::vector<double> px = g.get("momentum/x"), py = g.get("momentum/y"), pz = g.get("momentum/z");
  for (const char* c : {"x", "y", "z"}) {
    std::string p = std::string("momentumOffset/") + c;
    if (!g.has(p)) continue;
    std::vector<double> off = g.get(p);
    std::vector<double>& v = c[0] == 'x' ? px : c[0] == 'y' ? py : pz;
    for (std::uint64_t i = 0; i < g.n; ++i) v[i] += off[i];
  }
  std::vector<double> p(g.n);
  size_t backward = 0;
  for (std::uint64_t i = 0; i < g.n; ++i) {
    p[i] = std::sqrt(px[i] * px[i] + py[i] * py[i] + pz[i] * pz[i]);
    if (status[i] == 1.0 && std::isfinite(pz[i]) && !(pz[i] > 0)) {
      g.keep[i] = false;
      ++backward;
    }
    g.th[i] = px[i] / pz[i];
    g.ph[i] = py[i] / pz[i];
  }
  if (backward)
    out.notes.push_back(std::to_string(backward) +
                        " particles that do not move forward (pz <= 0) are left out.");
  return p;
}

// The reference energy (MeV): the program's own, the file's momentum
// offset, or the mean of the beam.
double referenceEnergy(const Group& g, const std::vector<double>& p,
                       const std::vector<double>& status, double t0, Read& out) {
  const double massAmu = out.beam.species.massAmu;
  double p0 = std::numeric_limits<double>::quiet_NaN();
  if (g.has("totalMomentumOffset")) {
    std::vector<double> o = g.get("totalMomentumOffset");
    if (g.n > 0 && std::isfinite(o[0]) && o[0] > 0) p0 = o[0];
  }
  if (std::isfinite(t0) && t0 > 0) p0 = momentumSI(massAmu, t0);
  if (!std::isfinite(p0)) {
    double sum = 0;
    size_t cnt = 0;
    for (std::uint64_t i = 0; i < g.n; ++i)
      if (g.keep[i] && status[i] == 1.0 && std::isfinite(p[i])) sum += p[i], ++cnt;
    if (cnt == 0) throw Fail{g.name + " has no particle with a finite momentum"};
    p0 = sum / static_cast<double>(cnt);
    out.notes.push_back("No reference momentum in the file: the mean momentum of the beam is taken.");
  }
  return energyMeV(massAmu, p0);
}

// All rays at one plane: those given at another z are drifted to the mean
// plane of the beam.
void driftToOnePlane(Group& g, Read& out) {
  std::vector<double> z = g.opt("position/z", 0.0);
  std::vector<double> zoff = g.opt("positionOffset/z", 0.0);
  for (std::uint64_t i = 0; i < g.n; ++i) z[i] += zoff[i];
  double zs = 0;
  size_t zc = 0;
  bool spread = false;
  for (std::uint64_t i = 0; i < g.n; ++i)
    if (g.keep[i] && std::isfinite(z[i])) {
      if (zc && z[i] != z[0]) spread = true;
      zs += z[i], ++zc;
    }
  if (!spread) return;
  const double zm = zs / static_cast<double>(zc);
  for (std::uint64_t i = 0; i < g.n; ++i) {
    g.x[i] += (zm - z[i]) * g.th[i];
    g.y[i] += (zm - z[i]) * g.ph[i];
  }
  out.notes.push_back("The particles lie at several z: each is drifted to the mean plane z = " +
                      std::to_string(zm) + " m.");
}

// Rays that a mask or a wall stopped (particleStatus not 1) are gone.
void dropStopped(Group& g, const std::vector<double>& status, Read& out) {
  size_t dead = 0;
  for (std::uint64_t i = 0; i < g.n; ++i)
    if (status[i] != 1.0 && g.keep[i]) g.keep[i] = false, ++dead;
  if (dead) out.notes.push_back(std::to_string(dead) + " particles whose particleStatus is not 1 are left out.");
}

void noteWeights(const Group& g, Read& out) {
  if (!g.has("weight")) return;
  std::vector<double> w = g.get("weight");
  bool differ = false;
  double first = std::numeric_limits<double>::quiet_NaN();
  for (std::uint64_t i = 0; i < g.n; ++i)
    if (g.keep[i]) {
      if (std::isnan(first)) first = w[i];
      else if (w[i] != first) differ = true;
    }
  if (differ) out.notes.push_back("The weights differ; every ray counts once.");
}

// A file from another code: rays from the momenta. Returns the reference
// energy (MeV).
double raysFromMomenta(Group& g, double t0, Read& out) {
  std::vector<double> status = g.opt("particleStatus", 1.0);
  std::vector<double> p = slopesFromMomenta(g, status, out);
  t0 = referenceEnergy(g, p, status, t0, out);
  const double massAmu = out.beam.species.massAmu;
  for (std::uint64_t i = 0; i < g.n; ++i) g.de[i] = 100.0 * (energyMeV(massAmu, p[i]) - t0) / t0;
  driftToOnePlane(g, out);
  dropStopped(g, status, out);
  size_t bad = 0;
  for (std::uint64_t i = 0; i < g.n; ++i)
    if (g.keep[i] && !rayFinite(g, i)) g.keep[i] = false, ++bad;
  if (bad) out.notes.push_back(std::to_string(bad) + " particles with values that are not finite numbers are left out.");
  noteWeights(g, out);
  return t0;
}

// The program's own file: particleStatus still says which rays passed.
void checkOwnRays(Group& g, Read& out) {
  if (g.has("particleStatus")) dropStopped(g, g.get("particleStatus"), out);
  size_t bad = 0;
  for (std::uint64_t i = 0; i < g.n; ++i)
    if (g.keep[i] && !rayFinite(g, i)) ++bad;
  if (bad) out.notes.push_back(std::to_string(bad) + " rays hold values that are not finite numbers.");
}

// The kept rays, behind the paraxial pair, and the caption and charge.
void finishRead(const Group& g, const std::string& path, Read& out) {
  double pairFlag = 0;
  const bool pair = readAttrDouble(g.sp, "kestrimParaxialPair", pairFlag) && pairFlag == 1.0 &&
                    g.n >= 2 && g.keep[0] && g.keep[1];
  out.rays.clear();
  if (!pair) {
    // Image planes at the file's own plane: both rays meet the axis at z = 0.
    out.rays.insert(out.rays.end(), {0, 0, 0, 0, 0, 0, 1e-3, 0, 1e-3, 0});
    out.notes.push_back("The file has no paraxial pair: one is put in front that places the image planes at its plane.");
  }
  for (std::uint64_t i = 0; i < g.n; ++i)
    if (g.keep[i]) out.rays.insert(out.rays.end(), {g.x[i], g.th[i], g.y[i], g.ph[i], g.de[i]});

  double tc = 0, cu = 1;
  if (readAttrDouble(g.sp, "totalCharge", tc)) {
    readAttrDouble(g.sp, "chargeUnitSI", cu);
    out.beam.totalCharge = tc * cu;
  }
  std::string caption;
  if (readAttrString(g.sp, "comment", caption)) out.beam.caption = caption;
  else out.beam.caption = "openPMD " + g.type + " from " + std::filesystem::path(path).filename().string();
}

void readFile(const std::string& path, std::uint64_t want, const std::string& name, Read& out) {
  Hid f = openFile(path);
  const std::uint64_t it = pickIteration(f.get(), path, want);
  const std::string pp = particlesPathOf(f.get(), path, it);
  const std::string gname = pickGroup(f.get(), path, pp, it, name);
  Hid sp(H5Gopen2(f.get(), (pp + "/" + gname).c_str(), H5P_DEFAULT), H5Gclose);
  if (!sp.ok()) throw Fail{path + ": the particle group " + gname + " cannot be opened"};

  Group g{sp.get(), gname, {}, false, 0, {}, {}, {}, {}, {}, {}};
  readSpecies(g, out);
  g.n = particleCount(g, out);
  readPositions(g);
  g.th.assign(g.n, 0.0), g.ph.assign(g.n, 0.0), g.de.assign(g.n, 0.0);
  g.keep.assign(g.n, true);
  out.ownRecords = g.has("slope/x") && g.has("slope/y") && g.has("energyDeviation");
  double t0 = std::numeric_limits<double>::quiet_NaN();
  readAttrDouble(g.sp, "kestrimEnergyMeV", t0);
  readMassAndCharge(g, out.beam);
  if (out.ownRecords) {
    readOwnRecords(g);
    checkOwnRays(g, out);
  } else {
    t0 = raysFromMomenta(g, t0, out);
  }
  out.beam.energyMeV = t0;
  finishRead(g, path, out);
}

}  // namespace

bool knownSpecies(const std::string& type, Species& s) {
  struct Entry {
    const char* name;
    int charge;
    double mass;
  };
  static constexpr Entry kTable[] = {
      {"electron", -1, 5.48579909065e-4}, {"positron", 1, 5.48579909065e-4},
      {"proton", 1, 1.007276466621},      {"anti-proton", -1, 1.007276466621},
      {"muon", -1, 0.1134289259},         {"anti-muon", 1, 0.1134289259},
  };
  for (const Entry& e : kTable)
    if (type == e.name) {
      s = Species{e.name, e.charge, e.mass};
      return true;
    }
  return false;
}

bool validSpeciesName(const std::string& type) {
  if (type.empty() || type.size() > 64) return false;
  for (char ch : type)
    if (ch == ';' || ch == '/' || std::isspace(static_cast<unsigned char>(ch)) ||
        !std::isprint(static_cast<unsigned char>(ch)))
      return false;
  return true;
}

double momentumSI(double massAmu, double energyMeV) {
  const double t = energyMeV * kMeV;
  const double mc2 = massAmu * kU * kC * kC;
  return std::sqrt(t * t + 2.0 * t * mc2) / kC;
}

double energyMeV(double massAmu, double momentumSI) {
  const double mc2 = massAmu * kU * kC * kC;
  const double pc = momentumSI * kC;
  // T = sqrt(p^2c^2 + m^2c^4) - mc^2, written without the cancellation.
  return pc * pc / (std::sqrt(pc * pc + mc2 * mc2) + mc2) / kMeV;
}

std::string write(const std::string& path, const std::vector<double>& rays, const Beam& beam,
                  bool pair) {
  if (rays.size() % 5 != 0) return "the ray list is not a whole number of rays";
  if (!validSpeciesName(beam.species.type)) return "\"" + beam.species.type + "\" is not a species name";
  if (!(beam.species.massAmu > 0)) return "the particle's mass is not positive";
  if (!(beam.energyMeV > 0) || !std::isfinite(beam.energyMeV))
    return "the reference energy is not positive";
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return path + " already exists";
  Quiet quiet;
  gx::tempClearStale(path);
  gx::TempFile tmp;
  if (!gx::tempCreateNamed(path, "h5", tmp)) return tmp.error;
  try {
    Hid f(H5Fcreate(tmp.path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
    if (!f.ok()) throw Fail{"cannot make " + path};
    writeFile(f.get(), rays, beam, pair);
    // The file is complete only once it has been closed without error.
    if (H5Fclose(f.release()) < 0) throw Fail{"cannot write " + path};
  } catch (const Fail& e) {
    gx::tempDiscard(tmp);
    return e.why;
  }
  if (!gx::tempCommit(tmp, path, true, -1)) return tmp.error;
  return "";
}

std::string contents(const std::string& path, Contents& c, std::uint64_t iteration) {
  Quiet quiet;
  try {
    Hid f = openFile(path);
    c.iterations = iterationsOf(f.get());
    if (c.iterations.empty()) throw Fail{path + " holds no iteration under /data/"};
    std::uint64_t it = iteration;
    if (it == std::numeric_limits<std::uint64_t>::max()) it = c.iterations[0];
    if (std::find(c.iterations.begin(), c.iterations.end(), it) == c.iterations.end())
      throw Fail{path + " has no iteration " + std::to_string(it) + " (it holds " +
                 listOf(c.iterations) + ")"};
    c.species = groupsIn(f.get(), particlesPathOf(f.get(), path, it));
  } catch (const Fail& e) {
    return e.why;
  }
  return "";
}

std::string read(const std::string& path, std::uint64_t iteration, const std::string& group,
                 Read& out) {
  Quiet quiet;
  out = Read{};
  try {
    readFile(path, iteration, group, out);
  } catch (const Fail& e) {
    out.rays.clear();
    return e.why;
  } catch (const std::bad_alloc&) {
    out.rays.clear();
    return path + " is too large to read";
  }
  return "";
}

}  // namespace kestrim::opmd
