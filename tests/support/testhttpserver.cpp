#include "testhttpserver.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (qsizetype end; (end = buffer.indexOf("\r\n\r\n")) >= 0;) {
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request{requestLine.value(0), requestLine.value(1), {}, {}};
        for (const QByteArray &line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        // The head stays in the buffer until the whole body has arrived.
        const qsizetype length = std::max<qsizetype>(0, request.headers.value("content-length").toLongLong());
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        buffer.remove(0, end + 4 + length);
        m_requests.append(request);
        Q_EMIT requestReceived();
        respond(socket, request);
    }
}

void TestHttpServer::respond(QTcpSocket *socket, const Request &request)
{
    const QString path = QUrl(QString::fromLatin1(request.target)).path();
    if (!m_responses.contains(path)) {
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nContent-Type: text/plain\r\n\r\nnot found");
        return;
    }
    const Response response = m_responses.value(path);
    if (response.neverAnswer)
        return;
    if (response.hangUp) {
        socket->disconnectFromHost();
        return;
    }
    QByteArray body = response.body;
    int status = response.status;
    QByteArray head;
    static const QRegularExpression rangePattern(QStringLiteral("^bytes=(\\d+)-$"));
    const auto range = rangePattern.match(QString::fromLatin1(request.headers.value("range")));
    if (response.honourRange && range.hasMatch() && status == 200) {
        const QByteArray size = QByteArray::number(body.size());
        const qint64 from = range.captured(1).toLongLong();
        status = from >= body.size() ? 416 : 206;
        head += "Content-Range: bytes "
            + (from >= body.size() ? QByteArray("*") : QByteArray::number(from) + '-' + QByteArray::number(body.size() - 1)) + '/'
            + size + "\r\n";
        body = body.mid(std::min<qint64>(from, body.size()));
    }
    if (response.honourRange)
        head += "Accept-Ranges: bytes\r\n";
    for (const auto &[name, value] : std::as_const(response.headers))
        head += name + ": " + value + "\r\n";
    head += response.sendLength ? QByteArray("Content-Length: " + QByteArray::number(body.size())) : QByteArray("Connection: close");
    head += "\r\n";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Type: " + response.contentType + "\r\n" + head + "\r\n");
    sendBody(socket, body, response, 0);
}

void TestHttpServer::sendBody(QTcpSocket *socket, QByteArray body, Response response, qint64 sent)
{
    qint64 stopAt = body.size();
    if (response.dropAfter >= 0)
        stopAt = std::min(stopAt, response.dropAfter);
    if (response.stallAfter >= 0)
        stopAt = std::min(stopAt, response.stallAfter);
    while (sent < stopAt) {
        const qint64 count = std::min(response.chunkSize, stopAt - sent);
        socket->write(body.mid(sent, count));
        sent += count;
        if (response.chunkDelayMs > 0 && sent < stopAt) {
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(response.chunkDelayMs, this, [this, guard, body, response, sent] {
                if (guard)
                    sendBody(guard, body, response, sent);
            });
            return;
        }
    }
    // A stall keeps the connection open and says nothing more.
    if (stopAt == body.size() ? !response.sendLength : response.dropAfter == stopAt) {
        socket->flush();
        socket->disconnectFromHost();
    }
}
