#include "gxlib/fortran/tmpfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace gx {

namespace {

// The registry of named temporaries is process-wide by nature: a signal
// handler knows no session. Fixed slots keep the handler async-signal-safe.
constexpr int kSlots = 256;
constexpr size_t kPathMax = 4096;
struct Slot {
  std::atomic<bool> used{false};
  char path[kPathMax];
};
Slot g_slots[kSlots];
std::once_flag g_handlers;

void onSignal(int sig) {
  for (auto& s : g_slots)
    if (s.used.load()) ::unlink(s.path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void installHandlers() {
  std::call_once(g_handlers, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0) continue;
      // A handler the program or its host installed stays in charge.
      if (old.sa_handler != SIG_DFL) continue;
      struct sigaction sa {};
      sa.sa_handler = onSignal;
      sigemptyset(&sa.sa_mask);
      ::sigaction(sig, &sa, nullptr);
    }
  });
}

int enroll(const std::string& path) {
  if (path.size() >= kPathMax) return -1;
  installHandlers();
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (!g_slots[i].used.load() && g_slots[i].used.compare_exchange_strong(expected, true)) {
      // Filled before anyone reads it: the handler may see a half-written
      // path only for a slot that was free, which it then fails to unlink.
      std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
      return i;
    }
  }
  return -1;
}

void unenroll(const std::string& path) {
  for (auto& s : g_slots)
    if (s.used.load() && path == s.path) {
      s.used.store(false);
      return;
    }
}

std::string folderOf(const std::string& target) {
  const size_t slash = target.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return target.substr(0, slash);
}

std::string reason(int err) { return std::strerror(err); }

// "target.tmp<pid>_<tag>": the pid tells whether its writer still lives.
std::string namedFor(const std::string& target, const std::string& tag) {
  return target + ".tmp" + std::to_string(::getpid()) + "_" + tag;
}

mode_t createMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool tempCreate(const std::string& target, const std::string& tag, TempFile& t) {
  t = TempFile{};
  const std::string dir = folderOf(target);
#ifdef O_TMPFILE
  int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode());
  if (fd >= 0) {
    t.fd = fd;
    t.path = "/proc/self/fd/" + std::to_string(fd);
    if (::access(t.path.c_str(), W_OK) == 0) return true;
    ::close(fd);  // no /proc: fall back to a named file
    t.fd = -1;
  }
#endif
  return tempCreateNamed(target, tag, t);
}

bool tempCreateNamed(const std::string& target, const std::string& tag, TempFile& t) {
  t = TempFile{};
  const std::string dir = folderOf(target);
  t.named = namedFor(target, tag);
  if (enroll(t.named) < 0) {
    t.error = "too many files being written at once";
    return false;
  }
  int nfd = ::open(t.named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode());
  if (nfd < 0) {
    t.error = "no temporary file can be made in " + dir + " (" + reason(errno) + ")";
    unenroll(t.named);
    t.named.clear();
    return false;
  }
  ::close(nfd);
  t.path = t.named;
  return true;
}

bool tempCommit(TempFile& t, const std::string& target, bool exclusive, int perms) {
  if (t.fd >= 0 && perms >= 0) ::fchmod(t.fd, static_cast<mode_t>(perms));
  if (t.fd < 0 && perms >= 0 && !t.named.empty()) ::chmod(t.named.c_str(), static_cast<mode_t>(perms));
  bool ok = true;
  if (t.fd >= 0) {
    ::fsync(t.fd);
    if (exclusive) {
      // Linking fails when the name exists: the file is created, never replaced.
      if (::linkat(AT_FDCWD, t.path.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        t.error = reason(errno);
        ok = false;
      }
    } else {
      // No call links an unnamed file over an existing name: give it a
      // named temporary for the instant of the rename.
      const std::string step = namedFor(target, "commit");
      enroll(step);
      ::unlink(step.c_str());
      if (::linkat(AT_FDCWD, t.path.c_str(), AT_FDCWD, step.c_str(), AT_SYMLINK_FOLLOW) != 0 ||
          std::rename(step.c_str(), target.c_str()) != 0) {
        t.error = reason(errno);
        ::unlink(step.c_str());
        ok = false;
      }
      unenroll(step);
    }
    ::close(t.fd);
    t.fd = -1;
  } else if (!t.named.empty()) {
    if (exclusive) {
      if (::link(t.named.c_str(), target.c_str()) != 0) {
        t.error = reason(errno);
        ok = false;
      }
      ::unlink(t.named.c_str());
    } else if (std::rename(t.named.c_str(), target.c_str()) != 0) {
      t.error = reason(errno);
      ::unlink(t.named.c_str());
      ok = false;
    }
    unenroll(t.named);
    t.named.clear();
  }
  return ok;
}

void tempDiscard(TempFile& t) {
  if (t.fd >= 0) {
    ::close(t.fd);
    t.fd = -1;
  }
  if (!t.named.empty()) {
    ::unlink(t.named.c_str());
    unenroll(t.named);
    t.named.clear();
  }
}

void tempClearStale(const std::string& target) {
  const std::string dir = folderOf(target);
  const size_t slash = target.rfind('/');
  const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n.compare(0, prefix.size(), prefix) != 0) continue;
    size_t i = prefix.size(), j = i;
    while (j < n.size() && n[j] >= '0' && n[j] <= '9') ++j;
    if (j == i || j >= n.size() || n[j] != '_' || j - i > 9) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(n.substr(i, j - i)));
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // its writer lives
    ::unlink((dir + "/" + n).c_str());
  }
  ::closedir(d);
}

int tempRegistered() {
  int n = 0;
  for (auto& s : g_slots) n += s.used.load() ? 1 : 0;
  return n;
}

}  // namespace gx
