// The Tektronix terminal driver's state: the emulation, the destination,
// the screen window and the address bytes last sent.
#pragma once

#include <array>
#include <ostream>
#include <string>

namespace gx {

// Tektronix 4010/4014 terminal driver.
struct CrState {
  int type = 0;       // terminal emulation 1..10, 0 until chosen
  int prevType = 0;   // the type before the last TERM (for TERM/R)
  int mode = 0;       // 0 text, 1 graphics vector, 2 graphics alpha
  std::string dest = "/dev/tty";
  bool open = false;  // destination open
  int fd = -1;        // the open destination (file, FIFO, device, terminal)
  std::ostream* sink = nullptr;         // a caller's stream instead of a file
  // Clip rectangle and screen window, screen units.
  int clipXlo = 0, clipXhi = 1023, clipYlo = 0, clipYhi = 767;
  float left = 0, right = 1023, bottom = 0, top = 767;
  // Data window and its mapping.
  float xmin = 0, ymin = 0, xspan = 20, yspan = 15;
  float xscale = 51.15f, yratio = 1.0f;
  float factor = 1.0f, xoff = 0, yoff = 0;  // offsets in screen units
  int lastX = 0, lastY = 0, lastPen = 0, lastStyle = 0, lastIntensity = 0;
  std::array<int, 4> bytes{};  // last address bytes: hi y, lo y, hi x, lo x
  bool bytesValid = false;
  std::string buf;  // queued output, at most 120 characters
};

}  // namespace gx
