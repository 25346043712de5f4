#include "documents/page_messages.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QUrl>
#include <cmath>
#include <limits>

namespace vistrale {
namespace {

std::optional<QString> textField(const QJsonObject& body, const char* name)
{
    const QJsonValue value = body.value(QLatin1String(name));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// Script numbers arrive as doubles: a whole number in int's range, nothing else.
std::optional<int> integerField(const QJsonObject& body, const char* name)
{
    const QJsonValue value = body.value(QLatin1String(name));
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < std::numeric_limits<int>::min()
        || number > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

std::optional<PageRequest> pageRequest(const QJsonValue& body)
{
    if (!body.isObject())
        return std::nullopt;
    const QJsonObject object = body.toObject();
    const std::optional<QString> message = textField(object, "message");
    if (!message)
        return std::nullopt;
    PageRequest request;
    static const std::pair<const char*, PageRequest::Kind> bare[]
        = {{"version", PageRequest::Version}, {"vistrale-live-ready", PageRequest::LiveReady},
            {"fetch-transcript", PageRequest::FetchTranscript}, {"close", PageRequest::Close}};
    for (const auto& [name, kind] : bare) {
        if (*message == QLatin1String(name)) {
            request.kind = kind;
            return request;
        }
    }
    if (*message == QLatin1String("m") || *message == QLatin1String("h")) {
        const std::optional<QString> uuid = textField(object, "uuid");
        if (!uuid)
            return std::nullopt;
        request.uuid = *uuid;
        if (*message == QLatin1String("h")) {
            request.kind = PageRequest::HidePointer;
            return request;
        }
        const std::optional<int> x = integerField(object, "x");
        const std::optional<int> y = integerField(object, "y");
        if (!x || !y)
            return std::nullopt;
        request.kind = PageRequest::MovePointer;
        request.x = *x;
        request.y = *y;
        return request;
    }
    if (*message == QLatin1String("pick-image") || *message == QLatin1String("pick-video")) {
        const std::optional<QString> url = textField(object, "url");
        if (!url)
            return std::nullopt;
        request.kind = *message == QLatin1String("pick-image") ? PageRequest::PickImage : PageRequest::PickVideo;
        request.url = *url;
        return request;
    }
    if (*message == QLatin1String("save-transcript")) {
        const std::optional<QString> vtt = textField(object, "vtt");
        if (!vtt)
            return std::nullopt;
        request.kind = PageRequest::SaveTranscript;
        request.vtt = *vtt;
        return request;
    }
    return std::nullopt;
}

QString chosenFileAddress(const QString& url, const QStringList& chosenPaths)
{
    static const QLatin1String chosen("chosen-file:");
    if (!url.startsWith(chosen))
        return url;
    const QString name = url.mid(chosen.size());
    for (auto path = chosenPaths.crbegin(); path != chosenPaths.crend(); ++path)
        if (!name.isEmpty() && QFileInfo(*path).fileName() == name)
            return QUrl::fromLocalFile(*path).toString(QUrl::FullyEncoded);
    return QString();
}

QPointF remotePointerLocation(int x, int y, QSizeF screen)
{
    return QPointF(screen.width() * x / 1024.0, screen.height() - screen.height() * y / 1024.0);
}

QString pageCall(const QString& function, const QStringList& arguments)
{
    QStringList literals;
    for (const QString& argument : arguments) {
        QString literal = QStringLiteral("'");
        for (const QChar c : argument) {
            const char16_t u = c.unicode();
            if (u == '\\' || u == '\'' || u == '"')
                literal += QLatin1Char('\\') + c;
            else if (u < 0x20 || u == 0x2028 || u == 0x2029 || u == '<' || u == '>')
                // Control characters, the script's own line separators and the angle
                // brackets of markup go as code units.
                literal += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
            else
                literal += c;
        }
        literals << literal + QLatin1Char('\'');
    }
    return function + QLatin1Char('(') + literals.join(QLatin1Char(',')) + QLatin1Char(')');
}

QString captionExchangeText(const QString& subRip)
{
    QString text = subRip;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("___"));
    text.replace(QLatin1Char('\''), QLatin1String("###"));
    return text;
}

} // namespace vistrale
