// What the package reader promises for a block of any content. The block is one object, so
// AddressSanitizer cannot see a read that runs from one field into the next; these checks can:
// every text lies inside its own field, and every usable bank image inside the bank area. The
// seal reads as not sealed only when it is the template's, and as matching only when it holds the
// block's digest.
#pragma once

#include "package/PackageBlock.h"

namespace fuzz {

// Reads every text, constraint entry, option and bank of `package`, and its seal; aborts on a
// broken promise.
void CheckPackage(const movrel::package::PackageView& package);

}  // namespace fuzz
