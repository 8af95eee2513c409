// Stroke text in data coordinates at any size and angle, with an in-line
// escape language (ESC or "^" and one letter) for sub- and superscripts,
// Greek letters, special symbols, font changes, boxes and bold strokes.
// Sizes are in text units (gxunit), so text keeps its size on any window.
#include <algorithm>
#include <cmath>

#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

constexpr int kFont0Points = 30;

void gxletters(PlotState& p) {
  p.font0.assign(256 * kFont0Points, Font0Point{0, 0, 4});
  for (int i = 0; i < kFont0Count; ++i) {
    const Font0Char& c = kFont0[i];
    if (c.code < 0 || c.code > 255) continue;
    int n = std::min(c.n, kFont0Points - 1);
    for (int k = 0; k < n; ++k) p.font0[c.code * kFont0Points + k] = c.pts[k];
  }
}

namespace {

// The layout state of one text.
struct Layout {
  Lib& g;
  char device;
  bool draw;
  float x0, y0, unitX, unitY;  // origin and data units of one cell unit
  float cosA = 1, sinA = 0;
  bool rotate = false;
  float size = 1, xscale = 1, yscale = 1, slant = 0, raise = 0, line = 0;
  float penx = 0, prevStart = 0;
  int font = 0, offset = 0;
  bool special = false;  // G or V in force
  bool bold = false;
  bool boxOpen = false;
  float boxX = 0, boxRaise = 0, boxSize = 1;
  float lastLocalX = 0, lastLocalY = 0;

  void send(float lx, float ly, int pen) {
    if (!draw) return;
    float X = lx, Y = ly;
    if (rotate) {
      X = lx * cosA - ly * sinA;
      Y = lx * sinA + ly * cosA;
    }
    gxplot(g, device, x0 + X * unitX, y0 + Y * unitY, pen);
  }

  // One point of a character in cell units.
  void point(float cx, float cy, int pen, float& maxx) {
    float lxNoSlant = cx * size * xscale + penx;
    float ly = cy * size * yscale + raise + line;
    float lx = lxNoSlant + slant * cy * size * yscale;
    maxx = std::max(maxx, lxNoSlant);
    if (pen == 2 && bold) {
      send(lx, ly, 2);
      send(lastLocalX, lastLocalY, 2);
    }
    send(lx, ly, pen);
    lastLocalX = lx;
    lastLocalY = ly;
  }

  void character(int code) {
    int cc = code + offset;
    if (cc < 1 || cc > 256) cc = ' ';
    prevStart = penx;
    float maxx = penx;
    if (font == 0) {
      PlotState& p = g.plot;
      if (p.font0.empty()) gxletters(p);
      // Characters may continue in another one (pen -1 with its code in x).
      int guard = 0;
      int c = cc > 255 ? ' ' : cc;
      bool any = false;
      while (guard++ < 8) {
        int next = -1;
        for (int k = 0; k < kFont0Points; ++k) {
          const Font0Point& q = p.font0[c * kFont0Points + k];
          if (q.pen == 4) break;
          if (q.pen == -1) {
            next = static_cast<int>(q.x);
            break;
          }
          point(q.x, q.y, q.pen, maxx);
          any = true;
        }
        if (next < 0 || next > 255) break;
        c = next;
      }
      if (!any && cc != ' ') {
        character(' ' - offset);  // a code with no strokes is a blank
        return;
      }
    } else {
      const std::int16_t* idx = font == 8 ? kFont8Index : kFontIndex[font - 1];
      int pos = (cc >= 32 && cc <= 127) ? idx[cc - 32] : 0;
      if (pos < 1 || pos > kStrokeWords - 1) {
        if (cc != ' ') {
          character(' ' - offset);
          return;
        }
        // No blank in this font: the advance of font 0's.
        pos = 0;
      }
      if (pos == 0) {
        maxx = penx + 6.0f * 16 / 21 * size * xscale;
      } else {
        int w = kStrokes[pos - 1];
        if (w != 4095) {
          // The advance, in the same packing as the points.
          maxx = std::max(maxx, penx + 6.0f * (w % 64) / 21.0f * size * xscale);
          int pen = 3;
          for (int k = pos; k < kStrokeWords; ++k) {
            w = kStrokes[k];
            if (w == 4095) break;
            if (w == 63) {
              pen = 3;
              continue;
            }
            float cx = 6.0f * (w % 64) / 21.0f;
            float cy = 6.0f * ((w / 64) % 64 - 7) / 21.0f;
            point(cx, cy, pen, maxx);
            pen = 2;
          }
        }
      }
    }
    penx = maxx;
  }

