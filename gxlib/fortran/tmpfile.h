// Temporary files behind the output units. A file being written lives as an
// unnamed file in the target's folder (O_TMPFILE) and gets its name only
// when it is complete, so an interrupted run leaves nothing behind. Where
// the file system cannot make unnamed files, a named temporary beside the
// target is used; named temporaries are removed when SIGINT, SIGTERM or
// SIGHUP ends the process, and those of processes that died are cleared the
// next time the same target is written.
#pragma once

#include <string>

namespace gx {

struct TempFile {
  int fd = -1;          // unnamed file (O_TMPFILE), -1 when a named one is used
  std::string path;     // the path to open for writing: /proc/self/fd/N or the named file
  std::string named;    // the named temporary, empty for an unnamed file
  std::string error;    // why no temporary could be made
};

// Makes a temporary for target in target's folder. False, with error set,
// when none can be made there.
bool tempCreate(const std::string& target, const std::string& tag, TempFile& t);

// The same, always as a named temporary: for writers that open the file by
// its name themselves and must see a real path (the HDF5 library).
bool tempCreateNamed(const std::string& target, const std::string& tag, TempFile& t);

// Gives the finished temporary the target's name. exclusive: the target must
// not exist at this moment (it is created, never replaced); otherwise it is
// replaced atomically. perms >= 0 are the permissions to give it. False,
// with error set, when the name could not be given; the temporary is then
// discarded.
bool tempCommit(TempFile& t, const std::string& target, bool exclusive, int perms);

// Discards the temporary.
void tempDiscard(TempFile& t);

// Removes temporaries of target left by processes that no longer exist.
void tempClearStale(const std::string& target);

// Named temporaries still registered for removal on a signal (tests).
int tempRegistered();

}  // namespace gx
