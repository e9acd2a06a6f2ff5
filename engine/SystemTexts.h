#pragma once
// Every text the engine and the front ends show is a constant that lives for
// the whole program; posted messages carry pointers to these.

namespace voltrix::texts {

// Status-line texts posted by the run.
inline constexpr const char kFileOpeningError[] = "File Opening error!";
inline constexpr const char kDownloadsFileOpeningError[] = "Downloads file opening error!";
inline constexpr const char kImageTooShort[] =
    "The length of the file is less than initial file address!";
inline constexpr const char kFailToOpenCom[] = "Fail to open the COM!";
inline constexpr const char kRequestDownloading[] = "Request for downloading, please wait...";
inline constexpr const char kRequestVerifying[] = "Request for verifying, please wait...";
inline constexpr const char kConnectedSpace[] = " ";
inline constexpr const char kDownloadingFails[] = "Request for downloading fails!";
inline constexpr const char kVerifyingFails[] = "Request for verifying fails!";
inline constexpr const char kIncorrectVerify[] = "Incorrect in verifying the read-write data!";
// Endings the original loader protocol could not report: a silent device, a
// port that went away, an operator's cancel, a read-back that came up short.
inline constexpr const char kDeviceSilent[] = "The device does not answer!";
inline constexpr const char kPortGone[] = "The COM port has gone away!";
inline constexpr const char kCancelled[] = "Download cancelled!";
inline constexpr const char kFileWriteError[] = "File writing error!";

// Message boxes of the DOWNLOAD command.
inline constexpr const char kRegistryDamaged[] = "错误：注册表损坏！";
inline constexpr const char kDriverNotInstalled[] = "错误：设备驱动未安装！";
inline constexpr const char kBeingInDownload[] = "Being in download status!";
inline constexpr const char kInfoCaption[] = "INFO:";
inline constexpr const char kSystemFileNotFound[] =
    "             System file can't be found              ";
// The dialogs' second line under kSystemFileNotFound: the folder sysbin.bin
// was looked for in, or the whole name of an image called otherwise.
inline constexpr const char kLookedIn[] = "Looked in: ";
inline constexpr const char kLookedFor[] = "Looked for: ";
inline constexpr const char kDownloadingFileNotFound[] =
    "           Downloading file can't be found           ";
inline constexpr const char kTooManySegments[] = "The system file holds more than 128 segments!";
inline constexpr const char kSystemFileUnreadable[] = "System file can't be read!";
inline constexpr const char kLoadAddressDamaged[] = "A segment's load address is damaged!";
inline constexpr const char kWorkerNotStarted[] = "The download could not be started!";

// Status-line formats of the display.
inline constexpr const char kErrorFormat[] = "ERROR:%s!  文件名[%s]";
inline constexpr const char kConnectSuccessfully[] = "Connect successfully!";
inline constexpr const char kTimeFormat[] = "Time%.2d:%.2d";
inline constexpr const char kUpdateSuccessfullyFormat[] = "Update successfully! TIME:%.2d:%.2d";

inline constexpr const char kImageFileName[] = "sysbin.bin";

}  // namespace voltrix::texts
