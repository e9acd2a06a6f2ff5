#include <gtest/gtest.h>

#include "port/ComNumber.h"
#include "port/ComOrder.h"

namespace voltrix {
namespace {

TEST(ComDigits, TheRunOfDigitsAndWhatFollows) {
  const DigitRun run = leadingDigits("123abc");
  EXPECT_EQ(run.digits, "123");
  EXPECT_EQ(run.rest, "abc");
  EXPECT_EQ(run.value, 123u);

  const DigitRun none = leadingDigits("x1");
  EXPECT_TRUE(none.digits.empty());
  EXPECT_EQ(none.rest, "x1");
  EXPECT_FALSE(none.value);

  EXPECT_EQ(leadingDigits("4294967295").value, 4294967295u);
  EXPECT_FALSE(leadingDigits("4294967296").value);
  EXPECT_FALSE(leadingDigits("99999999999999999999999").value);
}

TEST(ComDigits, PlainNumbersHaveNoLeadingZero) {
  EXPECT_TRUE(leadingDigits("0").isPlainNumber(9));
  EXPECT_TRUE(leadingDigits("10").isPlainNumber(9));
  EXPECT_FALSE(leadingDigits("03").isPlainNumber(9));
  EXPECT_FALSE(leadingDigits("").isPlainNumber(9));
  EXPECT_TRUE(leadingDigits("123456789").isPlainNumber(9));
  EXPECT_FALSE(leadingDigits("1234567890").isPlainNumber(9));
}

TEST(ComDigits, OnlyAfterComInAnyCase) {
  EXPECT_EQ(parseComDigits("COM3")->value, 3u);
  EXPECT_EQ(parseComDigits("cOm12:")->value, 12u);
  EXPECT_EQ(parseComDigits("com12:")->rest, ":");
  EXPECT_TRUE(parseComDigits("COMX")->digits.empty());
  EXPECT_TRUE(parseComDigits("COM")->digits.empty());
  EXPECT_FALSE(parseComDigits("LPT1"));
  EXPECT_FALSE(parseComDigits("CO"));
  EXPECT_FALSE(parseComDigits(" COM3"));
}

TEST(ComDigits, EntryNamesAreStricterThanValues) {
  // The same text, read as a directory entry and as a device-map value.
  EXPECT_EQ(comorder::comNumberOfName("com12"), 12u);
  EXPECT_EQ(portNumberFromValue("com12"), 12);
  EXPECT_FALSE(comorder::comNumberOfName("COM3:"));
  EXPECT_EQ(portNumberFromValue("COM3:"), 3);
  EXPECT_FALSE(comorder::comNumberOfName("COM03"));
  EXPECT_EQ(portNumberFromValue("COM03"), 3);
  EXPECT_FALSE(comorder::comNumberOfName("COM0"));
  EXPECT_EQ(portNumberFromValue("COM0"), 0);
  EXPECT_FALSE(comorder::comNumberOfName("COM1234567890"));
}

TEST(DefaultComOrder, UsbPortsAreNumberedFromCom5) {
  const auto ports = comorder::numberUsbPorts({"/dev/ttyACM0", "/dev/ttyUSB0"});
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].comNumber, 5u);
  EXPECT_EQ(ports[0].devicePath, "/dev/ttyACM0");
  EXPECT_EQ(ports[1].comNumber, 6u);
  EXPECT_EQ(ports[1].devicePath, "/dev/ttyUSB0");
  EXPECT_TRUE(comorder::numberUsbPorts({}).empty());
}

TEST(DefaultComOrder, AnOnboardPortNeedsItsNode) {
  const auto present = comorder::resolveOnboard(2, "/dev/ttyS1", true);
  EXPECT_EQ(present.devicePath, "/dev/ttyS1");
  EXPECT_TRUE(present.detail.empty());
  const auto absent = comorder::resolveOnboard(2, "/dev/ttyS1", false);
  EXPECT_TRUE(absent.devicePath.empty());
  EXPECT_EQ(absent.detail, "COM2 stands for /dev/ttyS1, which does not exist");
}

TEST(DefaultComOrder, AMissingUsbNumberListsWhatIsAttached) {
  const auto ports = comorder::numberUsbPorts({"/dev/ttyACM0", "/dev/ttyUSB3"});
  EXPECT_EQ(comorder::resolveUsb(6, ports).devicePath, "/dev/ttyUSB3");
  const auto beyond = comorder::resolveUsb(7, ports);
  EXPECT_TRUE(beyond.devicePath.empty());
  EXPECT_EQ(beyond.detail,
            "COM7: no USB virtual COM port has that number (attached: COM5 /dev/ttyACM0, COM6 "
            "/dev/ttyUSB3)");
  const auto none = comorder::resolveUsb(5, {});
  EXPECT_TRUE(none.devicePath.empty());
  EXPECT_EQ(none.detail, "COM5: no USB virtual COM port is attached");
}

}  // namespace
}  // namespace voltrix
