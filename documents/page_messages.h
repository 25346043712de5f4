#pragma once

#include <QJsonValue>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>

namespace vistrale {

// One request of a local page, read from the body it posted on "toggleMessageHandler".
struct PageRequest {
    enum Kind {
        Version, // "version": the page wants setVersion
        LiveReady, // "vistrale-live-ready": the page wants setCamera
        MovePointer, // "m": uuid, x, y (1024 × 1024, top-left origin)
        HidePointer, // "h": uuid
        PickImage, // "pick-image": url
        PickVideo, // "pick-video": url
        FetchTranscript, // "fetch-transcript": the page wants init
        SaveTranscript, // "save-transcript": vtt (escaped caption text)
        Close, // "close"
    };
    Kind kind = Version;
    QString uuid;
    int x = 0;
    int y = 0;
    QString url;
    QString vtt;
};

// The request in a page's message body, or none: the body must be an object whose
// "message" is text naming a known request, with each field that request needs present
// and of its type ("x" and "y" whole numbers). Anything else is no request.
std::optional<PageRequest> pageRequest(const QJsonValue& body);

// The address a page's pick refers to. "chosen-file:" and a file name names a file the
// user chose in the page's file chooser (the page never learns where it is): it becomes
// that file's file:// address, the latest choice of that name first, or nothing when the
// user chose no such file. Any other text stays as it is.
QString chosenFileAddress(const QString& url, const QStringList& chosenPaths);

// A remote pointer position (1024 × 1024 space, top-left origin) on a screen of `screen`
// points, in global points with the origin at the bottom left.
QPointF remotePointerLocation(int x, int y, QSizeF screen);

// A call of a page function with text arguments, each a single-quoted script string
// literal whatever it holds: setVersion('version 1.0.0','Super+F1').
QString pageCall(const QString& function, const QStringList& arguments);

// The caption exchange form of SubRip text, as the caption editor receives it: every
// line break becomes "___" and every "'" becomes "###".
QString captionExchangeText(const QString& subRip);

} // namespace vistrale
