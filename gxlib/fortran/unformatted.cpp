#include "gxlib/fortran/unformatted.h"

#include <bit>
#include <cstring>
#include <istream>
#include <ostream>

namespace gx {

namespace {

// A count with the top bit set would be a continued subrecord (records over
// 2 GB); no ray set holds one, so it is treated as damage.
constexpr std::uint32_t kMaxMarker = 0x7fffffffu;

// Raw reads through the buffer: the stream's own sentries cost more than
// the 40-byte records they would guard.
std::streamsize get(std::istream& is, char* p, std::streamsize n) {
  return is.rdbuf() ? is.rdbuf()->sgetn(p, n) : 0;
}

// Reads the leading count: End at a clean boundary, Bad when cut short.
RecStat lead(std::istream& is, std::uint32_t& len) {
  char m[4];
  std::streamsize got = get(is, m, 4);
  if (got == 0) return RecStat::End;
  if (got != 4) return RecStat::Bad;
  len = getU32(m);
  return len > kMaxMarker ? RecStat::Bad : RecStat::Ok;
}

RecStat trail(std::istream& is, std::uint32_t len) {
  char m[4];
  if (get(is, m, 4) != 4) return RecStat::Bad;
  return getU32(m) == len ? RecStat::Ok : RecStat::Bad;
}

// Skips n payload bytes by reading them: small records stay in the buffer.
bool discard(std::istream& is, std::uint32_t n) {
  char buf[4096];
  while (n > 0) {
    std::uint32_t k = n < sizeof buf ? n : static_cast<std::uint32_t>(sizeof buf);
    if (get(is, buf, k) != static_cast<std::streamsize>(k)) return false;
    n -= k;
  }
  return true;
}

}  // namespace

bool writeRecord(std::ostream& os, const void* payload, std::uint32_t n) {
  if (n > kMaxMarker || !os.rdbuf() || !os) {
    os.setstate(std::ios::badbit);
    return false;
  }
  char m[4];
  putU32(m, n);
  std::streambuf* b = os.rdbuf();
  bool ok = b->sputn(m, 4) == 4 &&
            b->sputn(static_cast<const char*>(payload), n) == static_cast<std::streamsize>(n) &&
            b->sputn(m, 4) == 4;
  if (!ok) os.setstate(std::ios::badbit);
  return ok;
}

RecStat readRecord(std::istream& is, void* payload, std::uint32_t n) {
  char* p = static_cast<char*>(payload);
  if (n <= 248) {
    // The usual case, a record of the length asked for: both counts and
    // the payload in one read.
    char buf[256];
    std::streamsize want = static_cast<std::streamsize>(n) + 8;
    std::streamsize got = get(is, buf, want);
    if (got == 0) return RecStat::End;
    if (got >= 4 && getU32(buf) == n) {
      if (got != want || getU32(buf + 4 + n) != n) return RecStat::Bad;
      std::memcpy(p, buf + 4, n);
      return RecStat::Ok;
    }
    // Another length: step back to the start of the record and read it
    // the long way.
    if (!is.rdbuf() ||
        is.rdbuf()->pubseekoff(-got, std::ios::cur, std::ios::in) == std::streampos(-1))
      return RecStat::Bad;
  }
  std::uint32_t len = 0;
  RecStat st = lead(is, len);
  if (st != RecStat::Ok) return st;
  if (len < n) {
    // Fortran's "past end of record": still step over it, so the file
    // position stays on a record boundary.
    if (!discard(is, len)) return RecStat::Bad;
    trail(is, len);
    return RecStat::Bad;
  }
  if (get(is, p, n) != static_cast<std::streamsize>(n)) return RecStat::Bad;
  if (!discard(is, len - n)) return RecStat::Bad;
  return trail(is, len);
}

RecStat readRecord(std::istream& is, std::string& payload, std::uint32_t maxLen) {
  std::uint32_t len = 0;
  RecStat st = lead(is, len);
  if (st != RecStat::Ok) return st;
  if (len > maxLen) return RecStat::Bad;
  // Grow in steps so that a wild count in a short file allocates little.
  payload.clear();
  std::uint32_t left = len;
  char buf[4096];
  while (left > 0) {
    std::uint32_t k = left < sizeof buf ? left : static_cast<std::uint32_t>(sizeof buf);
    if (get(is, buf, k) != static_cast<std::streamsize>(k)) return RecStat::Bad;
    payload.append(buf, k);
    left -= k;
  }
  return trail(is, len);
}

RecStat skipRecord(std::istream& is, std::uint32_t* len) {
  std::uint32_t n = 0;
  RecStat st = lead(is, n);
  if (st != RecStat::Ok) return st;
  if (!discard(is, n)) return RecStat::Bad;
  st = trail(is, n);
  if (st == RecStat::Ok && len) *len = n;
  return st;
}

}  // namespace gx
