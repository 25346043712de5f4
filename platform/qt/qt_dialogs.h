#pragma once

#include "platform/dialogs.h"

namespace vistrale {

// Alerts as QMessageBox. With VISTRALE_TRACE_DIALOGS=1 every alert is also written to
// standard output as one "alert " line of JSON (message, informative, buttons), so
// that scripts and tests can read what the user was shown.
class QtDialogs : public Dialogs {
public:
    void activateApplication() override;
    bool runAlert(const AlertSpec& alert) override;
    std::optional<QString> runTextAlert(const AlertSpec& alert, const QString& initial) override;
    std::optional<QString> runSavePanel(const SavePanelSpec& panel) override;
    std::optional<QString> runOpenPanel(const OpenPanelSpec& panel) override;
    // The label is 320 × 28, centred, in the bold 20-pixel system font. Each text the
    // label takes is also traced, as a "recorder key " line.
    bool runKeyRecorder(const AlertSpec& alert, const QString& initialLabel,
        std::function<std::optional<QString>(const RecordedKey& key)> onKey) override;
    int runChoiceAlert(const AlertSpec& alert) override;
};

} // namespace vistrale
