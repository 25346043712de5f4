#pragma once

#include <QString>
#include <optional>

struct v4l2_capability;

namespace vistrale {

// Whether a device's capabilities are those of the writable side of the loopback
// device labelled `cardName`: the card names match and the device takes output.
// The device's own capabilities count where it reports them apart from those of
// the whole driver.
bool isLoopbackOutput(const v4l2_capability& capability, const QString& cardName);

// The node (/dev/videoN, lowest N first) of the loopback device labelled `cardName`
// that takes a writer now. With exclusive_caps=1 a loopback device offers output
// only while no other writer holds it. Only nodes whose kernel name matches are
// opened, so real cameras are not woken. Any thread; opens and closes the
// candidates, a few milliseconds.
std::optional<QString> findLoopbackDevice(const QString& cardName);

} // namespace vistrale
