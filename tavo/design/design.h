// Design tools: the minimiser, stigmation, excitation and coefficient fits,
// octupole correction and the edge-ray trace.
#pragma once

#include <functional>
#include <string>

#include "tavo/state.h"

namespace tavo {

// The minimiser. The objective reads X(1..NV) from s.blk1 and stores the
// objective value in s.blk2.chisq. Returns the number of objective calls.
using Objective = std::function<void(Tavo&)>;
int stepit(Tavo& s, const Objective& objective);
// Prepares the minimiser storage for NV variables with one precision.
void setup(Tavo& s, double precision);

// Squared astigmatism measure of the whole system (both planes).
void astigmatismSquared(Tavo& s, double& v);
// Objective of the astigmatism fit.
void astigmatismObjective(Tavo& s);
// The astigmatism A(3,4)/A(4,4) - A(1,2)/A(2,2) of the system truncated at
// z, for z from z0 to z1 in the given number of steps (clamped to the
// system), written as (z, a) records to the open unit, closed on return.
void astigmatismAlong(Tavo& s, double z0, double z1, double steps, int unit);

// Excitation coefficients for a perturbation of dp percent (0: 0.5);
// on return dp holds dp/100.
void excite(Tavo& s, double& dp);
// Objective of the coefficient fit.
void coefficientObjective(Tavo& s);
// The objective over an n x m grid of the first two variables, from
// range[v][0] to range[v][1], written to the open unit (closed on return)
// as (X, Y, objective) records; the variables return to the grid centre.
void coefficientGrid(Tavo& s, const double range[2][2], int n, int m, int unit);

// Thin-lens spherical coefficients of the quadrupoles (object side, m/rad^3).
// False when the system cannot be treated (the outputs are then not set).
bool fishk(Tavo& s, double& p, double& sx, double& pb, double& sb, bool report = true);
// Octupole fields that cancel P, (S + SB)/2 and PB; S receives the mean.
// False when no correction was written.
bool octupoleCorrection(Tavo& s, double p, double& sx, double pb, double sb);

// The ray at z through the system truncated there.
void truncatedSystem(Tavo& s, int order, double z, double dz, int& iz, Mat4& a, double ray[4]);
// TRACE: the edge ray from z to z on the plot device of the option letter
// (R repeats the last window), in `value` steps (250 without).
void trace(Tavo& s, char option, double value);

}  // namespace tavo
