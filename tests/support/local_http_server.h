#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace vistrale::test {

// A one-page web server on 127.0.0.1 for tests: every GET is answered with the same
// body, and the paths asked for are kept. Runs on the test's event loop. Main thread.
class LocalHttpServer : public QTcpServer {
public:
    LocalHttpServer(QByteArray body, QByteArray contentType)
        : body(std::move(body))
        , contentType(std::move(contentType))
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

private:
    void answer(QTcpSocket* socket)
    {
        QByteArray& request = pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        requested.append(QString::fromLatin1(request.split(' ').value(1)));
        pending.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + contentType
            + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
    QByteArray body;
    QByteArray contentType;
    QHash<QTcpSocket*, QByteArray> pending;
};

} // namespace vistrale::test
