#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/DeviceMap.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

class OverrideDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir("serialcomm", 0755), 0);
    ::setenv("VOLTRIX_SERIALCOMM", dir.file("serialcomm").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("VOLTRIX_SERIALCOMM"); }
  DeviceMapValue vcp0() { return systemDeviceMap()->queryValue(SERIALCOMM_KEY, VCP0_VALUE); }
  test::TempDir dir;
};

TEST_F(OverrideDirectory, EachFileIsAValueNamedUnderDevice) {
  test::writeFileBytes("serialcomm/VCP0", "COM3\n");
  test::writeFileBytes("serialcomm/Serial0", "COM1");
  auto value = vcp0();
  EXPECT_EQ(value.status, DeviceMapStatus::Ok);
  EXPECT_EQ(value.data, "COM3");
  auto other = systemDeviceMap()->queryValue(SERIALCOMM_KEY, "\\Device\\Serial0");
  EXPECT_EQ(other.data, "COM1");
}

TEST_F(OverrideDirectory, AMissingDirectoryIsAnUnreadableKey) {
  ::setenv("VOLTRIX_SERIALCOMM", dir.file("nowhere").c_str(), 1);
  EXPECT_EQ(vcp0().status, DeviceMapStatus::KeyUnavailable);
}

TEST_F(OverrideDirectory, MissingOversizedOrLinkedValuesAreMissing) {
  EXPECT_EQ(vcp0().status, DeviceMapStatus::ValueMissing);
  test::writeFileBytes("serialcomm/VCP0", std::string(81, 'C'));
  EXPECT_EQ(vcp0().status, DeviceMapStatus::ValueMissing);
  test::writeFileBytes("serialcomm/VCP0", std::string(80, 'C'));
  EXPECT_EQ(vcp0().status, DeviceMapStatus::Ok);
  ::unlink("serialcomm/VCP0");
  test::writeFileBytes("elsewhere", "COM4");
  ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), "serialcomm/VCP0"), 0);
  EXPECT_EQ(vcp0().status, DeviceMapStatus::ValueMissing);
}

TEST(AttachedDevices, NoUsbPortMeansNoVcp0) {
  ::unsetenv("VOLTRIX_SERIALCOMM");
  auto map = systemDeviceMap();
  auto value = map->queryValue(SERIALCOMM_KEY, VCP0_VALUE);
  // This machine may or may not have a USB serial adapter; either answer
  // must be consistent with what is attached.
  if (value.status == DeviceMapStatus::Ok) {
    EXPECT_EQ(value.data.rfind("COM", 0), 0u);
  } else {
    EXPECT_EQ(value.status, DeviceMapStatus::ValueMissing);
  }
  EXPECT_EQ(map->queryValue("HARDWARE\\OTHER\\", VCP0_VALUE).status,
            DeviceMapStatus::KeyUnavailable);
}

}  // namespace
}  // namespace voltrix
