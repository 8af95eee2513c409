// First-order optics: element matrices and the system evaluation.
#pragma once

#include "tavo/state.h"

namespace tavo {

// Element routines: fill M for row i and write the row's lens parameters.
void drift(Tavo& s, int i, Mat4& m);
void quad(Tavo& s, int i, Mat4& m);
void sext(Tavo& s, int i, Mat4& m);
void octu(Tavo& s, int i, Mat4& m);
void solenoid(Tavo& s, int i, Mat4& m);
void dipole(Tavo& s, int i, Mat4& m);
void accel(Tavo& s, int i, Mat4& m);
void gap(Tavo& s, int i, Mat4& m);
void einzel(Tavo& s, int i, Mat4& m);
// Bell-shaped magnetic round lens B0/(1+((z-zc)/a)^2) (code 19): Glaser's
// closed-form paraxial solution over the element's length.
void bell(Tavo& s, int i, Mat4& m);
// Glaser's paraxial transfer of B0/(1+((z-zc)/a)^2) from z1 to z2 in the
// rotating frame, kk = q B0 a / (2 p): m = (r, r') -> (r, r') row by row,
// rot the Larmor rotation -integral qB/(2p) dz.
void glaserMatrix(double kk, double a, double zc, double z1, double z2, double m[4], double& rot);
void cyl(Tavo& s, int i, Mat4& m);
void velselect(Tavo& s, int i, Mat4& m);

// Shared routines.
double kineticEnergyMeV(const Tavo& s, int i);   // kinetic energy (MeV) at row i
Mat4 rotmat(double alpha);
void rotate(double alpha, Mat4& m);          // M <- R(a) M R(-a)
void swap(Mat4& m);                          // exchange the planes
void gxmatmul(const Mat4& a, Mat4& b);       // B <- A B
void gxmatmul(const Mat14& a, Mat14& b);     // B <- A B
struct LensParams {
  double fx = 0, fy = 0, mx = 0, my = 0, vx = 0, vy = 0, px = 0, qx = 0, py = 0, qy = 0;
};
LensParams light(Tavo& s, int i, const Mat4& m);
// Last focusing element k before row i and the distances from its images.
void lastFocusing(Tavo& s, int i, int& k, double& dx, double& dy);

// V <- M V plus the aberration terms of order n.
void vecmul(Tavo& s, int n, double v[4], const Mat4& m);
void dipadd(Tavo& s, int i, double v[4]);
void mag(Tavo& s, int iz, double& mx, double& my, bool warn = true);
void focal(Tavo& s, int iz, double& fx, double& fy, bool warn = true);
void geom(Tavo& s, int i, const Mat4& m);
void matprint(Tavo& s, int mode, const Mat4& m);
// Element printer: row, column count (10, 4 or 0; the beam row with 5),
// on the given unit (0: the terminal unit of the moment).
void printElement(Tavo& s, int row, int ncol, int unit = 0);

// Particle kinematics at the entrance of row i (energy from kineticEnergyMeV).
struct Kinematics {
  double q = 0;    // |charge number|
  double m = 0;    // mass (kg)
  double t = 0;    // kinetic energy (eV)
  double p = 0;    // momentum (kg m/s)
  double qep = 0;  // Q e / p, the inverse rigidity (1/(T m)); 0 when p = 0
};
Kinematics kinematics(const Tavo& s, int i);
// Diagnostic level in effect for the evaluation: nearest integer of
// particle column 5.
int diagLevel(const Tavo& s);
// Stores light's values in columns 6, 7, 9..12 of row i.
void storeLens(Tavo& s, int i, const LensParams& lp);
// An element routine called for a row of another kind: the message, the row
// (I2) and, for w > 0, "ITYPE=" with the type code in Fw.d.
void wrongKind(Tavo& s, const std::string& text, int i, int w, int d);
// Fills M with a drift of row i's length and clears columns 5..12.
void driftMatrix(Tavo& s, int i, Mat4& m);
// An einzel, cylinder or bell row whose column 4 is -n takes its axial field
// from the file axial<n>.dat: no closed form, a drift that keeps its centre.
bool axialFileRow(const Tavo& s, int i);
void axialFileDrift(Tavo& s, int i, Mat4& m);

}  // namespace tavo
