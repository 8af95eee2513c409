// Whole KESTRIM sessions on a given terminal input, and ray sets written
// through the program's own write channel.
#pragma once

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kestrim/kestrim.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/state.h"

namespace kqtest {

struct Session {
  std::istringstream in;
  std::ostringstream out;
  kestrim::Kestrim k;
  int rc;
  explicit Session(const std::string& input) : in(input), k(in, out) { rc = kestrim::kqsession(k); }
  std::string text() const { return out.str(); }
  bool has(const std::string& s) const { return out.str().find(s) != std::string::npos; }
  size_t count(const std::string& s) const {
    size_t n = 0;
    for (size_t p = out.str().find(s); p != std::string::npos; p = out.str().find(s, p + 1)) ++n;
    return n;
  }
};

using Ray = std::array<double, 5>;

// The paraxial pair of a set given at its image plane: the axial ray and a
// ray through the axis at the reference plane.
inline std::vector<Ray> imagePair() { return {Ray{0, 0, 0, 0, 0}, Ray{0, 1e-3, 0, 1e-3, 0}}; }

inline void writeSet(const std::string& name, const std::vector<Ray>& rays,
                     const std::string& caption = "Test set") {
  std::istringstream none;
  std::ostringstream sink;
  kestrim::Kestrim k(none, sink);
  k.caption = caption;
  std::string n = name;
  int ierr = 1;
  kestrim::kqio(k, 'W', n, ierr);
  for (Ray r : rays) kestrim::kqrays(k, 'W', 0, r[0], r[1], r[2], r[3], r[4]);
  kestrim::kqioend(k, 'W');
}

inline std::vector<Ray> readSet(const std::string& name) {
  std::istringstream none;
  std::ostringstream sink;
  kestrim::Kestrim k(none, sink);
  std::string n = name;
  int ierr = 1;
  kestrim::kqio(k, 'R', n, ierr);
  std::vector<Ray> v;
  if (ierr != 0) return v;
  Ray r;
  for (int i = 1; i <= k.ntot; ++i)
    if (kestrim::kqrays(k, 'R', i, r[0], r[1], r[2], r[3], r[4])) v.push_back(r);
  return v;
}

inline std::string slurp(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::vector<std::string> lines(const std::string& name) {
  std::ifstream f(name);
  std::vector<std::string> v;
  for (std::string l; std::getline(f, l);) v.push_back(l);
  return v;
}

// The comma-separated numbers of a data line.
inline std::vector<double> numbers(const std::string& line) {
  std::vector<double> v;
  std::stringstream s(line);
  for (std::string t; std::getline(s, t, ',');) v.push_back(std::stod(t));
  return v;
}

}  // namespace kqtest
