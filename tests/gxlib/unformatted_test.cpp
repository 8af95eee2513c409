// Fortran unformatted sequential records: layout, and damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "gxlib/fortran/unformatted.h"

namespace {

std::string marker(std::uint32_t n) {
  std::string m(4, '\0');
  for (int i = 0; i < 4; ++i) m[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xff);
  return m;
}

std::string record(const std::string& payload) {
  return marker(static_cast<std::uint32_t>(payload.size())) + payload +
         marker(static_cast<std::uint32_t>(payload.size()));
}

TEST(UnformattedRecords, WrittenLayoutIsCountPayloadCount) {
  std::ostringstream os;
  ASSERT_TRUE(gx::writeRecord(os, "abc", 3));
  ASSERT_TRUE(gx::writeRecord(os, "", 0));
  std::string want = std::string("\x03\0\0\0abc\x03\0\0\0", 11) + std::string(8, '\0');
  EXPECT_EQ(os.str(), want);
}

TEST(UnformattedRecords, DoublesAreLittleEndianIeee) {
  // 1.0 is 0x3FF0000000000000; -2.0 is 0xC000000000000000.
  double v[2] = {1.0, -2.0};
  char b[16];
  gx::putDoublesLE(b, v, 2);
  EXPECT_EQ(std::string(b, 8), std::string("\0\0\0\0\0\0\xF0\x3F", 8));
  EXPECT_EQ(std::string(b + 8, 8), std::string("\0\0\0\0\0\0\0\xC0", 8));
  double back[2];
  gx::getDoublesLE(b, back, 2);
  EXPECT_EQ(back[0], 1.0);
  EXPECT_EQ(back[1], -2.0);
}

TEST(UnformattedRecords, ReadsRecordsInTurnThenEnd) {
  std::istringstream is(record("hello") + record(std::string(40, 'x')));
  std::string p;
  EXPECT_EQ(gx::readRecord(is, p), gx::RecStat::Ok);
  EXPECT_EQ(p, "hello");
  char buf[40];
  EXPECT_EQ(gx::readRecord(is, buf, 40), gx::RecStat::Ok);
  EXPECT_EQ(std::string(buf, 40), std::string(40, 'x'));
  EXPECT_EQ(gx::readRecord(is, buf, 40), gx::RecStat::End);
  EXPECT_EQ(gx::skipRecord(is), gx::RecStat::End);
}

TEST(UnformattedRecords, LongerRecordReadInPartShorterIsAnError) {
  // As in Fortran: reading fewer bytes than the record holds skips the rest;
  // asking for more than it holds is an error, and the next record is intact.
  std::istringstream is(record("0123456789") + record("ab") + record("next"));
  char buf[4];
  EXPECT_EQ(gx::readRecord(is, buf, 4), gx::RecStat::Ok);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(gx::readRecord(is, buf, 4), gx::RecStat::Bad);
  std::string p;
  EXPECT_EQ(gx::readRecord(is, p), gx::RecStat::Ok);
  EXPECT_EQ(p, "next");
}

TEST(UnformattedRecords, DamagedFilesAreErrorsNotCrashes) {
  char buf[40];
  std::string whole = record(std::string(40, 'r'));
  // Cut inside the leading count, the payload and the trailing count.
  for (size_t cut : {size_t{2}, size_t{20}, size_t{46}}) {
    std::istringstream is(whole.substr(0, cut));
    EXPECT_EQ(gx::readRecord(is, buf, 40), gx::RecStat::Bad) << "cut at " << cut;
    std::istringstream is2(whole.substr(0, cut));
    EXPECT_EQ(gx::skipRecord(is2), gx::RecStat::Bad) << "cut at " << cut;
  }
  // Counts that differ at the two ends.
  std::istringstream bad(marker(40) + std::string(40, 'r') + marker(41));
  EXPECT_EQ(gx::readRecord(bad, buf, 40), gx::RecStat::Bad);
  // A wild count in a short file: an error, and no huge allocation.
  std::istringstream wild(marker(0x7ffffff0u) + "abc");
  std::string p;
  EXPECT_EQ(gx::readRecord(wild, p), gx::RecStat::Bad);
  std::istringstream wild2(marker(0x7ffffff0u) + "abc");
  EXPECT_EQ(gx::skipRecord(wild2), gx::RecStat::Bad);
  // The top bit set (a continued subrecord) is not a ray-set record.
  std::istringstream neg(marker(0xfffffffcu) + "abcd" + marker(0xfffffffcu));
  EXPECT_EQ(gx::readRecord(neg, p), gx::RecStat::Bad);
}

TEST(UnformattedRecords, FailedWriteMarksTheStreamBad) {
  std::ostringstream os;
  os.setstate(std::ios::failbit);
  EXPECT_FALSE(gx::writeRecord(os, "abc", 3));
  EXPECT_TRUE(os.bad());
}

}  // namespace
