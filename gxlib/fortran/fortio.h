// Fortran-style edit descriptors and list-directed input.
//
// Output follows what gfortran prints: values are rounded from their exact
// binary value to nearest, ties to even; a value that does not fit its width
// is shown as asterisks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gx {

// Fw.d
std::string fF(double v, int w, int d);
// kPEw.d (k = scale factor, 0 for a plain Ew.d, 1 for 1PEw.d)
std::string fE(double v, int w, int d, int k = 0);
// kPGw.d
std::string fG(double v, int w, int d, int k = 0);
// Iw
std::string fI(long long v, int w);
// Aw: a longer text keeps its leftmost w characters, a shorter one is
// right-justified.
std::string fA(std::string_view s, int w);
// nX
inline std::string fX(int n) { return std::string(n > 0 ? n : 0, ' '); }

// Formatted input of one numeric field (Fw.0, Iw with blanks ignored).
// An all-blank field reads as 0. Returns false on a read error.
bool readReal(std::string_view field, double& v);
bool readInt(std::string_view field, long long& v);

// One value of a list-directed record.
struct ListItem {
  bool null = true;   // no value: the target keeps its old value
  std::string text;   // the value's characters
};

// Splits list-directed input into items. Call add() with one record at a time
// until done() (enough items, or a "/" seen). Repeat counts r*c and r* are
// expanded; empty fields between commas are null values.
class ListScanner {
 public:
  explicit ListScanner(int wanted) : wanted_(wanted) {}
  // Returns false if the record holds a malformed repeat count.
  bool add(std::string_view record);
  bool done() const { return slash_ || static_cast<int>(items_.size()) >= wanted_; }
  const std::vector<ListItem>& items() const { return items_; }

 private:
  bool push(std::string_view tok);
  int wanted_;
  bool slash_ = false;
  bool pendingComma_ = false;  // last separator was a comma
  bool sawValue_ = false;      // any value or separator seen in this read
  std::vector<ListItem> items_;
};

// Reads a list-directed real (accepts 1.5D3, 12., .5, -1e-3, 1.5+3).
bool listReal(std::string_view text, double& v);
bool listInt(std::string_view text, long long& v);

// Blank-pads or cuts s to exactly n characters.
std::string pad(std::string_view s, size_t n);
// s without trailing blanks, tabs and NULs.
std::string_view trimRight(std::string_view s);

}  // namespace gx
