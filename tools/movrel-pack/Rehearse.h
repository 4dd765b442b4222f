// "movrel-pack rehearse": a dry run of a package on simulated drives. The package runs in a copy of
// the simulated terminal flasher, whose own start-up and matching decide, in their own process,
// which drives it offers; the packager only builds the bay, answers the flasher and reads what it
// says.
#pragma once

#include <functional>
#include <string>

#include "movrel-pack/Args.h"

namespace movrel::pack {

// Writes the package block of `executable` into a copy of `flasher` as `output` ("repack").
using RepackInto = std::function<void(const std::string& executable, const std::string& flasher,
                                      const std::string& output)>;

// Builds the bay from the package's constraint rows and the request's drives, runs the flasher on
// it (and with --update the update of every offered drive), and prints the table on standard
// output. Returns 0 when every drive of --expect-offered is offered and every other is not (or
// none is named), 1 otherwise. Throws Refusal when the flasher cannot be run or cannot use the
// bay.
int Rehearse(const RehearseRequest& request, const RepackInto& repack);

}  // namespace movrel::pack
