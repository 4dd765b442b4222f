// What a package must decide for itself rather than inherit from its template, and constraints
// that contradict themselves: "movrel-pack pack" refuses them with the argument that settles them.
#pragma once

#include <string>

#include "movrel-pack/Args.h"
#include "package/PackageBlock.h"

namespace movrel::pack {

// Throws ChoiceError, before any file is read, when REBOOT is not given: the template's value
// would restart the machine after the update or not, unasked. (FillBlock refuses a bank without
// the revision it installs and a constraint whose minimum is above its maximum.)
void CheckChoices(const PackRequest& request);

// Throws ChoiceError when the model, title, contact or date that the package would carry, given
// or kept from `base` (the template's block), is still the template's placeholder text, unless
// the request allows them.
void CheckTemplateTexts(const PackRequest& request, const package::PackageView& base);

// The order of two revisions as the flasher compares them (app::CompareText, which the packager
// cannot link): the collation of the locale (LC_COLLATE), then byte order for two different texts
// that the collation ranks alike.
int CompareRevisions(const std::string& left, const std::string& right);

}  // namespace movrel::pack
