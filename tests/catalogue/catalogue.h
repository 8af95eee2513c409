// A catalogue of bad input: each case is a scratch folder with its files, a
// whole session typed at one of the programs, the messages the user must
// see, and the promise that no file of the user's changed or was left
// half-written.
#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../ci_support.h"

namespace catalogue {

namespace fs = std::filesystem;

struct File {
  std::string name;     // relative to the scratch folder; "sub/x" makes sub/
  std::string content;
};

// Folders that need the kernel's help. The folder is made (with the case's
// files below it) before it is mounted over.
enum class Mount {
  None,
  ReadOnly,  // "ro": a read-only bind of itself
  Tiny,      // "full": a tmpfs of 16 KiB
};

struct Case {
  std::string name;
  std::vector<File> files;
  std::string input;                     // the session: commands and answers
  std::vector<std::string> says;         // each must appear in the output
  std::vector<std::string> changes = {}; // files that may change or appear
  std::vector<std::string> never = {};   // texts that must not appear
  Mount mount = Mount::None;
  std::function<void(const fs::path&)> setup = {};  // FIFOs, links, ...
  std::function<void(const fs::path&, const std::string&)> check = {};
  // Run while the session waits for the input line that begins with `at`
  // (another program at work in the folder in the middle of a command).
  std::string at = {};
  std::function<void(const fs::path&)> midway = {};
};

// Input served one character at a time, calling back once when the reader
// reaches a given offset.
class MidwayBuf : public std::streambuf {
 public:
  MidwayBuf(std::string text, size_t at, std::function<void()> fire)
      : text_(std::move(text)), at_(at), fire_(std::move(fire)) {}

 protected:
  int_type underflow() override {
    if (pos_ == at_ && fire_) {
      auto f = std::move(fire_);
      fire_ = {};
      f();
    }
    if (pos_ >= text_.size()) return traits_type::eof();
    ch_ = text_[pos_++];
    setg(&ch_, &ch_, &ch_ + 1);
    return traits_type::to_int_type(ch_);
  }

 private:
  std::string text_;
  size_t at_, pos_ = 0;
  std::function<void()> fire_;
  char ch_ = 0;
};

inline std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

inline std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void spit(const fs::path& p, const std::string& s) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f << s;
}

// Every regular file below root (not following links) with its bytes;
// special files and links are listed with a marker only.
inline std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> m;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const auto rel = fs::relative(it->path(), root).string();
    const auto st = it->symlink_status();
    if (fs::is_regular_file(st))
      m[rel] = slurp(it->path());
    else if (fs::is_directory(st))
      m[rel] = "<dir>";
    else if (fs::is_symlink(st)) {
      m[rel] = "<link " + fs::read_symlink(it->path()).string() + ">";
      it.disable_recursion_pending();
    } else
      m[rel] = "<special>";
  }
  return m;
}

// Runs one case of either program. run(in, out) is the program.
template <class Run>
void runCase(const Case& c, Run run) {
  char tmpl[] = "/tmp/catalogue_XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  for (const auto& f : c.files) spit(dir / f.name, f.content);
  std::string mounted;
  auto unmount = [&] {
    if (!mounted.empty()) ::umount2(mounted.c_str(), MNT_DETACH);
  };
  if (c.mount == Mount::ReadOnly) {
    const fs::path ro = dir / "ro";
    fs::create_directories(ro);
    if (::mount(ro.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      fs::remove_all(dir);
      TK_SKIP_OUTSIDE_CI("no bind mount here");
    }
    mounted = ro.string();
    if (::mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      unmount();
      fs::remove_all(dir);
      TK_SKIP_OUTSIDE_CI("no read-only remount here");
    }
  } else if (c.mount == Mount::Tiny) {
    const fs::path full = dir / "full";
    // The case's files for full/ are moved in after the mount.
    std::vector<std::pair<fs::path, std::string>> keep;
    if (fs::exists(full))
      for (const auto& e : fs::directory_iterator(full)) keep.push_back({e.path(), slurp(e.path())});
    fs::create_directories(full);
    if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=16k") != 0) {
      fs::remove_all(dir);
      TK_SKIP_OUTSIDE_CI("no tmpfs mount here");
    }
    mounted = full.string();
    for (const auto& [p, s] : keep) spit(p, s);
  }
  if (c.setup) c.setup(dir);
  const auto before = snapshot(dir);
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  size_t at = c.at.empty() ? std::string::npos : c.input.find(c.at);
  if (!c.at.empty()) {
    EXPECT_NE(at, std::string::npos) << "no line " << c.at;
  }
  MidwayBuf buf(c.input, at, [&] { if (c.midway) c.midway(dir); });
  std::istream in(&buf);
  std::ostringstream out;
  int rc = -1;
  try {
    rc = run(in, out);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "escaped: " << e.what();
  }
  fs::current_path(old);
  const std::string said = out.str();
  EXPECT_EQ(rc, 0);
  for (const auto& s : c.says) EXPECT_NE(said.find(s), std::string::npos) << "missing: " << s;
  for (const auto& s : c.never) EXPECT_EQ(said.find(s), std::string::npos) << "said: " << s;
  const auto after = snapshot(dir);
  auto allowed = [&](const std::string& n) {
    for (const auto& a : c.changes)
      if (a == n) return true;
    return false;
  };
  for (const auto& [n, bytes] : before) {
    if (allowed(n)) continue;
    auto it = after.find(n);
    if (it == after.end()) {
      ADD_FAILURE() << "lost: " << n;
    } else {
      EXPECT_TRUE(it->second == bytes) << "changed: " << n;
    }
  }
  for (const auto& [n, bytes] : after) {
    if (!before.count(n) && !allowed(n)) {
      ADD_FAILURE() << "left behind: " << n;
    }
  }
  if (c.check) c.check(dir, said);
  if (::testing::Test::HasFailure()) ADD_FAILURE() << "session output:\n" << said;
  unmount();
  fs::remove_all(dir);
}

