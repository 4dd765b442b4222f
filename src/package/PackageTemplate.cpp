// The package block and its seal as the build leaves them: templates that the packaging step
// fills in the executable file. They live in initialised, writable data so that the file holds
// every byte of them, and they are read only through pointers the compiler cannot see through, so
// that no read is answered from these initial values.
#include <cstddef>

#include "package/PackageBlock.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace movrel::package {

// Every field is followed by zero bytes up to the next one.
struct PackageConstraint {
  char minimum[8];
  char maximum[8];
  char vendor[12];
  char product[20];
};

struct PackageBlock {
  char banner[21];
  char version[13];
  char contact[15];
  char title[64];
  char date[12];
  char note[32];
  char model[65];
  char constraintKey[16];
  PackageConstraint constraints[layout::kBankCount][layout::kEntriesPerBank];
  char n2oMessage[13];
  char chkDisc[10];
  char bootCode[18];
  char reboot[9];
  char autoMode[11];
  char closeAp[10];
  char warning[10];
  char admin[8];
  char nbWarning[12];
  char howManyBin[20];
  char bankStarts[layout::kBankCount][layout::kBankStartSlot];
  char bankSizes[layout::kBankCount][layout::kBankSizeSlot];
  char newRevisions[layout::kBankCount][layout::kNewRevisionSlot];
  char bankArea[layout::kBankAreaSize];
};

static_assert(sizeof(PackageConstraint) == layout::kEntrySize);
static_assert(offsetof(PackageConstraint, maximum) == layout::kEntryMaximumOffset);
static_assert(offsetof(PackageConstraint, vendor) == layout::kEntryVendorOffset);
static_assert(offsetof(PackageConstraint, product) == layout::kEntryProductOffset);
static_assert(sizeof(PackageBlock) == layout::kBlockSize);
static_assert(offsetof(PackageBlock, version) == layout::kVersionOffset);
static_assert(offsetof(PackageBlock, contact) == layout::kContactOffset);
static_assert(offsetof(PackageBlock, title) == layout::kTitleOffset);
static_assert(offsetof(PackageBlock, date) == layout::kDateOffset);
static_assert(offsetof(PackageBlock, note) == layout::kNoteOffset);
static_assert(offsetof(PackageBlock, model) == layout::kModelOffset);
static_assert(offsetof(PackageBlock, constraintKey) == layout::kConstraintKeyOffset);
static_assert(offsetof(PackageBlock, constraints) == layout::kConstraintTableOffset);
static_assert(offsetof(PackageBlock, n2oMessage) == layout::kOptionsOffset);
static_assert(offsetof(PackageBlock, chkDisc) == layout::kOptionSlots[1].offset);
static_assert(offsetof(PackageBlock, bootCode) == layout::kOptionSlots[2].offset);
static_assert(offsetof(PackageBlock, reboot) == layout::kOptionSlots[3].offset);
static_assert(offsetof(PackageBlock, autoMode) == layout::kOptionSlots[4].offset);
static_assert(offsetof(PackageBlock, closeAp) == layout::kOptionSlots[5].offset);
static_assert(offsetof(PackageBlock, warning) == layout::kOptionSlots[6].offset);
static_assert(offsetof(PackageBlock, admin) == layout::kOptionSlots[7].offset);
static_assert(offsetof(PackageBlock, nbWarning) == layout::kOptionSlots[8].offset);
static_assert(offsetof(PackageBlock, howManyBin) == layout::kOptionSlots[9].offset);
static_assert(offsetof(PackageBlock, bankStarts) == layout::kBankStartsOffset);
static_assert(offsetof(PackageBlock, bankSizes) == layout::kBankSizesOffset);
static_assert(offsetof(PackageBlock, newRevisions) == layout::kNewRevisionsOffset);
static_assert(offsetof(PackageBlock, bankArea) == layout::kBankAreaOffset);

