// The controller's caption operations: they hand over to Captions, which owns the
// caption box, the recogniser and the caption commands.

#include "captions/captions.h"
#include "preview/view_tags.h"
#include "preview/vistrale_view_controller.h"

#include <QIcon>
#include <QPushButton>

namespace vistrale {

void VistraleViewController::setUpCaptions(SceneLayer& content)
{
    captionsController = std::make_unique<Captions>(platform, settings, content, camWidth,
        [this](const std::shared_ptr<SceneLayer>& box) { speechScrollView = box; });
}

void VistraleViewController::ccToggled()
{
    if (captionsController)
        captionsController->ccToggled();
}

void VistraleViewController::buildCaptionButton()
{
    ccButton = new QPushButton(contentView);
    ccButton->setObjectName("ccButton");
    ccButton->setProperty("tag", CC_TAG);
    ccButton->setIcon(QIcon(":/images/cc.png"));
    ccButton->setIconSize(QSize(20, 20));
    ccButton->setFlat(true);
    ccButton->setCursor(Qt::ArrowCursor);
    ccButton->setToolTip(tr("Closed Captions"));
    ccButton->setStyleSheet("QPushButton { background: transparent; border: none; }");
    connect(ccButton, &QPushButton::clicked, this, [this] { ccToggled(); });
}

void VistraleViewController::layoutCaptionButton()
{
    // Origin (W − 4 − 48, H − its height) with a bottom-left origin: the top edge.
    ccButton->setGeometry(contentView->width() - 4 - 48, 0, 24, 24);
    ccButton->raise();
}

} // namespace vistrale