// One sequential binary record: byte count, payload, byte count.
inline std::string record(const std::string& payload) {
  std::string m(4, '\0');
  const std::uint32_t n = static_cast<std::uint32_t>(payload.size());
  std::memcpy(m.data(), &n, 4);
  return m + payload + m;
}

// One ray vector of a ray set: x, th, y, ph, de.
inline std::string ray(double x, double th, double y, double ph, double de) {
  double v[5] = {x, th, y, ph, de};
  return record(std::string(reinterpret_cast<const char*>(v), sizeof v));
}

inline std::string ray(double x) { return ray(x, 0.0, x, 0.0, 0.0); }

inline std::string caption(const std::string& text) {
  return record((text + std::string(100, ' ')).substr(0, 100));
}

// A caption and n rays along the diagonal: no paraxial pair.
inline std::string raySet(const std::string& text, int n) {
  std::string s = caption(text);
  for (int k = 0; k < n; ++k) s += ray(1e-6 * k);
  return s;
}

// A set with its paraxial pair (both images 1 mm behind the reference
// plane) and n rays on a 1 um spiral with slopes and energies.
inline std::string beamSet(const std::string& text, int n) {
  std::string s = caption(text) + ray(0, 0, 0, 0, 0) + ray(1e-6, -1e-3, 1e-6, -1e-3, 0);
  for (int k = 0; k < n; ++k) {
    const double a = 0.7 * k, r = 1e-6 * (k + 1) / n;
    s += ray(r * std::cos(a), 1e-4 * std::sin(a), r * std::sin(a), -1e-4 * std::cos(a), 0.01 * (k % 7 - 3));
  }
  return s;
}

// ---- Makers of the cases' files ----------------------------------------

inline std::string example(const std::string& name) {
  return slurp(fs::path(TK_SOURCE_DIR) / "examples" / name);
}

// Lines from..to (1-based) of a text.
inline std::string lines(const std::string& text, int from, int to) {
  std::istringstream in(text);
  std::string out, line;
  for (int k = 1; std::getline(in, line); ++k)
    if (k >= from && k <= to) out += line + "\n";
  return out;
}

// The text with line n replaced.
inline std::string withLine(const std::string& text, int n, const std::string& repl) {
  std::istringstream in(text);
  std::string out, line;
  for (int k = 1; std::getline(in, line); ++k) out += (k == n ? repl : line) + "\n";
  return out;
}

// Reproducible binary junk.
inline std::string junk(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (auto& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return s;
}

// Fills the small file system to its last byte.
inline void fillUp(const fs::path& dir) {
  std::ofstream f(dir / "full" / "filler", std::ios::binary);
  std::string block(1024, 'x');
  for (int k = 0; k < 64 && f; ++k) f << block << std::flush;
}

inline void link(const fs::path& dir, const std::string& name, const std::string& to) {
  fs::create_symlink(to, dir / name);
}

inline void fifo(const fs::path& dir, const std::string& name) {
  ASSERT_EQ(::mkfifo((dir / name).c_str(), 0644), 0);
}

// A sparse file of the given size: all zero bytes, no line end anywhere.
inline void sparse(const fs::path& p, off_t size) {
  std::ofstream(p).close();
  ASSERT_EQ(::truncate(p.c_str(), size), 0);
}

// Case names as test names.
struct CaseName {
  std::string operator()(const ::testing::TestParamInfo<Case>& i) const { return i.param.name; }
};

}  // namespace catalogue
