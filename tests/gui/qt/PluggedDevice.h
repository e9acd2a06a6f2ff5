#pragma once
// The simulated Zetak plugged in the way the program finds a real one: the
// device map names it "\Device\VCP0" = COM7, and COM7 leads to its
// pseudo-terminal, both through their override directories. Nothing of the
// program is stood in.

#include <gtest/gtest.h>

#include <memory>

#include "gui/qt/DownloaderApp.h"
#include "sim/ZetakSimulator.h"
#include "tests/support/TempDir.h"

namespace voltrix::test {

class PluggedDeviceTest : public ::testing::Test {
 protected:
  PluggedDeviceTest();
  ~PluggedDeviceTest() override;

  // Starts the device and maps it as COM7.
  void plugIn(sim::SimConfig config = {});

  // What the program itself passes, with `launcher` to start the worker.
  // The image and the run folders are in the test's folder.
  DownloadSeams programSeams(std::unique_ptr<WorkerLauncher> launcher) const;

  TempDir dir;
  std::unique_ptr<sim::ZetakSimulator> device;
};

}  // namespace voltrix::test
