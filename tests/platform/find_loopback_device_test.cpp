#include "platform/v4l2/find_loopback_device.h"

#include <QDir>
#include <cstring>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

using namespace vistrale;

namespace {

v4l2_capability capability(const char* card, quint32 capabilities, quint32 deviceCaps = 0)
{
    v4l2_capability cap;
    std::memset(&cap, 0, sizeof cap);
    std::strncpy(reinterpret_cast<char*>(cap.driver), "v4l2 loopback", sizeof cap.driver);
    std::memcpy(cap.card, card, std::min(std::strlen(card), sizeof cap.card));
    cap.capabilities = capabilities;
    cap.device_caps = deviceCaps;
    return cap;
}

} // namespace

TEST(LoopbackDeviceCapabilities, TakeTheWritableSideOfTheLabelledDeviceByItsOwnCapabilitiesWhereReported)
{
    const QString label = "Vistrale Camera";
    // exclusive_caps=1 while another writer holds it: the driver as a whole can do
    // both, the device node offers capture only.
    const quint32 driver = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_DEVICE_CAPS;
    // 32 characters and no terminating zero.
    const char* full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    const struct {
        v4l2_capability capability;
        QString label;
        bool output;
    } cases[] = {
        {capability("Vistrale Camera", V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING), label, true},
        {capability("Other Camera", V4L2_CAP_VIDEO_OUTPUT), label, false},
        {capability("Vistrale Camera 2", V4L2_CAP_VIDEO_OUTPUT), label, false},
        {capability("Vistrale Camera", driver, V4L2_CAP_VIDEO_CAPTURE), label, false},
        {capability("Vistrale Camera", driver, V4L2_CAP_VIDEO_OUTPUT), label, true},
        // Without V4L2_CAP_DEVICE_CAPS the device_caps field means nothing.
        {capability("Vistrale Camera", V4L2_CAP_VIDEO_OUTPUT, V4L2_CAP_VIDEO_CAPTURE), label, true},
        {capability(full, V4L2_CAP_VIDEO_OUTPUT), QString(full), true},
        {capability(full, V4L2_CAP_VIDEO_OUTPUT), QString(full) + "6", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(isLoopbackOutput(cases[i].capability, cases[i].label), cases[i].output) << "case " << i;
}

TEST(LoopbackDeviceSearch, FindsNoDeviceWhereNoneIsLoaded)
{
    // These machines cannot load the module: no node is the camera.
    if (!QDir("/dev").entryList({"video*"}, QDir::System).isEmpty())
        GTEST_SKIP() << "video devices present";
    EXPECT_FALSE(findLoopbackDevice("Vistrale Camera").has_value());
}
