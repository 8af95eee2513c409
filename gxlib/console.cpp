// Placeholder: replaced by the console utilities.
#include "gxlib/gxlib.h"

namespace gx {
void gxdecode(Lib&, std::string&, char& q, double& v) { q = ' '; v = 0; }
int gxupdate(Lib&, int, int, int, double&, double&) { return kReadEnd; }
int gxupdate(Lib&, int, int, int, double&) { return kReadEnd; }
int gxupdatec(Lib&, int, int, int, double&, double&, const std::string&) { return kReadEnd; }
void gxhelp(Lib&, int, int, int, const std::string&, const std::string&) {}
int gxlen(const std::string& s) { int n = static_cast<int>(s.size()); while (n > 0 && (s[n-1] == ' ' || s[n-1] == '\t')) --n; return n; }
void gxlead(Lib&, std::string&) {}
void gxupcase(std::string&) {}
void gxcls(Lib&, int, char) {}
int gxsystem(Lib&, const std::string&) { return 0; }
std::string gxtime(Lib&) { return "        "; }
void gxdelay(float) {}
void gxquit(Lib&, char) {}
int gxparam(Lib&, int, int, int, const std::string&, char, double) { return 1; }
std::string helpPath(const std::string& f) { return f; }
}  // namespace gx
