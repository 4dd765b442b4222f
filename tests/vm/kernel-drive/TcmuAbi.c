#include "TcmuAbi.h"

#include <linux/target_core_user.h>

const struct TcmuAbi kTcmu = {
    .version = TCMU_MAILBOX_VERSION,
    .capReadLength = TCMU_MAILBOX_FLAG_CAP_READ_LEN,
    .versionAt = offsetof(struct tcmu_mailbox, version),
    .flagsAt = offsetof(struct tcmu_mailbox, flags),
    .ringOffsetAt = offsetof(struct tcmu_mailbox, cmdr_off),
    .ringSizeAt = offsetof(struct tcmu_mailbox, cmdr_size),
    .headAt = offsetof(struct tcmu_mailbox, cmd_head),
    .tailAt = offsetof(struct tcmu_mailbox, cmd_tail),
    .opMask = TCMU_OP_MASK,
    .opPad = TCMU_OP_PAD,
    .opCommand = TCMU_OP_CMD,
    .lengthOpAt = offsetof(struct tcmu_cmd_entry, hdr.len_op),
    .userFlagsAt = offsetof(struct tcmu_cmd_entry, hdr.uflags),
    .unknownOp = TCMU_UFLAG_UNKNOWN_OP,
    .readLengthValid = TCMU_UFLAG_READ_LEN,
    .iovCountAt = offsetof(struct tcmu_cmd_entry, req.iov_cnt),
    .cdbOffsetAt = offsetof(struct tcmu_cmd_entry, req.cdb_off),
    .iovAt = offsetof(struct tcmu_cmd_entry, req.iov),
    .iovSize = sizeof(struct iovec),
    .iovBaseAt = offsetof(struct iovec, iov_base),
    .iovLengthAt = offsetof(struct iovec, iov_len),
    .statusAt = offsetof(struct tcmu_cmd_entry, rsp.scsi_status),
    .readLengthAt = offsetof(struct tcmu_cmd_entry, rsp.read_len),
    .senseAt = offsetof(struct tcmu_cmd_entry, rsp.sense_buffer),
    .senseSize = TCMU_SENSE_BUFFERSIZE,
};
