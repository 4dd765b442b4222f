#include "movrel-pack/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "movrel-pack/Error.h"

namespace movrel::pack {

namespace fs = std::filesystem;

namespace {

// Writes all of `bytes` to `fd`, going on after interrupted and short writes.
bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
  const unsigned char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t done = ::write(fd, data, left);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return false;
    // write(2) to a regular file returns 0 only for a count of 0; should it ever, errno is left
    // as it was, so the reason is given as an I/O error.
    if (done == 0) {
      errno = EIO;
      return false;
    }
    data += done;
    left -= static_cast<std::size_t>(done);
  }
  return true;
}

// Reads exactly `bytes.size()` bytes from `fd`, going on after interrupted and short reads. An
// empty text when all were read, else why not: read(2)'s error, or the file ending early (it
// shrank since fstat).
std::string ReadAll(int fd, std::vector<unsigned char>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::strerror(errno);
    if (got == 0) return "the file ended early (it changed while being read)";
    done += static_cast<std::size_t>(got);
  }
  return "";
}

// The reason errno gives, for a message.
std::string Reason() {
  return std::strerror(errno);
}

// What a file that is not a regular one is, for a refusal (a socket cannot be opened at all).
std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a directory";
  return "a device";
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd;
  ~Descriptor() { ::close(fd); }
};

}  // namespace

// The file is first opened as a path only (O_PATH): opening a device node for reading, even
// without blocking, runs its driver's open (a watchdog starts counting), and root may be handed
// any name. Only a regular file is then opened for reading, through the descriptor the check was
// made on (/proc/self/fd), never through its name again.
std::vector<unsigned char> ReadWholeFile(const std::string& path, std::size_t limit,
                                         unsigned* permissions) {
  const int found = ::open(path.c_str(), O_PATH | O_CLOEXEC);
  if (found < 0) throw Refusal("cannot open '" + path + "': " + std::strerror(errno));
  const Descriptor pathCloser{found};
  struct stat status {};
  if (::fstat(found, &status) != 0) throw Refusal("cannot read '" + path + "': " + Reason());
  if (!S_ISREG(status.st_mode)) {
    throw Refusal("'" + path + "' is " + KindOf(status.st_mode) + ", not a regular file");
  }
  const std::string reopened = "/proc/self/fd/" + std::to_string(found);
  const int in = ::open(reopened.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) throw Refusal("cannot open '" + path + "': " + std::strerror(errno));
  const Descriptor closer{in};
  const auto size = static_cast<std::uintmax_t>(status.st_size);
  if (size > limit) {
    throw Refusal("'" + path + "' of " + std::to_string(size) + " bytes does not fit in " +
                  std::to_string(limit) + " bytes");
  }
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  if (const std::string failed = ReadAll(in, bytes); !failed.empty()) {
    throw Refusal("cannot read '" + path + "': " + failed);
  }
  if (permissions != nullptr) *permissions = status.st_mode & 0777;
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    unsigned permissions) {
  // mkstemp creates the file itself, under a name nothing else had: no link is followed and no
  // existing file is truncated.
  std::string temporary = path + ".XXXXXX";
  // mkstemp fails as open(2) does: ENOENT for a missing directory, EACCES, EROFS, ENOSPC.
  const int out = ::mkstemp(temporary.data());
  if (out < 0) throw Refusal("cannot write '" + path + "': " + Reason());
  // The first failure's errno is the reason; close(2) still runs, and may report a delayed write
  // error (EIO, ENOSPC on NFS) of its own; rename(2) gives EISDIR for a directory at `path`.
  std::string failed;
  if (!WriteAll(out, bytes) || ::fchmod(out, permissions & 0777) != 0) failed = Reason();
  if (::close(out) != 0 && failed.empty()) failed = Reason();
  if (failed.empty() && ::rename(temporary.c_str(), path.c_str()) == 0) return;
  if (failed.empty()) failed = Reason();
  ::unlink(temporary.c_str());
  throw Refusal("cannot write '" + path + "': " + failed);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

}  // namespace movrel::pack