  void closeBox() {
    float yb = boxRaise + line - 2.5f * boxSize, yt = boxRaise + line + 8.0f * boxSize;
    float xa = boxX - 0.5f * boxSize, xb = penx + 0.5f * boxSize;
    send(xa, yb, 3);
    send(xb, yb, 2);
    send(xb, yt, 2);
    send(xa, yt, 2);
    send(xa, yb, 2);
  }

  void reset(int defaultFont) {
    size = xscale = yscale = 1;
    slant = raise = 0;
    if (special) {
      font = defaultFont;
      offset = 0;
      special = false;
    }
  }
};

float layout(Lib& g, char device, bool draw, float x, float y, float height, float angle,
             const std::string& text, int length) {
  if (height == 0 || !std::isfinite(height)) return 0.0f;
  float ux, uy;
  gxunit(g, ux, uy);
  Layout L{g, device, draw, x, y, ux * height / 5.0f, uy * height / 5.0f};
  if (std::fabs(angle) > 1e-10f) {
    L.rotate = true;
    const float rad = angle * 3.1415927f / 180.0f;
    L.cosA = std::cos(rad);
    L.sinA = std::sin(rad);
  }
  const int defaultFont = g.plot.font;
  L.font = defaultFont;
  size_t n = (length < 0 || static_cast<size_t>(length) > text.size()) ? text.size()
                                                                        : static_cast<size_t>(length);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != 27 && c != '^') {
      L.character(c);
      continue;
    }
    if (++i >= n) break;  // an escape as the last character is ignored
    char e = plotUpper(text[i]);
    switch (e) {
      case 'U': L.raise += 3.75f * L.size; L.size *= 0.75f; break;
      case 'D': L.raise -= 2.25f * L.size; L.size *= 0.75f; break;
      case 'E':
        if (!L.boxOpen) {
          L.boxOpen = true;
          L.boxX = L.penx;
          L.boxRaise = L.raise;
          L.boxSize = L.size;
        } else {
          L.boxOpen = false;
          L.closeBox();
        }
        break;
      case 'Y': L.line += 9.0f * L.size; L.penx = L.prevStart; break;
      case 'F': L.line -= 9.0f * L.size; L.penx = L.prevStart; break;
      case 'M': L.line -= 4.5f * L.size; L.penx = 0; break;
      case 'N': L.line -= 9.0f * L.size; L.penx = 0; break;
      case 'K': L.line += 4.5f * L.size; L.penx = 0; break;
      case 'J': L.line += 9.0f * L.size; L.penx = 0; break;
      case 'G': L.font = 0; L.offset = 129; L.special = true; break;
      case 'V': L.font = 0; L.offset = -64; L.special = true; break;
      case 'C': L.font = defaultFont; L.offset = 0; L.special = false; break;
      case 'B': L.penx = L.prevStart; break;
      case 'H': L.penx -= 6.0f * L.size; break;
      case 'I': L.size /= 0.75f; break;
      case 'S': L.size *= 0.75f; break;
      case 'T': L.slant += 1.0f / 3.0f; break;
      case 'Z': L.bold = !L.bold; break;
      case 'A': L.xscale /= 0.75f; break;
      case 'L': L.yscale /= 0.75f; break;
      case '^': L.character('^'); break;
      default:
        if (e >= '0' && e <= '9') {
          L.font = e == '9' ? defaultFont : e - '0';
          L.offset = 0;
          L.special = false;
        } else {
          L.reset(defaultFont);
        }
        break;
    }
  }
  if (L.boxOpen) L.closeBox();  // a box left open ends with the text
  return L.penx * L.unitX;
}

}  // namespace

void gxsymbol(Lib& g, char device, float x, float y, float height, float angle,
              const std::string& text, int length) {
  const Device& dev = deviceFor(device);
  const bool noted = dev.textBegin && height != 0 && std::isfinite(height);
  if (noted) dev.textBegin(g, gxplaintext(text, length));
  layout(g, device, true, x, y, height, angle, text, length);
  if (noted && dev.textEnd) dev.textEnd(g);
}

std::string gxplaintext(const std::string& text, int length) {
  const size_t n = (length < 0 || static_cast<size_t>(length) > text.size())
                       ? text.size()
                       : static_cast<size_t>(length);
  std::string r;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 27 || c == '^') {
      if (++i < n && text[i] == '^') r += '^';
      continue;
    }
    r += (c < 0x20 || c >= 0x7f) ? '?' : static_cast<char>(c);
  }
  return r;
}

float gxsymlen(Lib& g, float height, const std::string& text, int length) {
  return layout(g, 'U', false, 0, 0, height, 0, text, length);
}

}  // namespace gx
