#pragma once

#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <variant>

// Why a cleanup request produced no text. The dictation controller drops it and inserts
// the uncleaned text, so the description serves the log and the tests.
class CleanerError final
{
public:
    enum Kind {
        badResponse, // the answer was not HTTP, or its status was not 200; see message()
        transport,   // no connection, refused, dropped; see networkError()
        timedOut,    // nothing arrived for the whole timeout
        invalidJson, // a 200 whose body does not parse as JSON
    };

    static CleanerError badResponseWith(QString message) { return {badResponse, std::move(message), {}}; }
    static CleanerError transportFailure(QNetworkReply::NetworkError error, QString detail)
    {
        return {transport, std::move(detail), error};
    }
    static CleanerError timeout(std::chrono::milliseconds after)
    {
        return {timedOut, QString::number(after.count() / 1000.0), QNetworkReply::TimeoutError};
    }
    static CleanerError unparsable(QString parseError) { return {invalidJson, std::move(parseError), {}}; }

    Kind kind() const { return m_kind; }
    // badResponse: "no HTTP response" or "HTTP <code>: <body>"; otherwise the detail.
    QString message() const { return m_message; }
    QNetworkReply::NetworkError networkError() const { return m_networkError; }
    QString description() const;

private:
    CleanerError(Kind kind, QString message, QNetworkReply::NetworkError networkError)
        : m_kind(kind), m_message(std::move(message)), m_networkError(networkError)
    {
    }

    Kind m_kind;
    QString m_message;
    QNetworkReply::NetworkError m_networkError = QNetworkReply::NoError;
};

// Sends one dictation to Anthropic's Messages API with the user's own key and returns the
// rewritten text. A value type: it holds the key, the model identifier and the timeout,
// and nothing that changes, so concurrent calls are independent and a Cleaner may be
// dropped while its request runs.
//
// Main thread only (it uses the application's QNetworkAccessManager). Never retries.
// Neither the key nor the text is ever logged.
class Cleaner final
{
public:
    using Result = std::variant<QString, CleanerError>;

    static constexpr std::chrono::milliseconds defaultTimeout{60000};

    Cleaner(QString apiKey, QString model) : m_apiKey(std::move(apiKey)), m_model(std::move(model)) {}

    QString apiKey() const { return m_apiKey; }
    QString model() const { return m_model; }
    // Without a byte in either direction for this long the request fails as timed out.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // The cleaned text; the input text itself when the model returned no text. The system
    // prompt is the cleanup style's instruction; `preferredTerms` is the user's vocabulary
    // as one comma-separated line, passed on only when it is not blank.
    QCoro::Task<Result> clean(QString text, QString systemPrompt, QString preferredTerms) const;

    // Where requests go: ANTHROPIC_BASE_URL (read at each call) or Anthropic's own host,
    // followed by /v1/messages.
    static QUrl endpoint();

private:
    QString m_apiKey;
    QString m_model;
    std::chrono::milliseconds m_timeout = defaultTimeout;
};
