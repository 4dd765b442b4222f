// What the package reader promises for a block of any content. The block is one object, so
// AddressSanitizer cannot see a read that runs from one field into the next; these checks can:
// every text lies inside its own field, and every usable bank image inside the bank area.
#pragma once

#include "package/PackageBlock.h"

namespace fuzz {

// Reads every text, constraint entry, option and bank of `package`; aborts on a broken promise.
void CheckPackage(const app::PackageView& package);

}  // namespace fuzz
