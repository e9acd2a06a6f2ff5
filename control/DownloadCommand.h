#pragma once
// What DOWNLOAD does, independent of the toolkit: find the device's port in
// the device map, refuse while a run is under way, load the image table and
// start the worker. The dialog and the CLI each supply the three seams.

#include <functional>
#include <memory>
#include <string>

#include "control/DeviceMap.h"
#include "engine/DownloadState.h"
#include "engine/LinkPhases.h"
#include "engine/Refusal.h"
#include "engine/SystemTexts.h"
#include "engine/WorkerMessages.h"

namespace voltrix {

// Shows a modal box with one OK button and no icon. A null caption means the
// application's name.
class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  virtual void showMessageBox(const char* text, const char* caption) = 0;
};

// Starts the worker on a thread of its own; false when it cannot be started.
class WorkerLauncher {
 public:
  virtual ~WorkerLauncher() = default;
  virtual bool launch(std::function<void()> work) = 0;
};

class DownloadCommand {
 public:
  DownloadCommand(DownloadState& state, const DeviceMap& deviceMap, MessageBoxPresenter& boxes,
                  WorkerLauncher& launcher, std::shared_ptr<MessageSink> dialog,
                  std::shared_ptr<LinkPhases> link);

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
  // Without this call the box holds the one line the CLI expects.
  void nameWhereImageWasLookedFor(std::string remark = {}) {
    nameWhereLooked_ = true;
    lookedRemark_ = std::move(remark);
  }

  // One click on DOWNLOAD. Refusal::None when the run was started;
  // otherwise the refusal has been shown in a message box.
  Refusal OnDownload();

  // The port number the last click read from the device map.
  int registryPort() const { return registryPort_; }
  // The device-map value it was read from.
  const std::string& registryValue() const { return registryValue_; }

 private:
  Refusal refuse(Refusal refusal);
  std::string whereImageWasLookedFor() const;

  DownloadState& state_;
  const DeviceMap& deviceMap_;
  MessageBoxPresenter& boxes_;
  WorkerLauncher& launcher_;
  std::shared_ptr<MessageSink> dialog_;
  std::shared_ptr<LinkPhases> link_;
  int registryPort_ = 0;
  std::string registryValue_;
  std::string imagePath_ = texts::kImageFileName;
  std::string runFolderParent_ = ".";
  bool nameWhereLooked_ = false;
  std::string lookedRemark_;
};

}  // namespace voltrix
