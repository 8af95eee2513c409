// Ray-set files: the read, write and append channels, reading by ray number,
// and DUMP, which turns a text dump of rays into a ray set.
//
// A ray set is a Fortran unformatted sequential file: a 100-byte caption
// record, then one 40-byte record of five doubles (X, Th, Y, Ph, DE) per ray.
// The file holds no count; it is found by reading to the end.
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <system_error>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/fortran/unformatted.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/raypoly.h"

namespace kestrim {

namespace {

constexpr std::uint32_t kCaptionLen = 100;
constexpr std::uint32_t kRayLen = 40;

// Whether the bytes at p begin a whole ray record: both markers say 40.
bool isRayRecord(const char* p) {
  return gx::getU32(p) == kRayLen && gx::getU32(p + 4 + kRayLen) == kRayLen;
}

int unitOf(const Kestrim& k, char op) {
  switch (op) {
    case 'W': return k.rays.unitW;
    case 'A': return k.rays.unitA;
    default: return k.rays.unitR;
  }
}

// Pads to at least n characters without cutting a longer name.
std::string padAtLeast(std::string s, size_t n) {
  if (s.size() < n) s.resize(n, ' ');
  return s;
}

// Reads the caption record of the read channel into the program's caption.
bool readCaption(Kestrim& k, std::istream& is) {
  char buf[kCaptionLen];
  gx::RecStat st = gx::readRecord(is, buf, kCaptionLen);
  if (st != gx::RecStat::Ok) return false;
  ++k.rays.reads;
  k.caption.assign(buf, kCaptionLen);
  return true;
}

}  // namespace

// The window of bytes a ray set is read through: [begin, end) of cur not
// yet used, the next megabyte coming into nxt on a second thread. A record
// cut by the window's end is carried to the front of the next window.
struct RayWindow {
  static constexpr size_t kRec = kRayRecordBytes;
  static constexpr size_t kChunk = kRec * 21845;   // about a megabyte
  Kestrim& k;
  std::fstream* fs = nullptr;
  bool threaded = false;
  bool open = false;           // a window stands after ray k.rays.pos
  bool more = true;            // the stream may hold more bytes
  std::vector<char> a, b;      // both windows: room for one record, then a chunk
  char *cur = nullptr, *nxt = nullptr;
  size_t begin = 0, end = 0;
  std::future<size_t> coming;  // bytes being read into nxt + kRec

  explicit RayWindow(Kestrim& kk) : k(kk), threaded(mappingThreads() > 1) {}

  void startNext() {
    std::fstream* f = fs;
    char* to = nxt + kRec;
    auto job = [f, to] {
      f->read(to, static_cast<std::streamsize>(kChunk));
      return static_cast<size_t>(f->gcount());
    };
    if (threaded) {
      try {
        coming = std::async(std::launch::async, job);
        return;
      } catch (const std::system_error&) {
        threaded = false;   // no second thread to be had: read here
      }
    }
    std::promise<size_t> done;
    done.set_value(job());
    coming = done.get_future();
  }

  // A window from the stream's position, a record's start.
  void start(std::fstream* f) {
    fs = f;
    if (!fs || !*fs) return;
    if (a.empty()) {
      a.resize(kRec + kChunk);
      b.resize(kRec + kChunk);
    }
    cur = a.data();
    nxt = b.data();
    begin = end = kRec;
    more = true;
    open = true;
    startNext();
  }

  // The next chunk behind what is left of this one; false when none came.
  bool advance() {
    if (!more || !coming.valid()) return false;
    const size_t got = coming.get();
    const size_t left = end - begin;
    std::memcpy(nxt + kRec - left, cur + begin, left);
    std::swap(cur, nxt);
    begin = kRec - left;
    end = kRec + got;
    if (got < kChunk) {
      more = false;
      fs->clear();
    } else {
      startNext();
    }
    return got > 0;
  }

