// KESTRIM's routines: ray-set channels, the coefficient store and the
// command routines.
#pragma once

#include <string>

#include "kestrim/state.h"

namespace kestrim {

// Ray-set channels (option R, W, A; E closes all three).
void kqio(Kestrim& k, char option, std::string& name, int& ierr);
// R reads ray n; W and A write the five values as the next record.
// Returns false when a read met the end of the file (NTOT corrected).
bool kqrays(Kestrim& k, char option, int n, double& x, double& th, double& y,
            double& ph, double& de);
void kqioend(Kestrim& k, char option);
void kqdump(Kestrim& k, std::string& line, char qual, double value);

// Coefficient store.
int cofin(Kestrim& k, std::string& name);   // 0 ok, 1 failed
void cofmod(Kestrim& k, int inunit, int outunit, int& echo, std::string& name,
            char answer, int& status);
void cofout(Kestrim& k, std::string name);
int cofcheck(const Kestrim& k, double x, double th, double y, double ph);  // 0 passes
void coftran(const Kestrim& k, double x, double th, double y, double ph, double de,
             double& xo, double& tho, double& yo, double& pho);
void cofsole(const Kestrim& k, double x, double th, double y, double ph, double de,
             double& xo, double& tho, double& yo, double& pho);
void coffocal(const Kestrim& k, double& fx, double& fy);
void cof1(const Kestrim& k, double a[4][4]);   // a[r-1][c-1] = M(r,c)
void cof3(const Kestrim& k, double& d1, double& d2);
std::string cofcap(const Kestrim& k);

// Ray synthesis.
double gxrandom(double r);
double gxfrac(double x);
void kqsynth(Kestrim& k, std::string& line, char qual, double value);

}  // namespace kestrim
