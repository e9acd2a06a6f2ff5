#include "tests/gui/qt/PluggedDevice.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "control/DeviceMap.h"
#include "engine/SystemTexts.h"
#include "link/SerialLinkPhases.h"
#include "tests/gui/qt/AppDialogScript.h"

namespace voltrix::test {

PluggedDeviceTest::PluggedDeviceTest() {
  app().state().cancelRequested = false;
}

PluggedDeviceTest::~PluggedDeviceTest() {
  ::unsetenv("VOLTRIX_SERIALCOMM");
  ::unsetenv("VOLTRIX_DOSDEVICES");
}

void PluggedDeviceTest::plugIn(sim::SimConfig config) {
  device = std::make_unique<sim::ZetakSimulator>(config);
  ASSERT_TRUE(device->start());
  std::filesystem::create_directory(dir.file("serialcomm"));
  std::filesystem::create_directory(dir.file("dosdevices"));
  writeFileBytes(dir.file("serialcomm/VCP0"), "COM7");
  ASSERT_EQ(::symlink(device->devicePath().c_str(), dir.file("dosdevices/COM7").c_str()), 0);
  ::setenv("VOLTRIX_SERIALCOMM", dir.file("serialcomm").c_str(), 1);
  ::setenv("VOLTRIX_DOSDEVICES", dir.file("dosdevices").c_str(), 1);
}

DownloadSeams PluggedDeviceTest::programSeams(std::unique_ptr<WorkerLauncher> launcher) const {
  DownloadSeams seams;
  seams.imagePath = dir.file(texts::kImageFileName);
  seams.runFolderParent = dir.path();
  seams.deviceMap = systemDeviceMap();
  seams.link = std::make_shared<SerialLinkPhases>();
  seams.launcher = std::move(launcher);
  return seams;
}

}  // namespace voltrix::test
