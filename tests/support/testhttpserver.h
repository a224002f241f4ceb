#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <utility>

class QTcpSocket;

// A small HTTP/1.1 server on the loopback address for tests, serving canned responses
// that can misbehave on purpose: no length, a dropped connection, a stall, Range support
// or not, no answer at all. It records each request with its body. It runs on the thread
// that created it; keep that thread's event loop turning (QSignalSpy::wait,
// QCoro::waitFor) while a client talks to it.
class TestHttpServer final : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        int status = 200;
        QByteArray body = {};
        bool sendLength = true;    // without it the body ends when the connection closes
        bool honourRange = false;  // answer "Range: bytes=N-" with 206 and the rest
        qint64 dropAfter = -1;     // close the connection after this many body bytes
        qint64 stallAfter = -1;    // stop sending, connection open, after this many bytes
        qint64 chunkSize = 256 * 1024;
        int chunkDelayMs = 0;      // pause between chunks, to make a transfer take time
        QByteArray contentType = "application/octet-stream";
        QList<std::pair<QByteArray, QByteArray>> headers = {}; // further header fields, as given
        bool neverAnswer = false;  // take the request, keep the connection open, say nothing
        bool hangUp = false;       // take the request and close the connection unanswered
    };

    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent: a path, or an absolute URL when we act as a proxy
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;                       // as long as its Content-Length says
    };

    explicit TestHttpServer(QObject *parent = nullptr);

    // Listens on 127.0.0.1 at a free port.
    bool listen() { return m_server->listen(QHostAddress::LocalHost, 0); }
    // Stops listening; the port then refuses connections.
    void close() { m_server->close(); }
    quint16 port() const { return m_server->serverPort(); }
    QUrl url(const QString &path) const { return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path)); }

    // The response for every request whose path is `path`; unknown paths get 404.
    void setResponse(const QString &path, const Response &response) { m_responses.insert(path, response); }
    QList<Request> requests() const { return m_requests; }

Q_SIGNALS:
    void requestReceived();

private:
    void onReadyRead(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const Request &request);
    void sendBody(QTcpSocket *socket, QByteArray body, Response response, qint64 sent);

    QTcpServer *m_server;
    QHash<QString, Response> m_responses;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<Request> m_requests;
};
