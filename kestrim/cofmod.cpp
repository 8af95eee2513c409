// Obtaining the coefficients for a ray-mapping command: load the file, let
// the user review and change every value, save the store back.
#include <array>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"

namespace kestrim {

namespace {

constexpr std::array<const char*, 14> kViewNames = {" X", "Th", " Y", "Ph", "X2", "XT", "XY",
                                                    "XP", "T2", "TY", "TP", "Y2", "YP", "P2"};
constexpr std::array<const char*, 12> kThirdX = {"T3",  "TP2", "XT2", "XP2", "TYP", "X2T",
                                                 "TY2", "XYP", "X3",  "XY2", "T2P", "P3"};
constexpr std::array<const char*, 12> kThirdY = {"P3",  "PT2", "YP2", "YT2", "PXT", "Y2P",
                                                 "PX2", "YXT", "Y3",  "YX2", "P2T", "T3"};
constexpr std::array<const char*, 6> kFifthX = {"T5", "T4P", "T3P2", "T2P3", "TP4", "P5"};
constexpr std::array<const char*, 6> kFifthY = {"P5", "P4T", "P3T2", "P2T3", "PT4", "T5"};
constexpr std::array<const char*, 4> kChromNames = {"Th%DE", "Ph%DE", "X%DE", "Y%DE"};

// The review dialog; false when the input ended part way.
class Review {
 public:
  Review(Kestrim& k, int in, int out, int echo) : k_(k), in_(in), out_(out), echo_(echo) {}

  // A reply line; false at the end of the input.
  bool reply(const std::string& prompt, std::string& line) {
    return gx::gxprompt(k_.gx, in_, out_, prompt, line) == gx::Reply::Ok;
  }
  // A yes/no question: ok = false at the end of the input.
  bool yes(const std::string& prompt, bool& ok) {
    std::string line;
    ok = reply(prompt, line);
    char c = first(line);
    return ok && (c == 'Y' || c == 'y');
  }
  // One value through the prompted update; false at the end of the input.
  bool value(const std::string& label, double& v) {
    return gx::gxaskupdate(k_.gx, in_, out_, echo_, label + gx::fG(v, 13, 5, 1) + " > ", v) ==
           gx::Reply::Ok;
  }
  void say(const std::string& text) { gx::gxsay(k_.gx, out_, text); }

  static char first(const std::string& s) {
    size_t i = s.find_first_not_of(" \t");
    return i == std::string::npos ? ' ' : s[i];
  }

  bool run();

 private:
  bool physical();
  Kestrim& k_;
  int in_, out_, echo_;
};

bool Review::physical() {
  auto& v = k_.obap.v;
  say("Object coordinates:");
  if (!value(" X/2     = ", v[0]) || !value("X CENTRE = ", v[4]) || !value(" Y/2     = ", v[1]) ||
      !value("Y CENTRE = ", v[5]))
    return false;
  say("Aperture coordinates: ");
  if (!value(" X/2     = ", v[2]) || !value("X CENTRE = ", v[6]) || !value(" Y/2     = ", v[3]) ||
      !value("Y CENTRE = ", v[7]))
    return false;
  if (!value("  Object to Aperture (m) = ", k_.dis.objap)) return false;
  std::string line;
  if (k_.cofshape == 'S') {
    say("Square apertures selected.");
    if (!reply("New? > ", line)) return false;
  } else {
    say("Circular apertures selected.");
    if (!reply("New? (Square/Circular) > ", line)) return false;
  }
  char c = first(line);
  if (c != ' ') {
    k_.cofshape = (c == 'S' || c == 's') ? 'S' : 'C';
    say(k_.cofshape == 'S' ? "Square apertures selected." : "Circular apertures selected.");
  }
  return value("Image to Shadow plane (m)= ", k_.dis.shadow) &&
         value("  System total length (m)= ", k_.dis.totlen);
}

bool Review::run() {
  cofbmat& b = k_.bmat;
  bool ok = true;
  say("Title:");
  say(std::string(gx::trimRight(k_.coftitle)));
  std::string line;
  if (!reply("  New: ", line)) return false;
  if (!std::string(gx::trimRight(line)).empty()) k_.coftitle = gx::pad(line, 100);

  if (yes("    Do you want to modify the physical parameters? > ", ok)) {
    if (!physical()) return false;
  }
  if (!ok) return false;

  if (yes("   Do you want to change the first order matrix ? > ", ok)) {
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 4; ++c)
        if (!value(std::string(kViewNames[r - 1]) + "/" + kViewNames[c - 1] + " = ", b(r, c)))
          return false;
  }
  if (!ok) return false;
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) b(r, c + 4) = b(r, c);

  if (yes("  Do you want to change the second order matrix ? > ", ok)) {
    for (int r : {1, 3})
      for (int j = 5; j <= 14; ++j)
        if (!value(std::string(kViewNames[r - 1]) + "/" + kViewNames[j - 1] + " = ", b(r, 4 + j)))
          return false;
  }
  if (!ok) return false;

  if (yes("   Do you want to change the third order matrix ? > ", ok)) {
    for (int n = 1; n <= 12; ++n)
      if (!value(std::string(" X/") + kThirdX[n - 1] + " = ", b.t3(1, n))) return false;
    for (int n = 1; n <= 12; ++n)
      if (!value(std::string(" Y/") + kThirdY[n - 1] + " = ", b.t3(2, n))) return false;
  }
  if (!ok) return false;

  if (yes("   Do you want to change the fifth order matrix ? > ", ok)) {
    for (int n = 1; n <= 6; ++n)
      if (!value(std::string(" X/") + kFifthX[n - 1] + " = ", b.t5(1, n))) return false;
    for (int n = 1; n <= 6; ++n)
      if (!value(std::string(" Y/") + kFifthY[n - 1] + " = ", b.t5(2, n))) return false;
  }
  if (!ok) return false;

  if (yes("Do you want to change the chromatic coefficients? > ", ok)) {
    for (int i = 0; i < 4; ++i) {
      const char* plane = (i == 0 || i == 2) ? " X/" : " Y/";
      if (!value(std::string(plane) + kChromNames[i] + " = ", k_.chrm[i])) return false;
    }
  }
  return ok;
}

}  // namespace

void cofmod(Kestrim& k, int inunit, int outunit, int& echo, std::string& name, char answer,
            int& status) {
  k.cofio.u[4] = inunit;
  k.cofio.u[5] = outunit;
  echo = inunit != gx::Io::kIn ? 1 : 0;
  status = cofin(k, name);
  if (echo == 1) k.gx.io.write(outunit, " " + name);
  if (answer == 'N' || answer == 'n' || status != 0) return;

  Review rv(k, inunit, outunit, echo);
  bool ok = true;
  if (!rv.yes("Modify/review the data in the coefficient file ? > ", ok)) return;
  // Input that ends part way through the review leaves the file as it was.
  if (!rv.run()) return;
  rv.say("Saving new coefficients in file " + name);
  cofout(k, name);
}

}  // namespace kestrim
