// Plot files as their viewers show them: an SVG file rendered by a headless
// web browser, a PostScript file by Ghostscript, both read back as grey
// pixels and looked at in page units (1/1000 inch on the 11 x 8.5 inch
// landscape page, y up), so that the two renderings of one plot can be laid
// over each other. Also the XML check of an SVG file.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef TK_HAVE_PNG
#include <png.h>
#endif

namespace gxrender {

inline bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string slurp(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Parses the file with Python's XML parser and checks that the root is an
// SVG element with the page's viewBox. "" when all is well, otherwise what
// the parser or the check said.
inline std::string xmlProblem(const std::string& file) {
  const std::string log = file + ".xmlcheck";
  const std::string cmd =
      "python3 -c \"import sys, xml.etree.ElementTree as E\n"
      "r = E.parse(sys.argv[1]).getroot()\n"
      "assert r.tag == '{http://www.w3.org/2000/svg}svg', r.tag\n"
      "assert r.get('viewBox') == '0 0 11000 8500', r.get('viewBox')\n\" '" +
      file + "' >'" + log + "' 2>&1";
  const int rc = std::system(cmd.c_str());
  std::string out = slurp(log);
  std::remove(log.c_str());
  return rc == 0 ? std::string() : out.empty() ? std::string("python3 failed") : out;
}

struct Raster {
  int w = 0, h = 0;
  std::vector<unsigned char> px;  // grey, row by row from the top
};

// An 8-bit grey copy of a PNG file; empty when it cannot be read.
inline Raster readPng(const std::string& file) {
  Raster r;
#ifdef TK_HAVE_PNG
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, file.c_str())) return r;
  img.format = PNG_FORMAT_GRAY;
  std::vector<unsigned char> buf(PNG_IMAGE_SIZE(img));
  png_color background{255, 255, 255};  // transparent parts as white paper
  if (!png_image_finish_read(&img, &background, buf.data(), 0, nullptr)) {
    png_image_free(&img);
    return r;
  }
  r.w = static_cast<int>(img.width);
  r.h = static_cast<int>(img.height);
  r.px = std::move(buf);
#else
  (void)file;
#endif
  return r;
}

// Pixels per page unit of both renderings: 192 dots per inch.
constexpr double kScale = 0.192;

// One rendering seen in page units. The SVG image is the landscape page as
// it stands; Ghostscript shows the PostScript page upright (portrait), the
// plot turned a quarter.
struct View {
  const Raster* r;
  bool portrait;
  bool dark(double X, double Y) const {
    double c, w;
    if (portrait) {
      // The page stands 0.15 inch in from the corner of the 11 by 8.26 inch
      // sheet that A4 and Letter share, centred on the Letter sheet.
      c = (8231.9 - Y) * kScale;
      w = (10850.0 - X) * kScale;
    } else {
      c = X * kScale;
      w = (8500.0 - Y) * kScale;
    }
    const int col = static_cast<int>(std::floor(c)), row = static_cast<int>(std::floor(w));
    if (col < 0 || row < 0 || col >= r->w || row >= r->h) return false;
    return r->px[static_cast<size_t>(row) * r->w + col] < 160;
  }
};

// Page positions, along x (vertical lines) or y (horizontal lines), of the
// lines that are dark over at least 80 % of the span [s0, s1] across; each
// line is the centre of its run of positions.
inline std::vector<double> lines(const View& v, bool vertical, double a0, double a1, double s0,
                                 double s1) {
  std::vector<double> found;
  double runStart = 0, last = 0;
  bool inRun = false;
  for (double a = a0; a <= a1; a += 1.0) {
    int n = 0, dark = 0;
    for (double s = s0; s <= s1; s += 5.0, ++n) dark += vertical ? v.dark(a, s) : v.dark(s, a);
    const bool line = n > 0 && dark >= 0.8 * n;
    if (line && !inRun) {
      runStart = a;
      inRun = true;
    }
    if (line) last = a;
    if (!line && inRun && a - last > 10.0) {
      found.push_back((runStart + last) / 2.0);
      inRun = false;
    }
  }
  if (inRun) found.push_back((runStart + last) / 2.0);
  return found;
}

// The box round everything dark inside a page region (x0..x1, y0..y1).
struct Box {
  double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
  int count = 0;
};

inline Box ink(const View& v, double x0, double x1, double y0, double y1) {
  Box b;
  for (double X = x0; X <= x1; X += 2.0)
    for (double Y = y0; Y <= y1; Y += 2.0)
      if (v.dark(X, Y)) {
        b.x0 = std::min(b.x0, X);
        b.x1 = std::max(b.x1, X);
        b.y0 = std::min(b.y0, Y);
        b.y1 = std::max(b.y1, Y);
        ++b.count;
      }
  return b;
}

// Headless browser flags: no network, no first-run work, a profile of its
// own in the working folder, bounded in time.
inline bool renderSvg(const std::string& svg, const std::string& png, std::string& log) {
  char buf[4096];
  const std::string here = ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
  const std::string cmd =
      "timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--hide-scrollbars --force-device-scale-factor=2 --window-size=1056,816 "
      "--user-data-dir='" + here + "/browser-profile' --screenshot='" + here + "/" + png +
      "' 'file://" + here + "/" + svg + "' >chromium.log 2>&1";
  const int rc = std::system(cmd.c_str());
  log = slurp("chromium.log");
  return rc == 0;
}

inline bool renderPs(const std::string& ps, const std::string& png, std::string& log) {
  const std::string cmd = "timeout 60 gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r192 "
                          "-sPAPERSIZE=letter -dFIXEDMEDIA -sOutputFile='" + png + "' '" + ps +
                          "' >gs.log 2>&1";
  const int rc = std::system(cmd.c_str());
  log = slurp("gs.log");
  return rc == 0;
}

// Why a rendering comparison cannot run here, "" when it can.
inline std::string missingRenderers() {
#ifndef TK_HAVE_PNG
  return "libpng was not found when the tests were built";
#else
  if (!have("chromium")) return "chromium not installed";
  if (!have("gs")) return "ghostscript not installed";
  return "";
#endif
}

}  // namespace gxrender
