#include "app/recording_display.h"

#include "app/preview_window.h"
#include "recording/recording_time.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace vistrale {
namespace {

QIcon dotIcon(const QColor& fill)
{
    QIcon icon;
    for (int size : {16, 22, 32, 64}) {
        QPixmap picture(size, size);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const double ring = size / 8.0;
        painter.setPen(QPen(Qt::white, ring));
        painter.setBrush(fill);
        painter.drawEllipse(QRectF(ring, ring, size - 2 * ring, size - 2 * ring));
        painter.end();
        icon.addPixmap(picture);
    }
    return icon;
}

} // namespace

RecordingDisplay::RecordingDisplay(QSystemTrayIcon* statusItem, QMenu* menu, PreviewWindow* preview)
    : statusItem(statusItem)
    , menu(menu)
    , preview(preview)
{
}

QIcon RecordingDisplay::normalIcon()
{
    return QIcon(":/images/vistrale-statusbar-16.png");
}

QIcon RecordingDisplay::recordingIcon()
{
    return dotIcon(QColor(220, 20, 20));
}

QIcon RecordingDisplay::savingIcon()
{
    return dotIcon(QColor(128, 128, 128));
}

void RecordingDisplay::setRecordingState(bool on, bool withMicrophone)
{
    recording = on;
    if (on) {
        // Detached, so that a click on the icon reaches the application (and stops).
        if (statusItem)
            statusItem->setContextMenu(nullptr);
        show(Look::Recording, recordingStatusTitle(recordingTimeText(0), withMicrophone));
        return;
    }
    if (statusItem)
        statusItem->setContextMenu(menu);
    show(Look::Saving, QCoreApplication::translate("RecordingDisplay", "Saving..."));
}

void RecordingDisplay::showRecordingTime(const QString& text, bool withMicrophone)
{
    if (recording)
        show(Look::Recording, recordingStatusTitle(text, withMicrophone));
}

void RecordingDisplay::resetStatusItem()
{
    // A new recording may already run while the previous one is processed.
    if (recording)
        return;
    if (statusItem)
        statusItem->setContextMenu(menu);
    show(Look::Normal, QString());
}

void RecordingDisplay::show(Look look, const QString& title)
{
    shownLook = look;
    shownTitle = title;
    if (statusItem) {
        statusItem->setIcon(look == Look::Normal ? normalIcon()
                : look == Look::Recording        ? recordingIcon()
                                                 : savingIcon());
        statusItem->setToolTip(title.isEmpty() ? QStringLiteral("Vistrale") : title);
    }
    if (preview)
        preview->setStatusText(title);
}

} // namespace vistrale
