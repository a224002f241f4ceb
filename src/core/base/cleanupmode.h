#pragma once

#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// A built-in voice for the cleanup model; `off` keeps the raw transcript.
class CleanupMode final
{
public:
    enum Case { off, clean, slack, email, xpost, bullets, prompt };

    constexpr CleanupMode(Case value) : m_case(value) {}

    // In picker order.
    static QList<CleanupMode> allCases();
    static std::optional<CleanupMode> fromRawValue(QStringView rawValue);

    constexpr Case value() const { return m_case; }
    QString rawValue() const;
    QString label() const;
    bool isActive() const { return m_case != off; }
    // The instruction sent as the system prompt; empty for `off`.
    QString systemPrompt() const;

    friend constexpr bool operator==(CleanupMode, CleanupMode) = default;

private:
    Case m_case;
};

// A voice of the user's own: a name for the picker and an instruction for the model.
struct CustomStyle
{
    QUuid id;
    QString name;
    QString prompt;

    friend bool operator==(const CustomStyle &, const CustomStyle &) = default;
};
