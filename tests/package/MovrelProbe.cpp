// movrel-probe, the packager tests' template: an executable that carries the package block
// and prints what its own reader finds there, in the format of "movrel-pack show".
#include <cstdio>

#include "movrel-pack/Print.h"
#include "package/PackageBlock.h"

int main() {
  std::fputs(movrel::pack::FormatPackage(movrel::package::EmbeddedPackage()).c_str(), stdout);
  return 0;
}
