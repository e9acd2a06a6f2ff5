#pragma once
// What DOWNLOAD does in a dialog: start the device's run on the port the
// device map names, and show a refusal in a message box. The run itself
// (busy test, image, worker, outcome) is the DeviceRun's; the command only
// adds the boxes, whose texts and order the dialogs have always had.

#include <string>

#include "control/DeviceMap.h"
#include "control/DeviceRun.h"
#include "engine/Refusal.h"
#include "engine/SystemTexts.h"

namespace voltrix {

// Shows a modal box with one OK button and no icon. A null caption means the
// application's name.
class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  virtual void showMessageBox(const char* text, const char* caption) = 0;
};

class DownloadCommand {
 public:
  DownloadCommand(DeviceRun& run, const DeviceMap& deviceMap, MessageBoxPresenter& boxes);

  // The image DOWNLOAD writes; sysbin.bin of the working directory unless
  // the program was given another.
  void setImagePath(std::string path) { imagePath_ = std::move(path); }
  const std::string& imagePath() const { return imagePath_; }
  // Where the run's private folder is made; the working directory unless
  // the caller gives another.
  void setRunFolderParent(std::string folder) { runFolderParent_ = std::move(folder); }

  // The dialogs add a second line to the box of a missing image: the
  // absolute folder it was looked for in, followed by `remark` in brackets
  // when there is one (why that is not the folder the operator expects).
  // Without this call the box holds the system text alone.
  void nameWhereImageWasLookedFor(std::string remark = {}) {
    nameWhereLooked_ = true;
    lookedRemark_ = std::move(remark);
  }

  // One click on DOWNLOAD. Refusal::None when the run was started;
  // otherwise the refusal has been shown in a message box.
  Refusal OnDownload();

  // The port number the last click read from the device map.
  int registryPort() const { return run_.registryPort(); }
  // The device-map value it was read from.
  const std::string& registryValue() const { return run_.registryValue(); }

 private:
  void showRefusal(Refusal refusal);
  std::string whereImageWasLookedFor() const;

  DeviceRun& run_;
  const DeviceMap& deviceMap_;
  MessageBoxPresenter& boxes_;
  std::string imagePath_ = texts::kImageFileName;
  std::string runFolderParent_ = ".";
  bool nameWhereLooked_ = false;
  std::string lookedRemark_;
};

}  // namespace voltrix
