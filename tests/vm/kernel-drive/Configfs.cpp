#include "Configfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kerneldrive::configfs {

namespace {

[[noreturn]] void Refused(const std::string& what, const std::string& path) {
  throw std::system_error(errno, std::generic_category(), what + " " + path);
}

}  // namespace

void Make(const std::string& path, bool existing) {
  if (::mkdir(path.c_str(), 0755) != 0 && !(existing && errno == EEXIST)) Refused("mkdir", path);
}

void Remove(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) Refused("rmdir", path);
}

void Set(const std::string& path, const std::string& text) {
  const int file = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (file < 0) Refused("open", path);
  const ssize_t written = ::write(file, text.data(), text.size());
  const int error = errno;
  ::close(file);
  errno = error;
  if (written != static_cast<ssize_t>(text.size())) Refused("write \"" + text + "\" to", path);
}

void Link(const std::string& target, const std::string& path) {
  if (::symlink(target.c_str(), path.c_str()) != 0) Refused("symlink to " + target + " at", path);
}

void Unlink(const std::string& path) {
  if (::unlink(path.c_str()) != 0) Refused("unlink", path);
}

}  // namespace kerneldrive::configfs
