#pragma once

#include <QList>
#include <QString>

#include <optional>

// A language the engine knows: "auto" (detect) followed by whisper's 99 codes in the
// engine's own order. A value type identified by its code.
class WhisperLanguage final
{
public:
    static QList<WhisperLanguage> allCases();
    static std::optional<WhisperLanguage> fromRawValue(QStringView code);
    static WhisperLanguage automatic();

    QString rawValue() const;
    // The English name in lower case ("english", "hebrew"); "auto" for detection.
    QString name() const;
    // The code to hand whisper.cpp: its own table spells Hebrew "he", not "iw".
    QByteArray engineCode() const;

    friend bool operator==(WhisperLanguage, WhisperLanguage) = default;

private:
    explicit WhisperLanguage(int index) : m_index(index) {}
    int m_index;
};
