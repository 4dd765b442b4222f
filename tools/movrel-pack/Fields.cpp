#include "movrel-pack/Fields.h"

namespace movrel::pack {

std::array<NamedText, 7> Texts(const package::PackageView& package) {
  return {{{"banner", package.Banner()},
           {"version", package.Version()},
           {"contact", package.Contact()},
           {"title", package.Title()},
           {"date", package.Date()},
           {"note", package.Note()},
           {"model", package.Model()}}};
}

std::array<OptionValue, package::layout::kOptionSlots.size()> OptionValues(
    const package::PackageView& package) {
  using package::layout::Option;
  using package::layout::SlotOf;
  const package::PackageOptions o = package.Options();
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

}  // namespace movrel::pack
