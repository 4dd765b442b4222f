#include "movrel-pack/Choices.h"

#include <cstring>
#include <string_view>

#include "movrel-pack/Error.h"
#include "package/PackageLayout.h"

namespace movrel::pack {

namespace {

namespace layout = movrel::package::layout;

// A text of the template's block (src/package/PackageTemplate.cpp) that no shipped package keeps.
struct TemplateText {
  const char* name;
  std::optional<std::string> PackRequest::*member;
  std::string_view (package::PackageView::*read)() const;
  std::string_view placeholder;
};

constexpr TemplateText kTemplateTexts[] = {
    {"model", &PackRequest::model, &package::PackageView::Model, layout::kModelPlaceholder},
    {"title", &PackRequest::title, &package::PackageView::Title, layout::kTitleMarker},
    {"contact", &PackRequest::contact, &package::PackageView::Contact, layout::kContactPlaceholder},
    {"date", &PackRequest::date, &package::PackageView::Date, layout::kDatePlaceholder},
};

}  // namespace

void CheckChoices(const PackRequest& request) {
  if (!request.options[static_cast<std::size_t>(layout::Option::Reboot)]) {
    throw ChoiceError(
        "REBOOT is not given, and the template's value would decide whether the machine restarts "
        "after a successful update; give --option REBOOT=0 (it keeps running) or --option "
        "REBOOT=1 (it restarts)");
  }
}

void CheckTemplateTexts(const PackRequest& request, const package::PackageView& base) {
  if (request.allowTemplateTexts) return;
  std::string kept;
  for (const TemplateText& text : kTemplateTexts) {
    const std::optional<std::string>& given = request.*text.member;
    const std::string_view value = given ? std::string_view(*given) : (base.*text.read)();
    // The flasher takes any title that begins with the marker for the template's.
    if (value.substr(0, text.placeholder.size()) != text.placeholder) continue;
    if (text.member != &PackRequest::title && value != text.placeholder) continue;
    kept += std::string(kept.empty() ? "" : ", ") + "--" + text.name + " (" +
            std::string(text.placeholder) + ")";
  }
  if (kept.empty()) return;
  throw ChoiceError("the package would keep the template's placeholder texts: " + kept +
                    "; give them, or --allow-template-texts to keep them");
}

int CompareRevisions(const std::string& left, const std::string& right) {
  const int order = std::strcoll(left.c_str(), right.c_str());
  if (order == 0 && left != right) return std::strcmp(left.c_str(), right.c_str());
  return order;
}

}  // namespace movrel::pack
