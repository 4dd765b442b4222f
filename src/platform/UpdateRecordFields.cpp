#include "platform/UpdateRecordFields.h"

#include <cstdio>
#include <utility>

namespace movrel::platform {

const char* UpdateResultText(bool succeeded) {
  return succeeded ? "success" : "failure";
}

std::array<UpdateRecordText, kUpdateRecordTexts> UpdateRecordTexts(const UpdateRecordFields& fields,
                                                                   std::string device) {
  std::string sense;
  if (!fields.succeeded && fields.senseKnown) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X/%02X", fields.senseKey, fields.asc);
    sense = text;
  }
  return {{{"MOVREL_DEVICE", std::move(device)},
           {"MOVREL_VENDOR", fields.vendor},
           {"MOVREL_PRODUCT", fields.product},
           {"MOVREL_REVISION_BEFORE", fields.revisionBefore},
           {"MOVREL_REVISION_AFTER", fields.revisionAfter},
           {"MOVREL_BANK", std::to_string(fields.bank)},
           {"MOVREL_IMAGE_SHA256", fields.imageSha256},
           {"MOVREL_RESULT", UpdateResultText(fields.succeeded)},
           {"MOVREL_SENSE", std::move(sense)}}};
}

}  // namespace movrel::platform
