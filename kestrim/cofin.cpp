// Loading a coefficient file into the coefficient store.
#include <filesystem>
#include <string>
#include <system_error>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"

namespace kestrim {

namespace {

// Leading blanks off, trailing blanks off.
std::string trimmed(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return std::string(gx::trimRight(std::string_view(s).substr(i)));
}

// A name without a point gets the extension at its first blank.
std::string withExtension(const std::string& name, const char* ext) {
  std::string n = trimmed(name);
  if (n.find('.') != std::string::npos) return n;
  size_t b = n.find_first_of(" \t");
  if (b != std::string::npos) n.erase(b);
  return n + ext;
}

void say(Kestrim& k, const std::string& text) { gx::gxsay(k.gx, k.cofio.u[5], text); }

// One list-directed group of n values; those not in the record keep their
// values.
bool readGroup(Kestrim& k, int unit, double* v, int n) {
  return k.gx.io.readList(unit, v, n) == gx::RdStat::Ok;
}

// The name of an existing coefficient file: the one given, or asked for on
// the prompting unit, with ".cof" when it has no point. False when none.
bool findFile(Kestrim& k, std::string& name) {
  const auto& u = k.cofio.u;
  bool missing = false;  // a name was given that is no file
  for (;;) {
    while (trimmed(name).empty()) {
      std::string reply;
      // A file unit at its end (or broken) can never answer: give up.
      if (gx::gxprompt(k.gx, u[4], gx::Io::kOut, "Filename for input > ", reply) != gx::Reply::Ok) {
        if (missing) gx::gxfail(k.gx);
        return false;
      }
      reply = trimmed(reply);
      if (reply.empty()) {
        if (missing) gx::gxfail(k.gx);
        return false;
      }
      name = reply.substr(0, 30);
    }
    name = withExtension(name, ".cof");

    std::error_code ec;
    auto status = std::filesystem::status(name, ec);
    bool exists = true;
    if (ec && ec != std::errc::no_such_file_or_directory) {
      say(k, "Inquire by file error, file = " + name);
    } else {
      exists = std::filesystem::is_regular_file(status);
    }
    if (exists) break;
    say(k, "%COFIN - " + name + " Does not exist.");
    name.clear();
    missing = true;
    // In a macro the lines that follow are the command's answers and the
    // macro's next commands, not a second try at the name: refused.
    if (u[4] != gx::Io::kIn) {
      gx::gxfail(k.gx);
      return false;
    }
  }

  return true;
}

// The title, the object and aperture sizes, the distances and the shape.
bool readSizes(Kestrim& k, int unit) {
  gx::Io& io = k.gx.io;
  auto group = [&](double* v, int n) { return readGroup(k, unit, v, n); };
  std::string rec;
  if (io.readLine(unit, rec, 50) != gx::RdStat::Ok) return false;
  k.coftitle = gx::pad(rec, 100);
  say(k, "Read title.");

  double obj[4] = {k.obap.v[0], k.obap.v[4], k.obap.v[1], k.obap.v[5]};
  if (!group(obj, 4)) return false;
  k.obap.v[0] = obj[0];
  k.obap.v[4] = obj[1];
  k.obap.v[1] = obj[2];
  k.obap.v[5] = obj[3];
  double ap[4] = {k.obap.v[2], k.obap.v[6], k.obap.v[3], k.obap.v[7]};
  if (!group(ap, 4)) return false;
  k.obap.v[2] = ap[0];
  k.obap.v[6] = ap[1];
  k.obap.v[3] = ap[2];
  k.obap.v[7] = ap[3];
  say(k, "Read image/aperture sizes");

  if (!group(&k.dis.objap, 1)) return false;
  if (io.readLine(unit, rec, 80) != gx::RdStat::Ok) return false;
  {
    size_t i = rec.find_first_not_of(" \t");
    char c = i == std::string::npos ? ' ' : rec[i];
    k.cofshape = (c == 'S' || c == 's') ? 'S' : 'C';
  }
  if (!group(&k.dis.shadow, 1)) return false;
  if (!group(&k.dis.totlen, 1)) return false;
  say(k, "read collimator.");
  return true;
}

// The first-order matrix (held twice, columns 1-4 and 5-8), the
// second-order, third-order and fifth-order terms and the chromatic ones.
bool readMatrices(Kestrim& k, int unit) {
  auto group = [&](double* v, int n) { return readGroup(k, unit, v, n); };
  double m1[16];
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) m1[(r - 1) * 4 + (c - 1)] = k.bmat(r, c);
  if (!group(m1, 16)) return false;
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) {
      k.bmat(r, c) = m1[(r - 1) * 4 + (c - 1)];
      k.bmat(r, c + 4) = k.bmat(r, c);
    }
  for (int r = 1; r <= 4; ++r)
    for (int c = 9; c <= 18; ++c) k.bmat(r, c) = 0.0;
  say(k, "read first order matrix");

  double m2[40];
  for (int r = 1; r <= 4; ++r)
    for (int j = 1; j <= 10; ++j) m2[(r - 1) * 10 + (j - 1)] = 0.0;
  if (!group(m2, 40)) return false;
  for (int r = 1; r <= 4; ++r)
    for (int j = 1; j <= 10; ++j) k.bmat(r, 8 + j) = m2[(r - 1) * 10 + (j - 1)];

  double t3[24];
  for (int p = 1; p <= 2; ++p)
    for (int n = 1; n <= 12; ++n) t3[(p - 1) * 12 + (n - 1)] = k.bmat.t3(p, n);
  if (!group(t3, 24)) return false;
  for (int p = 1; p <= 2; ++p)
    for (int n = 1; n <= 12; ++n) k.bmat.t3(p, n) = t3[(p - 1) * 12 + (n - 1)];

  double t5[12];
  for (int p = 1; p <= 2; ++p)
    for (int n = 1; n <= 6; ++n) t5[(p - 1) * 6 + (n - 1)] = k.bmat.t5(p, n);
  if (!group(t5, 12)) return false;
  for (int p = 1; p <= 2; ++p)
    for (int n = 1; n <= 6; ++n) k.bmat.t5(p, n) = t5[(p - 1) * 6 + (n - 1)];
  say(k, "Read fifth order matrix.");

  if (!group(k.chrm.data(), 4)) return false;
  return true;
}

}  // namespace

int cofin(Kestrim& k, std::string& name) {
  gx::Io& io = k.gx.io;
  const auto& u = k.cofio.u;
  if (u[4] == 0 || u[5] == 0 || u[1] == 0 || u[2] == 0) {
    io.write(gx::Io::kOut, "?Illegal logical unit numbers" + gx::fI(u[4], 8) + gx::fI(u[5], 8));
    return 1;
  }
  const int fileUnit = u[3];
  if (!findFile(k, name)) return 1;

  say(k, "Getting coefficients from " + name);
  say(k, "On unit number " + std::to_string(fileUnit));
  if (!io.open(fileUnit, name, gx::OpenStatus::Old, gx::Access::Read)) {
    gx::gxfail(k.gx);
    say(k, "Unable to open " + name);
    return 1;
  }
  say(k, "Opened file successfully.");
  if (!readSizes(k, fileUnit) || !readMatrices(k, fileUnit)) {
    io.close(fileUnit);
    gx::gxfail(k.gx);
    say(k, "Error reading data from file " + name);
    return 1;
  }

  k.coffile = 1;
  io.close(fileUnit);
  return 0;
}

}  // namespace kestrim
