// The fixed texts of the window and its message boxes, byte for byte.
#pragma once

namespace movrel::app::texts {

inline constexpr char kInitialCaption[] = "Movrel";
inline constexpr char kUntitledCaption[] = "Movrel %s";
inline constexpr char kSelectDrive[] = "Please select target drive :";
inline constexpr char kUpdate[] = "&Update";
inline constexpr char kClose[] = "&Close";
inline constexpr char kInitialUpdateMsg[] = "t will be updated from";
inline constexpr char kWillBeUpdated[] = "It will be updated from";
inline constexpr char kNotAllowed[] = "This drive is not allowed to be updated.";
inline constexpr char kTo[] = "to";
inline constexpr char kRevisionPlaceholder[] = "XXXX";
inline constexpr char kInitialMessage[] = "Message";
inline constexpr char kInitialPercent[] = "100%";
inline constexpr char kZeroPercent[] = "0 %";
inline constexpr char kFullPercent[] = "100 %";
inline constexpr char kPercentSuffix[] = " %";
// Why the system is kept awake, where it lists such holds.
inline constexpr char kAwakeReason[] = "Drive firmware update in progress";

// Start-up.
inline constexpr char kDamaged[] = "This flash program is damaged. Please obtain it again.";
inline constexpr char kAdministrator[] = "User must be administrator priority !";
inline constexpr char kNoFirmware[] = "No F/W in executable !";
inline constexpr char kAccessDenied[] =
    "A drive could not be opened (access denied). Please run this program as an administrator "
    "and close any program that is using the drive.";
inline constexpr char kNeedsRoot[] =
    "This program must be run as root to update the firmware of the drives.";
inline constexpr char kDeviceFailed[] = "Device object initialize failed !";
inline constexpr char kDeviceFailedTitle[] = "Error ...";
// The no-match message: kNoMatchedDrive, kOnlyFor, the package's model, kDriveSuffix,
// kDetectedDrives and the drive list.
inline constexpr char kNoMatchedDrive[] = "No matched drive detected !\n";
inline constexpr char kOnlyFor[] = "This utility is only for ";
inline constexpr char kDriveSuffix[] = " drive.\n\n";
inline constexpr char kDetectedDrives[] = "Detected drives :\n";
// The NOTICE: kOnlySupports, the package's model, kDriveSuffix, the heading, the numbered
// points (the third only with NBWARNING = 1) and the question.
inline constexpr char kOnlySupports[] = "This flash utility only supports ";
inline constexpr char kNoticeHeading[] = "NOTICE : \n\n";
inline constexpr char kRemoveDiscCloseApplications[] =
    "1> Please REMOVE disc and close all applications before running this utility !\n";
inline constexpr char kKeepSystemOn[] =
    "2> Don't turn off the system while flash is in progress. \n";
inline constexpr char kKeepAdapterAndBattery[] =
    "3> Don't remove the adapter and battery during F/W reflash processing. \n";
inline constexpr char kContinueQuestion[] = "\nDo you wish to continue ?";

// The drive list: port-path-target-lun, drive letter, identity, revision.
inline constexpr char kDriveLine[] = "%2d-%d-%d-%d %.2s%24s %4s";

// The update run.
inline constexpr char kAlreadyUpdated[] =
    "Your drive's Firmware is already the most updated !\n Do you wish to continue ?";
inline constexpr char kDiscLocked[] =
    "Disc detected in drive. Unable to eject the disc , maybe locked by other program\n\n"
    "Please remove the disc manually.";
inline constexpr char kRemoveDisc[] = "Please remove the disc.";
// The drive: its letter and colon, or its address (port-path-target-lun) when it has no letter.
inline constexpr char kDriveBusy[] = "Drive %s is being updated by another flash program.";
inline constexpr char kDriveMounted[] =
    "Drive %s is in use: a disc in it is mounted. Unmount the disc, and try again.";
inline constexpr char kDriveInUse[] =
    "Drive %s is in use by another program. Close the program, and try again.";
inline constexpr char kOnBattery[] =
    "The computer is running on battery. Connect the power adapter before updating the drive's "
    "firmware.";
inline constexpr char kPushTray[] = "Please push the tray in.";
inline constexpr char kFlashFailed[] =
    "Unable to flash firmware. Please contact with your vendor !";
inline constexpr char kFlashSucceeded[] = "Firmware has been updated successfully !";
inline constexpr char kCheckDisc[] = "Check Disc & Tray Status...";
inline constexpr char kTrayOut[] = "Tray Out ...";
inline constexpr char kTrayIn[] = "Tray In ...";
inline constexpr char kWaitingReady[] = "Waiting Drive Ready ...";
inline constexpr char kProgramming[] = "Programming ";
inline constexpr char kProgrammingFull[] = "Programming ..........";
inline constexpr char kInquiry[] = "Inquiry ...";
inline constexpr char kDone[] = "Done.";

}  // namespace movrel::app::texts
