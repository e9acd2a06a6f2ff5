#include "control/FailureKind.h"

namespace voltrix {

FailureKind failureKindOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::None:
      return {};
    case Refusal::RegistryDamaged:
      return {"device_map_unreadable", "the serial device map cannot be read"};
    case Refusal::DriverNotInstalled:
      return {"no_device", "no device attached"};
    case Refusal::Busy:
      return {"run_under_way", "a run is already under way"};
    case Refusal::ImageMissing:
      return {"image_missing", "the image cannot be opened"};
    case Refusal::ImageEmpty:
      return {"image_empty", "the image holds no segment"};
    case Refusal::TooManySegments:
      return {"too_many_segments", "the image holds more than 128 segments"};
    case Refusal::ImageUnreadable:
      return {"image_unreadable", "the image cannot be read"};
    case Refusal::SegmentPastEnd:
      return {"segment_past_end", "a segment runs past the end of the image"};
    case Refusal::WorkerNotStarted:
      return {"worker_not_started", "the run could not be started"};
    case Refusal::LoadAddressDamaged:
      return {"load_address_damaged", "a segment's load address is damaged"};
    case Refusal::NoRunFolder:
      return {"no_run_folder", "no folder can be made for the run's files"};
  }
  return {"internal_error", "internal error"};
}

FailureKind failureKindOf(OpenFailure openFailure) {
  switch (openFailure) {
    case OpenFailure::None:
      return {"port_open_failed", "the serial port cannot be opened"};
    case OpenFailure::OutOfRange:
      return {"port_out_of_range", "the COM number is out of range"};
    case OpenFailure::NoSuchPort:
      return {"port_not_found", "the serial port does not exist"};
    case OpenFailure::PermissionDenied:
      return {"port_permission_denied", "no permission to open the serial port"};
    case OpenFailure::PortBusy:
      return {"port_busy", "the serial port is held by another program"};
    case OpenFailure::NotASerialPort:
      return {"not_a_serial_port", "the device node is not a serial port"};
    case OpenFailure::ConfigurationFailed:
      return {"port_settings_failed", "the serial line settings cannot be applied"};
    case OpenFailure::MonitorFailed:
      return {"port_monitor_failed", "the serial port's monitor cannot be started"};
  }
  return {"port_open_failed", "the serial port cannot be opened"};
}

FailureKind failureKindOf(RunFailure failure, OpenFailure openFailure) {
  switch (failure) {
    case RunFailure::None:
      return {};
    case RunFailure::FileOpening:
      return {"segment_file_error", "a segment file cannot be made or read"};
    case RunFailure::DownloadsFileOpening:
      return {"write_file_error", "the segment's write file cannot be opened"};
    case RunFailure::ImageTooShort:
      return {"segment_past_end", "a segment runs past the end of the image"};
    case RunFailure::PortOpen:
      return failureKindOf(openFailure);
    case RunFailure::DownloadRefused:
      return {"header_refused", "the device refused a header"};
    case RunFailure::VerifyRefused:
      return {"block_refused", "the device refused a block"};
    case RunFailure::VerifyMismatch:
      return {"read_back_mismatch", "read-back differs from the image"};
    case RunFailure::DeviceSilent:
      return {"device_silent", "the device does not answer"};
    case RunFailure::PortGone:
      return {"port_gone", "the serial port went away"};
    case RunFailure::Cancelled:
      return {"cancelled", "cancelled"};
    case RunFailure::FileWrite:
      return {"read_back_file_error", "the read-back file cannot be written"};
  }
  return {"internal_error", "internal error"};
}

}  // namespace voltrix
