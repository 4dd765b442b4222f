// Writing a pack request into a package block, and sealing the block.
#pragma once

#include <vector>

#include "movrel-pack/Args.h"

namespace movrel::pack {

using Bytes = std::vector<unsigned char>;

// The number of banks the request gives images for (1..4, without gaps); throws Refusal when a
// bank is missing between them.
int BankCountOf(const PackRequest& request);

// Writes `request` into the package block at `block` (layout::kBlockSize bytes). `images` holds
// the contents of the bank files, bank 1 first, one for each bank that BankCountOf counts. Texts
// and options that the request leaves out keep their values; the constraint table, the bank
// strings and the bank area are rewritten as a whole. Throws Refusal, before writing anything,
// when the request does not fit the block or could make a drive eligible that no constraint
// names; ChoiceError when a bank has no revision to install or a constraint's minimum is above
// its maximum.
void FillBlock(unsigned char* block, const PackRequest& request, const std::vector<Bytes>& images);

// Records in the seal at `seal` (layout::kSealSize bytes) the SHA-256 of the package block at
// `block` as it now is.
void WriteSeal(unsigned char* seal, const unsigned char* block);

}  // namespace movrel::pack
