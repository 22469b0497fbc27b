// The port list: the QUILLON_PORTS variable and the sysfs scan of USB serial ports.
#include "device/port_list.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace quillon;
namespace fs = std::filesystem;

TEST(PortsVariable, ParsesEntriesInOrder) {
    const auto ports = ParsePortsVariable("COM1=/dev/pts/4; COM3 = /dev/pts/7 ;bad;=x;COM9=");
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, "COM1");
    EXPECT_EQ(ports[0].device, "/dev/pts/4");
    EXPECT_EQ(ports[1].name, "COM3");
    EXPECT_EQ(ports[1].device, "/dev/pts/7");
    EXPECT_TRUE(ParsePortsVariable("").empty());
    EXPECT_TRUE(ParsePortsVariable(";;").empty());
}

TEST(PortsVariable, WhenSetItIsTheWholeList) {
    {
        test::ScopedEnv none("QUILLON_PORTS", "");
        EXPECT_TRUE(ReadPortList().empty());
    }
    test::ScopedEnv two("QUILLON_PORTS", "COM2=/a;COM2=/b");
    const auto ports = ReadPortList();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(DeviceForName(ports, "COM2"), "/a"); // the first of two same names wins
    EXPECT_EQ(DeviceForName(ports, "COM20"), "");
}

// A fake sysfs: class/tty/<name>/device links into a devices tree.
class FakeSysfs : public ::testing::Test {
protected:
    fs::path m_root = fs::temp_directory_path() /
                      ("quillon-sysfs-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(m_root / "class" / "tty"); }
    void TearDown() override { fs::remove_all(m_root); }
    void AddTty(const std::string& name, const std::string& devicePath) {
        const fs::path tty = m_root / "class" / "tty" / name;
        fs::create_directories(tty);
        if (!devicePath.empty()) {
            const fs::path target = m_root / "devices" / devicePath;
            fs::create_directories(target);
            fs::create_directory_symlink(target, tty / "device");
        }
    }
};

TEST_F(FakeSysfs, ListsUsbPortsAcmFirstByIndex) {
    AddTty("ttyUSB1", "pci0/usb1/1-2/1-2:1.0/ttyUSB1");
    AddTty("ttyACM10", "pci0/usb1/1-3/1-3:1.0");
    AddTty("ttyACM2", "pci0/usb1/1-4/1-4:1.0");
    AddTty("ttyUSB0", "pci0/usb2/2-1/2-1:1.0/ttyUSB0");
    AddTty("ttyS0", "pnp0/00:05");      // platform UART: never listed
    AddTty("ttyS4", "pci0/usb9/9-1");   // not even on USB
    AddTty("ttyAMA0", "platform/uart"); // not on USB
    AddTty("tty1", "");                 // virtual terminal: no device
    AddTty("ttyGS0", "pci0/usb3/3-1");  // another USB serial driver
    const auto ports = ScanUsbSerialPorts(m_root.string(), "/fake-dev");
    ASSERT_EQ(ports.size(), 5u);
    const char* expected[][2] = {{"/fake-dev/ttyACM2", "COM1"},
                                 {"/fake-dev/ttyACM10", "COM2"},
                                 {"/fake-dev/ttyUSB0", "COM3"},
                                 {"/fake-dev/ttyUSB1", "COM4"},
                                 {"/fake-dev/ttyGS0", "COM5"}};
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].device, expected[i][0]);
        EXPECT_EQ(ports[i].name, expected[i][1]);
    }
}

TEST_F(FakeSysfs, NoTtyClassGivesNoPorts) {
    EXPECT_TRUE(ScanUsbSerialPorts((m_root / "missing").string(), "/dev").empty());
}

} // namespace
