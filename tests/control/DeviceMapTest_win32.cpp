// The device map on Windows: the registry's serial-port map, and the folder
// that stands in for it while VOLTRIX_SERIALCOMM names one.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "control/DeviceMap.h"
#include "tests/support/SerialCommRegistry_win32.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

class RegistryMap : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(_putenv_s("VOLTRIX_SERIALCOMM", ""), 0); }
  DeviceMapValue vcp0() { return systemDeviceMap()->queryValue(SERIALCOMM_KEY, VCP0_VALUE); }
  test::SerialCommRegistry registry;
};

TEST_F(RegistryMap, TheFirstVirtualComPortIsReadFromTheRegistry) {
  registry.set(VCP0_VALUE, "COM7");
  registry.set("\\Device\\Serial0", "COM1");
  const DeviceMapValue value = vcp0();
  EXPECT_EQ(value.status, DeviceMapStatus::Ok);
  EXPECT_EQ(value.data, "COM7");
  registry.remove(VCP0_VALUE);
  EXPECT_EQ(vcp0().status, DeviceMapStatus::ValueMissing);
}

TEST_F(RegistryMap, DataLongerThanTheQuerysBufferCountAsMissing) {
  // 79 characters and the terminating NUL fit the 80 bytes; one more does not.
  registry.set(VCP0_VALUE, std::string(79, 'C'));
  EXPECT_EQ(vcp0().status, DeviceMapStatus::Ok);
  registry.set(VCP0_VALUE, std::string(80, 'C'));
  EXPECT_EQ(vcp0().status, DeviceMapStatus::ValueMissing);
}

TEST_F(RegistryMap, AKeyThatIsNotThereCannotBeRead) {
  const auto map = systemDeviceMap();
  EXPECT_EQ(map->queryValue("HARDWARE\\DEVICEMAP\\NO-SUCH-MAP\\", VCP0_VALUE).status,
            DeviceMapStatus::KeyUnavailable);
  EXPECT_TRUE(map->values("HARDWARE\\DEVICEMAP\\NO-SUCH-MAP\\").empty());
}

TEST_F(RegistryMap, ListsEveryValueThatFitsByName) {
  registry.removeAll();
  registry.set(VCP0_VALUE, "COM7");
  registry.set("\\Device\\Serial0", "COM1");
  registry.set("\\Device\\TooLong", std::string(90, 'C'));
  EXPECT_EQ(systemDeviceMap()->values(SERIALCOMM_KEY),
            (std::vector<DeviceMapEntry>{{"\\Device\\Serial0", "COM1"}, {VCP0_VALUE, "COM7"}}));
}

TEST(FolderMap, StandsInForTheRegistryWhileTheVariableNamesIt) {
  test::TempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("serialcomm")));
  test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM5\r\n");
  ASSERT_EQ(_putenv_s("VOLTRIX_SERIALCOMM", dir.file("serialcomm").c_str()), 0);
  const DeviceMapValue value = systemDeviceMap()->queryValue(SERIALCOMM_KEY, VCP0_VALUE);
  ASSERT_EQ(_putenv_s("VOLTRIX_SERIALCOMM", ""), 0);
  EXPECT_EQ(value.status, DeviceMapStatus::Ok);
  EXPECT_EQ(value.data, "COM5");
}

}  // namespace
}  // namespace voltrix
