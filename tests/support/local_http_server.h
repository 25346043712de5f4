#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <map>

namespace vistrale::test {

// A small web server on 127.0.0.1 for tests: a GET of a path in `responses` is answered
// with that response, any other with the body given at construction; the paths asked for
// are kept. Runs on the test's event loop. Main thread.
class LocalHttpServer : public QTcpServer {
public:
    struct Response {
        QByteArray status;
        QByteArray type;
        QByteArray body;
        QByteArray location = {};
    };

    LocalHttpServer(QByteArray body, QByteArray contentType)
        : fallback{"200 OK", std::move(contentType), std::move(body)}
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString address(const QString& path = "/") const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }
    QStringList requested;
    std::map<QByteArray, Response> responses;

private:
    void answer(QTcpSocket* socket)
    {
        QByteArray& request = pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray path = request.split(' ').value(1);
        requested.append(QString::fromLatin1(path));
        pending.remove(socket);
        const auto found = responses.find(path);
        const Response& response = found != responses.end() ? found->second : fallback;
        QByteArray reply = "HTTP/1.1 " + response.status + "\r\nContent-Type: " + response.type
            + "\r\nContent-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n";
        if (!response.location.isEmpty())
            reply += "Location: " + response.location + "\r\n";
        socket->write(reply + "\r\n" + response.body);
        socket->disconnectFromHost();
    }
    Response fallback;
    QHash<QTcpSocket*, QByteArray> pending;
};

} // namespace vistrale::test
