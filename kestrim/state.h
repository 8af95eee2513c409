// KESTRIM's shared records, held together in one Kestrim object.
#pragma once

#include <array>
#include <string>

#include "gxlib/gxlib.h"

namespace kestrim {

struct kqinout {
  int file = 10;   // auxiliary files (registers, delays, LIST, DELETE)
  int in = 5;      // current input: 5 terminal, 15, 25, ... macro levels
  int out = 6;     // terminal output
  int macro = 0;   // 1 while any macro is being read
};

struct kqflags {
  int colour = 0;
  int focalKnown = 0;   // set by SYNTH
  int scaleDraw = 0;
};

// Ray-set channels: read, write and append units and the position counter.
struct kqraysblk {
  int unitR = 7, unitW = 8, unitA = 9;
  int pos = 0;          // number of the ray last read on the read channel
  // Reading costs, for whoever wants to check them: records read on the
  // read channel (caption records included) and rewinds of it.
  long long reads = 0;
  long long rewinds = 0;
};

// The ray last read.
struct kqrayscur {
  double x = 0, th = 0, y = 0, ph = 0, de = 0;
};

// Coefficient store.
struct cofinout {
  std::array<int, 6> u{0, 1, 1, 3, 5, 6};   // units (1)..(5), index 0 unused
};
struct cofobap {
  // object X/2, object Y/2, aperture X/2, aperture Y/2,
  // object X CENTRE, object Y CENTRE, aperture X CENTRE, aperture Y CENTRE
  std::array<double, 8> v{};
};
struct cofdis {
  double objap = 0;    // object-to-aperture distance
  double shadow = 0;   // image-to-shadow-plane distance
  double totlen = 0;   // total system length
};
struct cofbmat {
  // 112 values; as a 4x28 column-major matrix b(r,c), indexed from 1.
  std::array<double, 112> v{};
  double& operator()(int r, int c) { return v[(c - 1) * 4 + (r - 1)]; }
  double operator()(int r, int c) const { return v[(c - 1) * 4 + (r - 1)]; }
  // third-order value n (1..12) of plane p (1 x, 2 y): entries 73.. interleaved
  double& t3(int p, int n) { return v[72 + (n - 1) * 2 + (p - 1)]; }
  double t3(int p, int n) const { return v[72 + (n - 1) * 2 + (p - 1)]; }
  // fifth-order value n (1..6) of plane p: entries 97.. interleaved
  double& t5(int p, int n) { return v[96 + (n - 1) * 2 + (p - 1)]; }
  double t5(int p, int n) const { return v[96 + (n - 1) * 2 + (p - 1)]; }
};

struct Kestrim {
  Kestrim(std::istream& in, std::ostream& out, bool interactive = false)
      : gx(in, out, interactive) {}

  gx::Lib gx;

  kqinout io;
  int ntot = 0;                      // kqnorays
  std::string caption;               // kqcapt: caption (100)
  std::string rayFile;               // kqcapt: current ray-set file name (100)
  std::array<double, 10> areg{};     // kqareg A0..A9
  std::array<int, 10> ireg{};        // kqireg I0..I9
  kqflags flags;
  int dotMode = 0;
  double dotSize = 1.0;
  // Spot maps and phase-space plots.
  struct kqmapopts {
    int captions = 1;   // captions drawn
    int centred = 1;    // 1: window centred on the axis; 0: window mode
    int paraxial = 1;   // rays 1 and 2 drawn too
  } mapopts;
  // Data extent at the last map plane (m).
  double extXmin = 0, extXmax = 0, extYmin = 0, extYmax = 0;
  // Half-sizes of the point squares (m, or the plot's units).
  float pointWx = 0, pointWy = 0;
  // The last map and the last plot, for the redraw qualifier R.
  struct kqlastplot {
    bool valid = false;
    char device = 'S';
    double w = 0, z = 0;          // half-width and plane
    float xmin = 0, xmax = 0, ymin = 0, ymax = 0;  // clip window
    char h = 'X', v = 'Y';        // PLOT's axes
  } lastMap, lastPlot;
  double mapHalfWidth = 0.0;         // remembered map (MAP/R)
  double mapPlane = 0.0;
  int ndel = 1000, nper = 1000;
  int flashCount = 0;
  std::string prevLine;              // previous command line (40)
  char prevQual = ' ';
  double prevValue = 0.0;
  std::string prevArg;               // its argument as typed (file names)
  std::string helppath;

  kqraysblk rays;
  kqrayscur cur;

  // Synthesis
  int ncolours = 4;
  double xfocal = 1e10, yfocal = 1e10;   // focal positions from SYNTH

  // Coefficient store
  int coffile = 0;
  cofinout cofio;
  std::string coftitle;              // 100 characters
  char cofshape = 'C';               // aperture shape letter
  cofobap obap;
  cofdis dis;
  cofbmat bmat;
  std::array<double, 4> chrm{};      // cofchrm

  // FIND's parameters, kept from one FIND to the next (m, mm/mm^k).
  struct kqfindblk {
    double period = static_cast<double>(1.27e-5f);
    double shadowPeriod = 1e-3, shadowError = 0;
    int order = 1;
    std::array<double, 20> c{};
    double width = 0;
  } find;

  // The particle of the ray set, for openPMD files (OPMD): the last one
  // given or read, offered as the default next time.
  struct kqparticle {
    std::string species;   // SpeciesType name, empty when none yet
    int charge = 0;        // charge number
    double massAmu = 0;    // rest mass (u)
    double energy = 0;     // reference kinetic energy (MeV)
  } particle;

  // Device on which SORT, PROFIL and DIFF draw their results (GRAPH):
  // S, Q, V, H or P; blank when they only write their files.
  char graphDevice = ' ';

  bool running = true;
};

}  // namespace kestrim
