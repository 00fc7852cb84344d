#include "serial/port_map.h"

#include <gtest/gtest.h>
#include <linux/serial.h>

namespace trelvo {
namespace {

TEST(PortName, IsComAndTheNumber) {
    EXPECT_EQ(port_name(3), "COM3");
    EXPECT_EQ(port_name(255), "COM255");
}

TEST(PortDevicePath, FollowsTheMapThenTheDeviceConvention) {
    const std::map<uint32_t, std::string> map = {
        {5, "/dev/rfcomm0"}, {200, "/dev/ttyXR0"}, {0, "/dev/null"}, {300, "/dev/null"}};
    const std::pair<uint32_t, const char*> cases[] = {
        {1, "/d/ttyS0"},
        {32, "/d/ttyS31"},
        {33, "/d/ttyUSB0"},
        {64, "/d/ttyUSB31"},
        {65, "/d/ttyACM0"},
        {96, "/d/ttyACM31"},
        {97, "/d/ttyAMA0"},
        {128, "/d/ttyAMA31"},
        {5, "/dev/rfcomm0"},
        {200, "/dev/ttyXR0"},
        {129, ""},
        {255, ""},
        {0, ""},
        {300, ""},
    };
    for (auto [number, path] : cases) {
        EXPECT_EQ(port_device_path(map, number, "/d"), path) << "COM" << number;
    }
    EXPECT_EQ(port_device_path({}, 2), "/dev/ttyS1");
}

TEST(CountsAsAbsent, OnlyABuiltInUartNodeWithoutHardware) {
    const struct {
        const char* path;
        std::optional<int> type;
        bool absent;
    } cases[] = {
        {"/dev/ttyS4", PORT_UNKNOWN, true},    {"/dev/ttyS4", PORT_16550A, false},
        {"/dev/ttyS4", std::nullopt, false},   {"/dev/ttyUSB0", PORT_UNKNOWN, false},
        {"/dev/ttySAC0", PORT_UNKNOWN, false}, {"ttyS12", PORT_UNKNOWN, true},
        {"/dev/ttyS", PORT_UNKNOWN, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(counts_as_absent(c.path, c.type), c.absent) << c.path;
}

}  // namespace
}  // namespace trelvo
