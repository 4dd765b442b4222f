/* The parts of the ring that target_core_user shares with a user-space handler, as
 * <linux/target_core_user.h> lays them out: offsets in the mailbox and in a ring entry, and the
 * values the handler reads and writes. That header is C only (its inline helpers turn integers
 * into enumerations implicitly, which C++ refuses), so TcmuAbi.c reads it and hands the layout to
 * the C++ code here. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct TcmuAbi {
  /* The mailbox at the start of the region. */
  uint16_t version;       /* TCMU_MAILBOX_VERSION, the only one this handler knows */
  uint16_t capReadLength; /* the kernel takes the byte count of a data-in reply */
  size_t versionAt, flagsAt, ringOffsetAt, ringSizeAt, headAt, tailAt;
  /* A ring entry: its header, the request the kernel wrote, the reply written over it. */
  uint32_t opMask, opPad, opCommand;
  size_t lengthOpAt, userFlagsAt;
  uint8_t unknownOp, readLengthValid; /* bits of the user flags */
  size_t iovCountAt, cdbOffsetAt, iovAt, iovSize, iovBaseAt, iovLengthAt;
  size_t statusAt, readLengthAt, senseAt, senseSize;
};

extern const struct TcmuAbi kTcmu;

#ifdef __cplusplus
}
#endif
