#include "camera/loopback_state.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace vistrale {
namespace {

// sysfs attributes are one short line; anything longer is not what we look for.
constexpr std::streamsize MAX_ATTRIBUTE = 256;

std::string readAttribute(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    std::string text(MAX_ATTRIBUTE, '\0');
    file.read(text.data(), MAX_ATTRIBUTE);
    text.resize(static_cast<size_t>(file.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

bool hasVistraleDevice(const std::filesystem::path& classDir)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(classDir, error)) {
        if (readAttribute(entry.path() / "name") == CAMERA_CARD_LABEL)
            return true;
    }
    return false;
}

} // namespace

LoopbackState readLoopbackState(const std::string& sysRoot)
{
    const std::filesystem::path sys(sysRoot);
    const std::filesystem::path module = sys / "module" / "v4l2loopback";
    LoopbackState state;
    std::error_code error;
    state.loaded = std::filesystem::is_directory(module, error);
    if (!state.loaded)
        return state;
    state.version = readAttribute(module / "version");
    // A bool array parameter reads "Y,N,N,..." (one entry per possible device).
    const std::string exclusive = readAttribute(module / "parameters" / "exclusive_caps");
    state.exclusiveCaps = !exclusive.empty() && (exclusive[0] == 'Y' || exclusive[0] == '1');
    state.vistraleDevice = hasVistraleDevice(sys / "class" / "video4linux");
    return state;
}

bool isVistraleModule(const LoopbackState& state)
{
    return state.loaded && state.vistraleDevice && state.exclusiveCaps;
}

bool needsReplacing(const LoopbackState& state)
{
    return state.loaded && !isVistraleModule(state);
}

} // namespace vistrale