// Not const and not static: the packaging step rewrites these bytes in the file.
PackageBlock packageBlock = {
    "MOVREL PACKAGE BLOCK",
    "v2.0.3",
    "CONTACT_HERE",
    "APP_TITLE_HERE",
    "YYYY/MM/DD",
    "N/A",
    "MODEL_HERE",
    "FW_CONSTRAINTS=",
    {{
         {"#FLSH11", "#", "#", "#"},
         {"#FLSH12", "#", "#", "#"},
         {"#FLSH13", "#", "#", "#"},
         {"#FLSH14", "#", "#", "#"},
         {"#FLSH15", "#", "#", "#"},
         {"#FLSH16", "#", "#", "#"},
         {"#FLSH17", "#", "#", "#"},
         {"#FLSH18", "#", "#", "#"},
     },
     {
         {"#FLSH21", "#", "#", "#"},
         {"#FLSH22", "#", "#", "#"},
         {"#FLSH23", "#", "#", "#"},
         {"#FLSH24", "#", "#", "#"},
         {"#FLSH25", "#", "#", "#"},
         {"#FLSH26", "#", "#", "#"},
         {"#FLSH27", "#", "#", "#"},
         {"#FLSH28", "#", "#", "#"},
     },
     {
         {"#FLSH31", "#", "#", "#"},
         {"#FLSH32", "#", "#", "#"},
         {"#FLSH33", "#", "#", "#"},
         {"#FLSH34", "#", "#", "#"},
         {"#FLSH35", "#", "#", "#"},
         {"#FLSH36", "#", "#", "#"},
         {"#FLSH37", "#", "#", "#"},
         {"#FLSH38", "#", "#", "#"},
     },
     {
         {"#FLSH41", "#", "#", "#"},
         {"#FLSH42", "#", "#", "#"},
         {"#FLSH43", "#", "#", "#"},
         {"#FLSH44", "#", "#", "#"},
         {"#FLSH45", "#", "#", "#"},
         {"#FLSH46", "#", "#", "#"},
         {"#FLSH47", "#", "#", "#"},
         {"#FLSH48", "#", "#", "#"},
     }},
    "N2OMESSAGE=0",
    "CHKDISC=0",
    "BOOTCODE=0",
    "REBOOT=1",
    "AUTOMODE=0",
    "CLOSEAP=0",
    "WARNING=1",
    "ADMIN=0",
    "NBWARNING=0",
    "HOW_MANY_BIN=1",
    {"BIN_START1=0000000000", "BIN_START2=0000000000", "BIN_START3=0000000000",
     "BIN_START4=0000000000"},
    {"BIN_SIZE1=0000000000", "BIN_SIZE2=0000000000", "BIN_SIZE3=0000000000",
     "BIN_SIZE4=0000000000"},
    {"NEW_FW1=N/A ", "NEW_FW2=N/A ", "NEW_FW3=N/A ", "NEW_FW4=N/A "},
    "BANK_START_FROM_HERE",
};

struct PackageSeal {
  char marker[layout::kSealMarkerSize];
  char key[layout::kSealKeySize];
  char digest[layout::kSealDigestSize];
};

static_assert(sizeof(PackageSeal) == layout::kSealSize);
static_assert(offsetof(PackageSeal, key) == layout::kSealKeyOffset);
static_assert(offsetof(PackageSeal, digest) == layout::kSealDigestOffset);

// Not const and not static: the packaging step records the block's digest in these bytes.
PackageSeal packageSeal = {"MOVREL PACKAGE SEAL", "SHA256=", "NOT SEALED"};

PackageView EmbeddedPackage() {
  const unsigned char* block = reinterpret_cast<const unsigned char*>(&packageBlock);
  const unsigned char* seal = reinterpret_cast<const unsigned char*>(&packageSeal);
  // Hides where the pointers come from, so every read goes to the bytes in memory.
  __asm__ __volatile__("" : "+r"(block), "+r"(seal));
  return PackageView(block, seal);
}

}  // namespace movrel::package
