#include "movrel-pack/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "movrel-pack/error.h"

namespace pack {

namespace fs = std::filesystem;

namespace {

// Writes all of `bytes` to `fd`, going on after interrupted and short writes.
bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
  const unsigned char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t done = ::write(fd, data, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    left -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

std::vector<unsigned char> ReadWholeFile(const std::string& path, std::size_t limit) {
  std::error_code error;
  const bool regular = fs::is_regular_file(path, error);
  const std::uintmax_t size = regular ? fs::file_size(path, error) : 0;
  if (!regular || error) throw Refusal("cannot read '" + path + "'");
  if (size > limit) {
    throw Refusal("'" + path + "' of " + std::to_string(size) + " bytes does not fit in " +
                  std::to_string(limit) + " bytes");
  }
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw Refusal("cannot read '" + path + "'");
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    const std::string& modeOf) {
  struct stat source {};
  if (::stat(modeOf.c_str(), &source) != 0) throw Refusal("cannot write '" + path + "'");
  // mkstemp creates the file itself, under a name nothing else had: no link is followed and no
  // existing file is truncated.
  std::string temporary = path + ".XXXXXX";
  const int out = ::mkstemp(temporary.data());
  if (out < 0) throw Refusal("cannot write '" + path + "'");
  bool written = WriteAll(out, bytes) && ::fchmod(out, source.st_mode & 07777) == 0;
  written = ::close(out) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return;
  ::unlink(temporary.c_str());
  throw Refusal("cannot write '" + path + "'");
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

}  // namespace pack
