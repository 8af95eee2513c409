// Fortran unformatted sequential records: every record is a 4-byte
// little-endian byte count, the payload, and the same count again.
//
// Readers never trust the file: a record cut short, a count that does not
// match at both ends or a count that cannot be a record length is reported
// as a damaged record, never read past.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string>

namespace gx {

enum class RecStat {
  Ok,    // a whole record was read
  End,   // clean end of file at a record boundary
  Bad    // truncated record, mismatched markers, or a record too short
};

// Writes one record. False when the stream refused the bytes (the stream is
// then marked bad, so a unit closed on it is discarded, not kept).
bool writeRecord(std::ostream& os, const void* payload, std::uint32_t n);

// Reads the next record into n bytes. As in Fortran, a longer record is
// read in part and the rest skipped; a shorter one is an error (Bad).
RecStat readRecord(std::istream& is, void* payload, std::uint32_t n);

// Reads the next record whatever its length; records above maxLen are Bad.
RecStat readRecord(std::istream& is, std::string& payload,
                   std::uint32_t maxLen = 1u << 24);

// Steps over the next record, checking both markers. On Ok, len (if given)
// receives the payload length.
RecStat skipRecord(std::istream& is, std::uint32_t* len = nullptr);

// A record's length marker to and from its 4 little-endian bytes, for
// readers and writers that handle many records at once. Inline: a reader
// checks two markers per 40-byte ray.
inline void putU32(char* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, 4);
  } else {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xffu);
  }
}
inline std::uint32_t getU32(const char* p) {
  std::uint32_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, 4);   // one load
  } else {
    for (int i = 0; i < 4; ++i)
      v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  return v;
}

// Doubles to and from little-endian IEEE 754 bytes (8 per value). Inline:
// the ray readers and writers call them once per record.
inline void putDoublesLE(char* dst, const double* v, int n) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(dst, v, static_cast<size_t>(n) * 8);
  } else {
    for (int i = 0; i < n; ++i) {
      std::uint64_t u;
      std::memcpy(&u, &v[i], 8);
      for (int b = 0; b < 8; ++b) dst[i * 8 + b] = static_cast<char>((u >> (8 * b)) & 0xffu);
    }
  }
}
inline void getDoublesLE(const char* src, double* v, int n) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(v, src, static_cast<size_t>(n) * 8);
  } else {
    for (int i = 0; i < n; ++i) {
      std::uint64_t u = 0;
      for (int b = 0; b < 8; ++b)
        u |= static_cast<std::uint64_t>(static_cast<unsigned char>(src[i * 8 + b])) << (8 * b);
      std::memcpy(&v[i], &u, 8);
    }
  }
}

}  // namespace gx
