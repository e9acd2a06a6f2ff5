#include "control/Hints.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "control/PlatformExamples.h"
#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"
#include "platform/Utf8Path.h"

namespace voltrix {

namespace fs = std::filesystem;

namespace {

constexpr char kDeviceMapVariable[] = "VOLTRIX_SERIALCOMM";

std::string workingDirectory() {
  std::error_code error;
  const fs::path here = fs::current_path(error);
  return error ? std::string(".") : utf8FromPath(here);
}

}  // namespace

std::string describeImageProblem(const std::string& imagePath, const std::string& folder) {
  const fs::path path = pathFromUtf8(imagePath);
  const std::string name = utf8FromPath(path.filename());
  const std::string where = folder.empty() ? std::string() : " in " + folder;
  std::error_code error;
  const fs::file_status link = fs::symlink_status(path, error);
  if (!fs::exists(link)) return name + " was not found" + where + ".";
  const std::string subject = name + where;
  if (fs::is_symlink(link)) {
    const fs::file_status target = fs::status(path, error);
    if (error && error != std::errc::no_such_file_or_directory) {
      return subject + " is a symbolic link that cannot be followed (" + error.message() + ").";
    }
    if (!fs::exists(target)) {
      return subject + " is a symbolic link to " + utf8FromPath(fs::read_symlink(path, error)) +
             ", which does not exist.";
    }
  }
  const fs::file_status kind = fs::status(path, error);
  if (fs::is_directory(kind)) return subject + " is a directory, not a file.";
  if (!fs::is_regular_file(kind)) return subject + " is not a regular file.";
  std::ifstream file(path, std::ios::binary);
  if (!file) return subject + " cannot be opened for reading: check its permissions.";
  return subject + " could not be read.";
}

std::string describeSegmentPastEnd(const DownloadState& state, const std::string& imagePath) {
  std::error_code error;
  const std::uint64_t length = fs::file_size(pathFromUtf8(imagePath), error);
  if (error) return {};
  const std::int32_t index =
      firstSegmentPastEnd(length, state.segmentOffsets, state.segmentLengths, state.segmentCount);
  if (index < 0) return {};
  return "Segment " + std::to_string(index + 1) + " (the record at offset " +
         std::to_string(state.segmentOffsets[index]) + ") claims " +
         std::to_string(state.segmentLengths[index]) + " bytes, but " + imagePath + " ends at " +
         std::to_string(length) + " bytes: nothing was sent to the device.";
}

std::string hintForRefusal(Refusal refusal, const DownloadState& state,
                           const std::string& imagePath) {
  const char* mapFolder = std::getenv(kDeviceMapVariable);
  switch (refusal) {
    case Refusal::DriverNotInstalled:
      if (mapFolder != nullptr) {
        return std::string("No Zetak device found: the device map ") + mapFolder + " (" +
               platformExamples().deviceMapVariable +
               ") holds no value VCP0 naming the device's port.";
      }
      return "No Zetak device found: no USB virtual COM port is attached. Plug the device in, "
             "or name its port with --port DEVICE.";
    case Refusal::RegistryDamaged:
      if (mapFolder != nullptr) {
        return std::string("The device map ") + mapFolder + " (" +
               platformExamples().deviceMapVariable + ") cannot be read: it must be a folder.";
      }
      return "The serial device map cannot be read.";
    case Refusal::ImageMissing:
    case Refusal::ImageUnreadable:
      // A relative path is named with the folder it was looked for in.
      return describeImageProblem(
          imagePath, pathFromUtf8(imagePath).is_absolute() ? std::string() : workingDirectory());
    case Refusal::SegmentPastEnd:
      return describeSegmentPastEnd(state, imagePath);
    case Refusal::NoRunFolder:
      return "No folder for the run's files could be made, neither in the working directory " +
             workingDirectory() +
             " nor in the temporary directory: free some space, or run where you may write.";
    case Refusal::LoadAddressDamaged:
      if (const std::int32_t index =
              firstNegativeLoadAddress(state.segmentAddresses, state.segmentCount);
          index >= 0) {
        return "Segment " + std::to_string(index + 1) + " (the record at offset " +
               std::to_string(state.segmentOffsets[index]) + ") has the load address " +
               std::to_string(state.segmentAddresses[index]) +
               ", below the lowest the record can name: nothing was sent to the device.";
      }
      return {};
    case Refusal::None:
    case Refusal::Busy:
    case Refusal::ImageEmpty:
    case Refusal::TooManySegments:
    case Refusal::WorkerNotStarted:
      return {};
  }
  return {};
}

std::string describeDeviceMapValue(const std::string& value, int portNumber) {
  const std::string shown = "The device map's value \\Device\\VCP0 is \"" + value + "\"";
  if (portNumber < 1 || portNumber > 1024) {
    return shown + ", which names no COM port between 1 and 1024.";
  }
  return shown + ", read as COM" + std::to_string(portNumber) + ".";
}

std::string describeKeptFiles(const DownloadState& state) {
  if (state.runFolder.empty()) return {};
  std::error_code error;
  const fs::path folder = fs::absolute(pathFromUtf8(state.runFolder), error);
  return "The segment files of this run are kept in " +
         (error ? state.runFolder : utf8FromPath(folder)) + " for inspection.";
}

}  // namespace voltrix
