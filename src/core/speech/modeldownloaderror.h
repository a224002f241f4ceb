#pragma once

#include <QString>

// Why a model download did not produce a file. Each case carries the text the user sees;
// the model store prefixes it with the model's name.
class ModelDownloadError final
{
public:
    enum Kind {
        badStatus,         // the server answered outside 200 to 299
        network,           // no connection, dropped connection, time-out
        file,              // the partial file could not be written or moved into place
        verificationFailed, // the finished file did not match its checksum
        cancelled,         // the user cancelled
    };

    static ModelDownloadError httpStatus(int code) { return {badStatus, code, {}}; }
    // An answer that is wrong for a reason its status alone does not tell.
    static ModelDownloadError httpStatusWith(int code, QString detail) { return {badStatus, code, std::move(detail)}; }
    static ModelDownloadError networkFailure(QString detail) { return {network, 0, std::move(detail)}; }
    static ModelDownloadError fileFailure(QString detail) { return {file, 0, std::move(detail)}; }
    static ModelDownloadError mismatch() { return {verificationFailed, 0, {}}; }
    static ModelDownloadError cancellation() { return {cancelled, 0, {}}; }

    Kind kind() const { return m_kind; }
    int statusCode() const { return m_statusCode; }

    QString description() const
    {
        switch (m_kind) {
        case badStatus:
            if (!m_detail.isEmpty())
                return m_detail;
            return QStringLiteral("The server returned HTTP %1.").arg(m_statusCode);
        case verificationFailed:
            return QStringLiteral("The downloaded file did not match its checksum.");
        case cancelled:
            return QStringLiteral("The download was cancelled.");
        case network:
        case file:
            break;
        }
        return m_detail;
    }

private:
    ModelDownloadError(Kind kind, int statusCode, QString detail)
        : m_kind(kind), m_statusCode(statusCode), m_detail(std::move(detail))
    {
    }

    Kind m_kind;
    int m_statusCode;
    QString m_detail;
};