  // Waits for the chunk coming, and puts the stream back at the first byte
  // not used; false when it cannot be (the position is then unknown).
  bool close() {
    if (!open) return true;
    open = false;
    auto back = static_cast<std::streamoff>(end - begin);
    if (coming.valid()) back += static_cast<std::streamoff>(coming.get());   // the chunk read ahead
    coming = {};
    fs->clear();
    return back <= 0 || fs->rdbuf()->pubseekoff(-back, std::ios::cur, std::ios::in) != std::streampos(-1);
  }
};

namespace {

// Counts the ray records from here to the first that is not one, and says
// why the count stopped; where the rays lie at the system's end is noted on
// the way. Whole ray records are counted through a window, the next
// megabyte read in while this one is counted; any other record is read as
// one record of at least a ray's length.
gx::RecStat countRays(Kestrim& k, std::fstream& fs, long long& count) {
  constexpr size_t kRec = kRayRecordBytes;
  EndExtent& end = k.rays.end;
  end = {};
  RangeScan xs, ys;   // rays 3 on
  auto note = [&](const char* payload) {
    double v[4];
    gx::getDoublesLE(payload, v, 4);
    if (count <= 2) {
      end.add(count, v[0], v[1], v[2], v[3]);
      return;
    }
    xs.add(v[0] + 0.0 * v[1]);
    ys.add(v[2] + 0.0 * v[3]);
  };
  auto done = [&](gx::RecStat st) {
    end.addRest(xs, ys);
    return st;
  };
  RayWindow w(k);
  for (;;) {
    w.start(&fs);
    while (w.open) {
      while (w.end - w.begin >= kRec) {
        const char* p = w.cur + w.begin;
        if (!isRayRecord(p)) break;
        ++count;
        note(p + 4);
        w.begin += kRec;
      }
      // A record of another kind, or the end.
      if (w.end - w.begin >= kRec || !w.advance()) break;
    }
    if (!w.close()) return done(gx::RecStat::Bad);
    char one[kRayLen];
    const gx::RecStat st = gx::readRecord(fs, one, kRayLen);
    if (st != gx::RecStat::Ok) return done(st);
    ++count;
    note(one);
  }
}

// Opens a ray set on the read channel, counts its rays into NTOT and
// leaves it at its first ray; false when it is no ray set. A set this
// session has just written whole gives its count as known (>= 0).
bool openForReading(Kestrim& k, int unit, const std::string& file, long long known) {
  gx::Io& io = k.gx.io;
  if (!io.open(unit, file, gx::OpenStatus::Old, gx::Access::Read, true)) {
    kqsay(k, "Unable to open " + file);
    return false;
  }
  std::fstream* fs = io.stream(unit);
  kqsay(k, "R: Rays file opened: " + file);
  if (!fs || !readCaption(k, *fs)) {
    kqsay(k, "?KQIO- No caption record: " + file + " is not a ray set.");
    io.close(unit);
    return false;
  }
  kqsay(k, "Caption: " + kqtrim(k.caption));
  io.prompt(" Finding number of rays....");
  long long count = known;
  gx::RecStat st = gx::RecStat::End;
  k.rays.endNtot = -1;
  if (known < 0) {
    count = 0;
    st = countRays(k, *fs, count);
    k.rays.reads += count;
    k.rays.endNtot = count;
  }
  k.ntot = count;
  io.write(k.io.out, std::string("+").append(kqcount(count, 6)).append(" rays in file."));
  if (st == gx::RecStat::Bad)
    kqsay(k, "%KQIO- Damaged or truncated record after ray " + std::to_string(count) +
                 "; the rest of the file is not used.");
  kqsay(k, "");
  io.rewind(unit);
  ++k.rays.rewinds;
  fs = io.stream(unit);
  if (!fs || !readCaption(k, *fs)) kqsay(k, "Error reading caption after rewind.");
  k.rays.pos = 0;
  return true;
}

// Opens a ray set on the write or append channel and writes its caption
// record; false when it cannot be written. Appending (keep) to a ray set
// that exists keeps its caption and its rays: the new file starts as a copy
// of them and replaces the old one when it is closed. What is not a ray set
// is refused and left as it is.
bool openForWriting(Kestrim& k, char op, int unit, const std::string& file, bool keep) {
  gx::Io& io = k.gx.io;
  std::ifstream old;
  std::string cap = gx::pad(k.caption, kCaptionLen);
  // Only a regular file holds rays to keep (a FIFO would block the read).
  std::error_code ec;
  if (op == 'A' && keep && std::filesystem::is_regular_file(file, ec)) {
    old.open(file, std::ios::binary);
    char buf[kCaptionLen];
    if (!old || gx::readRecord(old, buf, kCaptionLen) != gx::RecStat::Ok) {
      kqsay(k, "?KQIO- " + file + " is not a ray set; no rays appended to it.");
      return false;
    }
    cap.assign(buf, kCaptionLen);
  }
  if (!io.open(unit, file, gx::OpenStatus::Unknown, gx::Access::Write, true)) {
    gx::gxfail(k.gx);
    kqsay(k, "Unable to open " + file + io.reason());
    return false;
  }
  kqsay(k, std::string(1, op) + ": Rays file opened: " + file);
  std::fstream* fs = io.stream(unit);
  bool ok = fs && gx::writeRecord(*fs, cap.data(), kCaptionLen);
  if (ok && old.is_open()) {
    char buf[kRayLen];
    long long kept = 0;
    while (ok && gx::readRecord(old, buf, kRayLen) == gx::RecStat::Ok) {
      ok = gx::writeRecord(*fs, buf, kRayLen);
      ++kept;
    }
    if (ok) kqsay(k, "Appending after the " + std::to_string(kept) + " rays the file holds.");
  }
  if (!ok) {
    kqsay(k, "Unable to write rays.");
    io.close(unit, false);
    return false;
  }
  return true;
}

}  // namespace

namespace {
void openSet(Kestrim& k, char option, std::string& name, int& ierr, bool keep, long long known = -1);
}  // namespace

void kqio(Kestrim& k, char option, std::string& name, int& ierr) { openSet(k, option, name, ierr, false); }

void kqioreadwritten(Kestrim& k, std::string& name, int& ierr, long long rays) {
  openSet(k, 'R', name, ierr, false, rays);
}

void kqioappend(Kestrim& k, std::string& name, int& ierr) { openSet(k, 'A', name, ierr, true); }

namespace {

void openSet(Kestrim& k, char option, std::string& name, int& ierr, bool keep, long long known) {
  ierr = 1;
  char op = static_cast<char>(std::toupper(static_cast<unsigned char>(option)));
  if (op == 'E') {
    kqioend(k, 'R');
    kqioend(k, 'W');
    kqioend(k, 'A');
    return;
  }
  if (op != 'R' && op != 'W' && op != 'A') {
    kqsay(k, "Unknown option to KQIO, R assumed.");
    op = 'R';
  }

  if (kqblank(name)) {
    std::string reply;
    if (kqask(k, std::string(11, ' ') + "Filename for rays file > ", reply, 30) != gx::Reply::Ok)
      return;
    name = reply;
    if (kqblank(name)) return;
  }
  std::string file = kqstrip(name);
  if (!kqhasdot(file)) file += ".bin";
  name = padAtLeast(file, 100);

  int unit = unitOf(k, op);
  gx::Io& io = k.gx.io;

  if (op == 'R') {
    // The output set being written is completed first: its rays reach the
    // file only when it is closed.
    for (int w : {k.rays.unitW, k.rays.unitA}) {
      if (!io.isOpen(w) || io.nameOf(w) != file) continue;
      if (io.close(w))
        kqsay(k, "Output ray set " + file + " completed.");
      else
        kqsay(k, "?KQIO- Output ray set " + file + " could not be written" + io.reason() + ".");
    }
    // A set that cannot be read leaves the current one as it is. Only a
    // regular file is probed: a folder opens as a stream but its first read
    // throws, and opening a FIFO would wait for a writer that never comes.
    std::error_code ec;
    std::ifstream probe;
    if (std::filesystem::is_regular_file(file, ec)) probe.open(file, std::ios::binary);
    char cap[kCaptionLen];
    if (!probe.is_open()) {
      kqsay(k, "Unable to open " + file);
      return;
    }
    if (gx::readRecord(probe, cap, kCaptionLen) != gx::RecStat::Ok) {
      kqsay(k, "?KQIO- No caption record: " + file + " is not a ray set.");
      return;
    }
    probe.close();
    kqioend(k, op);
    k.ntot = 0;
    k.rays.pos = 0;
    if (openForReading(k, unit, file, known)) ierr = 0;
    return;
  }
  kqioend(k, op);
  if (openForWriting(k, op, unit, file, keep)) ierr = 0;
}

}  // namespace

bool kqrays(Kestrim& k, char option, long long n, double& x, double& th, double& y, double& ph,
            double& de) {
  char op = static_cast<char>(std::toupper(static_cast<unsigned char>(option)));
  gx::Io& io = k.gx.io;
  char buf[kRayLen];

  if (op == 'W' || op == 'A') {
    std::fstream* fs = io.stream(unitOf(k, op));
    double v[5] = {x, th, y, ph, de};
    gx::putDoublesLE(buf, v, 5);
    if (!fs || !gx::writeRecord(*fs, buf, kRayLen)) {
      kqsay(k, "Unable to write rays.");
      return false;
    }
    return true;
  }
  if (op != 'R' || n < 1) return false;

  kqraysblk& r = k.rays;
  if (n == r.pos) {
    x = k.cur.x, th = k.cur.th, y = k.cur.y, ph = k.cur.ph, de = k.cur.de;
    return true;
  }
  std::fstream* fs = io.stream(r.unitR);
  long long got = 0;   // rays known to be in the file when a read fails
  if (fs) {
    long long p = r.pos;
    if (p < 0 || n < p) {
      // Backward step (or a position lost after an error): start again.
      io.rewind(r.unitR);
      ++r.rewinds;
      fs = io.stream(r.unitR);
      if (!fs || !readCaption(k, *fs)) kqsay(k, "Error reading caption after rewind.");
      p = 0;
      r.pos = 0;
    }
    got = p;
    for (long long i = p + 1; fs && i <= n; ++i) {
      if (gx::readRecord(*fs, buf, kRayLen) != gx::RecStat::Ok) break;
      ++r.reads;
      got = i;
    }
    if (got == n) {
      double v[5];
      gx::getDoublesLE(buf, v, 5);
      k.cur = {v[0], v[1], v[2], v[3], v[4]};
      r.pos = n;
      x = v[0], th = v[1], y = v[2], ph = v[3], de = v[4];
      return true;
    }
  }
  // The file ends before ray n: NTOT becomes the number of rays that are
  // really there, and the position is unknown until the next rewind.
  r.pos = -1;
  r.endNtot = -1;   // the set is not what was counted
  k.ntot = got;
  kqsay(k, "End at " + kqcount(k.ntot, 5) + " rays.");
  return false;
}

namespace {

// The window closed on the read channel; a position lost makes the next
// read rewind.
void closeOnChannel(RayWindow& w) {
  if (!w.close()) w.k.rays.pos = -1;
}

}  // namespace

RayAhead::RayAhead(Kestrim& k) : w_(std::make_unique<RayWindow>(k)) {}

RayAhead::~RayAhead() { closeOnChannel(*w_); }

size_t RayAhead::read(long long n, size_t max, double* v) {
  RayWindow& w = *w_;
  kqraysblk& r = w.k.rays;
  if (max == 0) return 0;
  size_t got = 0, slow = 0;   // rays read, and of them by kqrays
  if (!w.open || n != r.pos + 1) {
    // Ray n the record-by-record way, which finds it wherever it is; the
    // window opens after it.
    closeOnChannel(w);
    if (!kqrays(w.k, 'R', n, v[0], v[1], v[2], v[3], v[4])) return 0;
    if (max == 1 || r.pos != n) return 1;
    w.start(w.k.gx.io.stream(r.unitR));
    if (!w.open) return 1;
    got = slow = 1;
  }
  constexpr size_t kRec = RayWindow::kRec;
  while (got < max) {
    if (w.end - w.begin < kRec) {
      if (!w.advance()) break;
      continue;
    }
    const char* p = w.cur + w.begin;
    if (!isRayRecord(p)) break;
    gx::getDoublesLE(p + 4, v + 5 * got, 5);
    w.begin += kRec;
    ++got;
  }
  if (got == 0) {
    // A record that is not a whole ray record, or the end: kqrays knows
    // what it means.
    closeOnChannel(w);
    return kqrays(w.k, 'R', n, v[0], v[1], v[2], v[3], v[4]) ? 1 : 0;
  }
  r.reads += static_cast<long long>(got - slow);
  r.pos = n + static_cast<long long>(got) - 1;
  const double* last = v + 5 * (got - 1);
  w.k.cur = {last[0], last[1], last[2], last[3], last[4]};
  return got;
}

void kqpackrays(char* dst, const double* x, const double* th, const double* y, const double* ph,
                const double* de, size_t n) {
  char len[4];   // both length markers
  gx::putU32(len, kRayLen);
  for (size_t i = 0; i < n; ++i, dst += kRayRecordBytes) {
    const double v[5] = {x[i], th[i], y[i], ph[i], de[i]};
    std::memcpy(dst, len, 4);
    gx::putDoublesLE(dst + 4, v, 5);
    std::memcpy(dst + 4 + kRayLen, len, 4);
  }
}

bool kqraysblock(Kestrim& k, char option, const char* records, size_t n) {
  const char op = static_cast<char>(std::toupper(static_cast<unsigned char>(option)));
  const int unit = unitOf(k, op);
  std::fstream* fs = (op == 'W' || op == 'A') ? k.gx.io.stream(unit) : nullptr;
  const auto bytes = static_cast<std::streamsize>(kRayRecordBytes * n);
  if (!fs || !*fs || fs->rdbuf()->sputn(records, bytes) != bytes) {
    if (fs) fs->setstate(std::ios::badbit);   // a set cut short is never kept
    kqsay(k, "Unable to write rays.");
    return false;
  }
  // The disk takes the block while more rays are made: the sync when the
  // set is closed then finds little left.
  k.gx.io.startWriteback(unit);
  return true;
}

bool kqioend(Kestrim& k, char option) {
  char op = static_cast<char>(std::toupper(static_cast<unsigned char>(option)));
  if (op != 'R' && op != 'W' && op != 'A') return true;
  int unit = unitOf(k, op);
  gx::Io& io = k.gx.io;
  if (!io.isOpen(unit)) return true;
  if (op == 'R') {
    io.close(unit);
    k.rays.pos = 0;
    return true;
  }
  std::string file = io.nameOf(unit);
  // The records go to a file beside the target that replaces it only now,
  // so a set that could not be written in full never takes the user's name.
  if (io.close(unit, true)) return true;
  kqsay(k, "Unable to write rays. " + file + " is left as it was.");
  return false;
}

void kqdata(Kestrim& k, KqLine& c) {
  std::string name = gx::pad(kqarg(c.typed()), 100);
  int ierr = 1;
  const long long before = k.ntot;
  kqio(k, 'R', name, ierr);
  if (ierr != 0) {
    gx::gxfail(k.gx);
    kqsay(k, "Unable to open file: " + kqstrip(name));
    if (k.ntot == before) kqsay(k, "The current ray set is kept (" + std::to_string(before) + " rays).");
    return;
  }
  k.rayFile = name;
}

void kqsave(Kestrim& k, KqLine& c) {
  std::string name = gx::pad(kqarg(c.typed()), 100);
  int ierr = 1;
  kqio(k, 'W', name, ierr);
}

void kqntot(Kestrim& k, KqLine&) { kqsay(k, "Total number of ray vectors = " + kqcount(k.ntot, 7)); }

void kqvalues(Kestrim& k, KqLine& c) {
  long long n = kqtrunc(c.value);
  if (n < 1) n = k.ntot;
  k.gx.io.write(k.io.out,
                " C   Object X      Object Th     Object Y      Object Ph   Object DE");
  for (long long i = 1; i <= n; ++i) {
    if (i % 1024 == 0) gx::gxpoll(k.gx);
    double x, th, y, ph, de;
    if (!kqrays(k, 'R', i, x, th, y, ph, de)) break;
    k.gx.io.write(k.io.out, gx::fI(0, 2) + gx::fG(x, 13, 5, 1) + gx::fG(th, 13, 5, 1) +
                                gx::fG(y, 13, 5, 1) + gx::fG(ph, 13, 5, 1) +
                                gx::fG(de, 12, 5, 1));
  }
}

namespace {

constexpr int kDumpUnit = 1;   // the dump file being read

// The dump file named by the argument or asked for (".txt" when the name
// has no point) and the stem that names the ray set written; false when
// there is none.
bool dumpName(Kestrim& k, const std::string& line, std::string& name, std::string& stem) {
  name = line.size() > 7 ? line.substr(7) : std::string();
  if (kqblank(name)) {
    std::string reply;
    if (kqask(k, std::string(11, ' ') + "Filename for input > ", reply, 30) != gx::Reply::Ok)
      return false;
    name = reply;
    if (kqblank(name)) return false;
  }
  name = kqstrip(name);

  // The stem names the ray set written: the name up to the dot of its
  // file-name part.
  if (kqhasdot(name)) {
    size_t slash = name.rfind('/');
    size_t dot = name.find('.', slash == std::string::npos ? 0 : slash + 1);
    stem = name.substr(0, dot);
  } else {
    stem = kqfirstword(name);
    name = stem + ".txt";
  }

  std::error_code ec;
  bool ex = std::filesystem::exists(name, ec);
  if (ec) {
    kqsay(k, "Unable to check the existence of " + name);
    kqsay(k, "");
    ex = true;
  }
  if (!ex) {
    kqsay(k, name + " does not exist.");
    return false;
  }
  return true;
}

// Opens the dump file and reads its caption and the three heading lines
// after it; false when it is no dump file.
bool openDump(Kestrim& k, const std::string& name) {
  gx::Io& io = k.gx.io;
  if (!io.open(kDumpUnit, name, gx::OpenStatus::Old, gx::Access::Read)) {
    kqsay(k, "KQDUMP - Unable to open " + name);
    return false;
  }
  kqsay(k, "Reading dump file: " + name);
  std::string rec;
  if (const gx::RdStat st = io.readLine(kDumpUnit, rec); st != gx::RdStat::Ok) {
    kqsay(k, st == gx::RdStat::Eof
                 ? "?KQDUMP- " + name + " is empty: no caption line."
                 : "?KQDUMP- The first line of " + name + " is too long or cannot be read: not a dump file.");
    io.close(kDumpUnit);
    return false;
  }
  k.caption = gx::pad(gx::pad(rec, 70), 100);
  kqsay(k, "Dump file caption: " + kqtrim(k.caption));
  for (int i = 0; i < 3; ++i) io.readLine(kDumpUnit, rec);
  return true;
}

// What reading the rays found: the range of the energy deviation, and
// whether a damaged line stopped it.
struct DumpRead {
  double demin = 0, demax = 0;
  bool damaged = false;
};

// Reads one ray a line, seven numbers, into the output set, with a star
// for every hundred; NTOT counts the rays written.
DumpRead readDumpRays(Kestrim& k) {
  gx::Io& io = k.gx.io;
  DumpRead r;
  std::string rec;
  k.ntot = 0;
  io.prompt(std::string(15, ' ') + "*");
  int stars = 1;
  double v[7] = {0, 0, 0, 0, 0, 0, 0};   // null values keep the last ray's
  for (;;) {
    const gx::RdStat st = io.readLine(kDumpUnit, rec);
    if (st != gx::RdStat::Ok) {
      r.damaged = st == gx::RdStat::Err;
      break;
    }
    ++k.ntot;
    if (k.ntot % 1024 == 0) gx::gxpoll(k.gx);  // Ctrl-C: the set being written is discarded
    if (k.ntot % 100 == 0) {
      if (stars == 50) {
        io.prompt(std::string(15, ' ') + "*");
        stars = 1;
      } else {
        io.raw("*");
        ++stars;
      }
    }
    // One ray per line: a line that does not hold seven readable numbers
    // is skipped and not counted.
    gx::ListScanner sc(7);
    double w[7];
    std::copy(v, v + 7, w);
    bool ok = sc.add(rec) && sc.done();
    for (size_t i = 0; ok && i < sc.items().size() && i < 7; ++i) {
      const gx::ListItem& it = sc.items()[i];
      if (!it.null && (!gx::listReal(it.text, w[i]) || !std::isfinite(w[i]))) ok = false;
    }
    if (!ok) {
      --k.ntot;
      continue;
    }
    std::copy(w, w + 7, v);
    if (!kqrays(k, 'W', 0, v[0], v[1], v[2], v[3], v[5])) {
      --k.ntot;
      break;
    }
    if (k.ntot == 1 || v[5] < r.demin) r.demin = v[5];
    if (k.ntot == 1 || v[5] > r.demax) r.demax = v[5];
  }
  return r;
}

}  // namespace

void kqdump(Kestrim& k, KqLine& c) {
  std::string name, stem;
  if (!dumpName(k, c.typed(), name, stem)) return;
  gx::Io& io = k.gx.io;
  if (!openDump(k, name)) return;

  std::string out = gx::pad(stem, 100);
  int ierr = 1;
  kqio(k, 'W', out, ierr);
  if (ierr != 0) {
    io.close(kDumpUnit);
    return;
  }

  const DumpRead r = readDumpRays(k);
  io.close(kDumpUnit);
  if (r.damaged)
    kqsay(k, "%KQDUMP- Reading stopped at a line of " + name +
                 " that is too long or cannot be read; the rays before it are kept.");
  kqsay(k, kqcount(k.ntot, 6) + " rays in data file.");
  kqsay(k, "");
  std::string none;
  kqio(k, 'E', none, ierr);
  if (k.ntot > 0)
    kqsay(k, "Energy spread range: " + kqstrip(gx::fG(r.demin, 13, 5, 1)) + " to " +
                 kqstrip(gx::fG(r.demax, 13, 5, 1)));
}

}  // namespace kestrim
