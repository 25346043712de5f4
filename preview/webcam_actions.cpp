// The controller's webcam entry points: each forwards to the webcam overlay, which
// holds the webcam's state and does the work.
#include "preview/vistrale_view_controller.h"
#include "webcam/webcam_overlay.h"

namespace vistrale {

void VistraleViewController::camToggled()
{
    toggleWebcam();
}

bool VistraleViewController::toggleWebcam()
{
    return webcamOverlay && webcamOverlay->toggleWebcam();
}

void VistraleViewController::switchCamera(const QString& id)
{
    if (webcamOverlay)
        webcamOverlay->switchCamera(id);
}

void VistraleViewController::pickCamera(int tag)
{
    if (webcamOverlay)
        webcamOverlay->pickCamera(tag);
}

void VistraleViewController::changeCameraSize(int segment)
{
    if (webcamOverlay)
        webcamOverlay->changeCameraSize(segment);
}

void VistraleViewController::stepCameraSize(bool grow)
{
    if (webcamOverlay)
        webcamOverlay->stepCameraSize(grow);
}

void VistraleViewController::toggleFullscreenWebcam()
{
    if (webcamOverlay)
        webcamOverlay->toggleFullscreenWebcam();
}

bool VistraleViewController::mouseDownInPreview(QPointF point)
{
    return webcamOverlay && webcamOverlay->beginDrag(point);
}

void VistraleViewController::mouseDraggedInPreview(QPointF point)
{
    if (webcamOverlay)
        webcamOverlay->dragTo(point);
}

void VistraleViewController::mouseUpInPreview()
{
    if (webcamOverlay)
        webcamOverlay->endDrag();
}

void VistraleViewController::webcamClicked(bool shift)
{
    if (webcamOverlay)
        webcamOverlay->webcamClicked(shift);
}

void VistraleViewController::setCameraShape(int shape)
{
    if (webcamOverlay)
        webcamOverlay->setCameraShape(cameraShapeFrom(shape));
}

void VistraleViewController::borderSliderChanged(double width)
{
    if (webcamOverlay)
        webcamOverlay->setBorderWidth(width);
}

void VistraleViewController::radiusSliderChanged(double radius)
{
    if (webcamOverlay)
        webcamOverlay->setCornerRadius(radius);
}

void VistraleViewController::changeColor(const QColor& color)
{
    if (webcamOverlay)
        webcamOverlay->setBorderColor(color);
}

void VistraleViewController::toggleWebcamMirror()
{
    if (webcamOverlay)
        webcamOverlay->toggleWebcamMirror();
}

bool VistraleViewController::isPointOverWebcam(QPointF screenPoint) const
{
    return webcamOverlay && webcamOverlay->isPointOverWebcam(screenPoint, QSizeF(screenWidth, screenHeight));
}

bool VistraleViewController::setAvatarImage(const QString& path)
{
    return webcamOverlay && webcamOverlay->setAvatarImage(path);
}

void VistraleViewController::showAvatar()
{
    if (webcamOverlay)
        webcamOverlay->showAvatar();
}

} // namespace vistrale
