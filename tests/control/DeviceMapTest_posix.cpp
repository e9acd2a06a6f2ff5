#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "control/DeviceMap.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

class OverrideDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(dir.file("serialcomm").c_str(), 0755), 0);
    ::setenv("VOLTRIX_SERIALCOMM", dir.file("serialcomm").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("VOLTRIX_SERIALCOMM"); }
  DeviceMapValue vcp0() { return systemDeviceMap()->queryValue(SERIALCOMM_KEY, VCP0_VALUE); }
  test::TempDir dir;
};

TEST_F(OverrideDirectory, EachFileIsAValueNamedUnderDevice) {
  test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM3\n");
  test::writeFileBytes(dir.file("serialcomm/Serial0"), "COM1");
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
  test::writeFileBytes(dir.file("serialcomm/VCP0"), std::string(81, 'C'));
  EXPECT_EQ(vcp0().status, DeviceMapStatus::ValueMissing);
  test::writeFileBytes(dir.file("serialcomm/VCP0"), std::string(80, 'C'));
  EXPECT_EQ(vcp0().status, DeviceMapStatus::Ok);
  ::unlink(dir.file("serialcomm/VCP0").c_str());
  test::writeFileBytes(dir.file("elsewhere"), "COM4");
  ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), dir.file("serialcomm/VCP0").c_str()), 0);
  EXPECT_EQ(vcp0().status, DeviceMapStatus::ValueMissing);
}

TEST_F(OverrideDirectory, ListsEveryValueThatCanBeRead) {
  test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM3\n");
  test::writeFileBytes(dir.file("serialcomm/Serial0"), "COM1");
  test::writeFileBytes(dir.file("serialcomm/TooLong"), std::string(81, 'C'));
  test::writeFileBytes(dir.file("elsewhere"), "COM4");
  ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), dir.file("serialcomm/Linked").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.file("serialcomm/Folder").c_str(), 0755), 0);
  const auto map = systemDeviceMap();
  const auto values = map->values(SERIALCOMM_KEY);
  EXPECT_EQ(values, (std::vector<DeviceMapEntry>{{"\\Device\\Serial0", "COM1"},
                                                 {"\\Device\\VCP0", "COM3"}}));
  for (const auto& [name, data] : values) {
    const auto value = map->queryValue(SERIALCOMM_KEY, name);
    EXPECT_EQ(value.status, DeviceMapStatus::Ok) << name;
    EXPECT_EQ(value.data, data) << name;
  }
  EXPECT_TRUE(map->values("HARDWARE\\OTHER\\").empty());
}

TEST_F(OverrideDirectory, AnUnreadableKeyListsNothing) {
  test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM3");
  EXPECT_EQ(directoryDeviceMap(dir.file("serialcomm"))->values(SERIALCOMM_KEY).size(), 1u);
  EXPECT_TRUE(directoryDeviceMap(dir.file("nowhere"))->values(SERIALCOMM_KEY).empty());
  EXPECT_TRUE(directoryDeviceMap("")->values(SERIALCOMM_KEY).empty());
  EXPECT_EQ(directoryDeviceMap("")->queryValue(SERIALCOMM_KEY, VCP0_VALUE).status,
            DeviceMapStatus::KeyUnavailable);
}

TEST(DeviceMapInterface, AMapThatCannotListListsNothing) {
  class QueryOnly final : public DeviceMap {
   public:
    DeviceMapValue queryValue(const std::string&, const std::string&) const override {
      return {DeviceMapStatus::Ok, "COM3"};
    }
  };
  EXPECT_TRUE(QueryOnly().values(SERIALCOMM_KEY).empty());
}

// The attached view over a COM-number set-up this test makes: the first USB
// virtual COM port found there is "\Device\VCP0".
class AttachedOverLinkedPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("VOLTRIX_SERIALCOMM");
    ::setenv("VOLTRIX_DOSDEVICES", dir.path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("VOLTRIX_DOSDEVICES"); }
  test::TempDir dir;
};

TEST_F(AttachedOverLinkedPorts, EachUsbPortIsAVcpValueInOrder) {
  test::writeFileBytes(dir.file("ttyUSB0"), "");
  test::writeFileBytes(dir.file("ttyACM0"), "");
  ASSERT_EQ(::symlink(dir.file("ttyUSB0").c_str(), dir.file("COM6").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("ttyACM0").c_str(), dir.file("COM9").c_str()), 0);
  const auto map = systemDeviceMap();
  const auto value = map->queryValue(SERIALCOMM_KEY, VCP0_VALUE);
  EXPECT_EQ(value.status, DeviceMapStatus::Ok);
  EXPECT_EQ(value.data, "COM9");
  EXPECT_EQ(map->queryValue(SERIALCOMM_KEY, "\\Device\\VCP1").data, "COM6");
  for (const char* missing : {"\\Device\\VCP2", "\\Device\\VCP01", "\\Device\\VCP", "VCP1"}) {
    EXPECT_EQ(map->queryValue(SERIALCOMM_KEY, missing).status, DeviceMapStatus::ValueMissing)
        << missing;
  }
  EXPECT_EQ(map->values(SERIALCOMM_KEY),
            (std::vector<DeviceMapEntry>{{VCP0_VALUE, "COM9"}, {"\\Device\\VCP1", "COM6"}}));
  EXPECT_TRUE(map->values("HARDWARE\\OTHER\\").empty());
}

TEST_F(AttachedOverLinkedPorts, NoUsbPortListsNothing) {
  test::writeFileBytes(dir.file("ttyS0"), "");
  ASSERT_EQ(::symlink(dir.file("ttyS0").c_str(), dir.file("COM1").c_str()), 0);
  const auto map = systemDeviceMap();
  EXPECT_EQ(map->queryValue(SERIALCOMM_KEY, VCP0_VALUE).status, DeviceMapStatus::ValueMissing);
  EXPECT_TRUE(map->values(SERIALCOMM_KEY).empty());
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
  // The list agrees with the query, whatever is attached.
  const auto values = map->values(SERIALCOMM_KEY);
  if (value.status == DeviceMapStatus::Ok) {
    EXPECT_EQ(values, (std::vector<DeviceMapEntry>{{VCP0_VALUE, value.data}}));
  } else {
    EXPECT_TRUE(values.empty());
  }
}

}  // namespace
}  // namespace voltrix
