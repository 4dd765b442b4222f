#include "movrel-pack/fields.h"

namespace pack {

std::array<NamedText, 7> Texts(const app::PackageView& package) {
  return {{{"banner", package.Banner()},
           {"version", package.Version()},
           {"contact", package.Contact()},
           {"title", package.Title()},
           {"date", package.Date()},
           {"note", package.Note()},
           {"model", package.Model()}}};
}

std::array<OptionValue, app::layout::kOptionSlots.size()> OptionValues(
    const app::PackageView& package) {
  using app::layout::Option;
  using app::layout::SlotOf;
  const app::PackageOptions o = package.Options();
  return {{{SlotOf(Option::N2oMessage).key, o.n2oMessage},
           {SlotOf(Option::ChkDisc).key, o.chkDisc},
           {SlotOf(Option::BootCode).key, o.bootCode},
           {SlotOf(Option::Reboot).key, o.reboot},
           {SlotOf(Option::AutoMode).key, o.autoMode},
           {SlotOf(Option::CloseAp).key, o.closeAp},
           {SlotOf(Option::Warning).key, o.warning},
           {SlotOf(Option::Admin).key, o.admin},
           {SlotOf(Option::NbWarning).key, o.nbWarning},
           {SlotOf(Option::HowManyBin).key, o.howManyBin}}};
}

}  // namespace pack
