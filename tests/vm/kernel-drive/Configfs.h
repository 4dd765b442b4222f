// The kernel's SCSI target is set up through configfs (mounted at /sys/kernel/config): a
// directory made is an object created in the kernel, a directory removed is one destroyed, a file
// written is an attribute set in one write, a symbolic link is a LUN's device. Each call throws
// std::system_error naming the path when the kernel refuses.
#pragma once

#include <string>

namespace kerneldrive::configfs {

inline const std::string kTarget = "/sys/kernel/config/target";

// mkdir(2); with `existing` an object that is already there is taken as it is.
void Make(const std::string& path, bool existing = false);
// rmdir(2).
void Remove(const std::string& path);
// One write(2) of the whole text.
void Set(const std::string& path, const std::string& text);
// symlink(2) from `path` to the object at `target`, and unlink(2).
void Link(const std::string& target, const std::string& path);
void Unlink(const std::string& path);

}  // namespace kerneldrive::configfs
