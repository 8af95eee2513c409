// Writing the coefficient store back as a coefficient file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"

namespace kestrim {

namespace {

// One value as a list-directed write prints a double: seventeen significant
// digits, so that reading it back gives the same binary value; fixed form
// from 0.1 to 1e17, else one digit before the point and a three-digit
// exponent. Each item is a blank and a field of 25.
std::string listItem(double v) {
  std::string body;
  if (!std::isfinite(v)) {
    body = std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
  } else {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16E", v);
    std::string e(buf);
    size_t ep = e.find('E');
    int ex = std::atoi(e.c_str() + ep + 1);
    if (v == 0.0 || (ex >= -1 && ex <= 16)) {
      int dec = v == 0.0 ? 16 : 16 - ex;
      std::snprintf(buf, sizeof buf, "%.*f", dec, v);
      body = std::string(buf) + (dec == 0 ? "." : "") + "     ";
    } else {
      std::snprintf(buf, sizeof buf, "E%c%03d", ex < 0 ? '-' : '+', std::abs(ex));
      body = e.substr(0, ep) + buf;
    }
  }
  if (body.size() < 25) body.insert(0, 25 - body.size(), ' ');
  return " " + body;
}

std::string listRecord(const double* v, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += listItem(v[i]);
  return r;
}

std::string withUpperExtension(const std::string& name) {
  size_t i = 0;
  while (i < name.size() && (name[i] == ' ' || name[i] == '\t')) ++i;
  std::string n(gx::trimRight(std::string_view(name).substr(i)));
  if (n.find('.') != std::string::npos) return n;
  size_t b = n.find_first_of(" \t");
  if (b != std::string::npos) n.erase(b);
  return n + ".COF";
}

}  // namespace

void cofout(Kestrim& k, std::string name) {
  gx::Io& io = k.gx.io;
  const int unit = k.cofio.u[3];
  name = withUpperExtension(name);
  // The records go to a file beside the target that replaces it only when
  // complete: a failed write leaves the user's old file as it was.
  if (!io.open(unit, name, gx::OpenStatus::Replace, gx::Access::Write)) {
    io.write(k.cofio.u[5], " Unable to open " + name + io.reason());
    return;
  }
  const cofbmat& b = k.bmat;
  io.write(unit, gx::trimRight(gx::pad(k.coftitle, 50)));
  const double obj[4] = {k.obap.v[0], k.obap.v[4], k.obap.v[1], k.obap.v[5]};
  const double ap[4] = {k.obap.v[2], k.obap.v[6], k.obap.v[3], k.obap.v[7]};
  io.write(unit, listRecord(obj, 4));
  io.write(unit, listRecord(ap, 4));
  io.write(unit, listRecord(&k.dis.objap, 1));
  io.write(unit, std::string(" ") + (k.cofshape == 'S' ? 'S' : 'C'));
  io.write(unit, listRecord(&k.dis.shadow, 1));
  io.write(unit, listRecord(&k.dis.totlen, 1));
  double m1[16];
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) m1[(r - 1) * 4 + (c - 1)] = b(r, c);
  io.write(unit, listRecord(m1, 16));
  double m2[40];
  for (int r = 1; r <= 4; ++r)
    for (int j = 1; j <= 10; ++j) m2[(r - 1) * 10 + (j - 1)] = b(r, 8 + j);
  io.write(unit, listRecord(m2, 40));
  double t3[24];
  for (int p = 1; p <= 2; ++p)
    for (int n = 1; n <= 12; ++n) t3[(p - 1) * 12 + (n - 1)] = b.t3(p, n);
  io.write(unit, listRecord(t3, 24));
  double t5[12];
  for (int p = 1; p <= 2; ++p)
    for (int n = 1; n <= 6; ++n) t5[(p - 1) * 6 + (n - 1)] = b.t5(p, n);
  io.write(unit, listRecord(t5, 12));
  io.write(unit, listRecord(k.chrm.data(), 4));

  if (!io.close(unit)) {
    io.write(k.cofio.u[5], " Unable to open " + name + io.reason());
    return;
  }
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) k.bmat(r, c + 4) = k.bmat(r, c);
  k.coffile = 1;
}

}  // namespace kestrim
