#include "cli/configcommand.h"

#include "core/base/console.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/text/customization.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace {

const QString notSet = QStringLiteral("(not set)");

QString typeName(PreferenceType type)
{
    switch (type) {
    case PreferenceType::boolean:
        return QStringLiteral("a boolean (true or false)");
    case PreferenceType::integer:
        return QStringLiteral("an integer");
    case PreferenceType::string:
        return QStringLiteral("a string in double quotes");
    case PreferenceType::dictionary:
        return QStringLiteral("a JSON object");
    case PreferenceType::data:
        return QStringLiteral("a JSON array");
    }
    return {};
}

// One JSON value as compact text, whatever its type (the JSON document API only takes
// objects and arrays at the top).
QString toText(const QJsonValue &value)
{
    if (value.isUndefined())
        return notSet;
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

std::optional<QJsonValue> parse(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson('[' + text.toUtf8() + ']', &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1)
        return std::nullopt;
    return document.array().first();
}

// A data value shows as the JSON it holds; one that holds no JSON as base64.
QJsonValue readable(const PreferenceKey &key, const QJsonValue &value)
{
    if (key.type != PreferenceType::data || value.isUndefined())
        return value;
    const std::optional<QByteArray> bytes = Preferences::decodeData(value);
    if (!bytes)
        return value;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (document.isArray())
        return document.array();
    if (document.isObject())
        return document.object();
    return QString::fromLatin1(bytes->toBase64());
}

const PreferenceKey *lookUp(const QString &name)
{
    const PreferenceKey *key = PreferenceKeys::find(name);
    if (!key) {
        QStringList names;
        for (const PreferenceKey &known : PreferenceKeys::all())
            names << known.name;
        Console::err(QStringLiteral("Unknown preference \"%1\". Known preferences: %2.").arg(name, names.join(QStringLiteral(", "))));
    }
    return key;
}

// Whether `value` selects one of the user's own cleanup styles.
bool selectsCustomStyle(const Preferences &preferences, const QString &value)
{
    for (const CustomStyle &style : Settings::customStyles(preferences)) {
        if (Settings::customSelection(style.id) == value)
            return true;
    }
    return false;
}

// Why `value` cannot be stored under `key`, or nothing when it can.
std::optional<QString> refusal(const PreferenceKey &key, const QJsonValue &value, const Preferences &preferences)
{
    const QString wrongType = QStringLiteral("\"%1\" takes %2.").arg(key.name, typeName(key.type));
    switch (key.type) {
    case PreferenceType::boolean:
        if (!value.isBool())
            return wrongType;
        break;
    case PreferenceType::integer: {
        const double number = value.toDouble(-1.0);
        if (!value.isDouble() || number != static_cast<double>(static_cast<qint64>(number)))
            return wrongType;
        if (key.name == PreferenceKeys::retentionDays
            && !PreferenceKeys::retentionChoices().contains(static_cast<qint64>(number))) {
            QStringList days;
            for (const int choice : PreferenceKeys::retentionChoices())
                days << QString::number(choice);
            return QStringLiteral("\"%1\" takes one of: %2 (0 keeps transcripts forever).")
                .arg(key.name, days.join(QStringLiteral(", ")));
        }
        break;
    }
    case PreferenceType::string:
        if (!value.isString())
            return wrongType;
        if (!key.choices.isEmpty() && !key.choices.contains(value.toString())
            && !(key.name == PreferenceKeys::cleanupMode && selectsCustomStyle(preferences, value.toString())))
            return QStringLiteral("\"%1\" takes one of: %2.").arg(key.name, key.choices.join(QStringLiteral(", ")));
        break;
    case PreferenceType::dictionary:
        if (!value.isObject())
            return wrongType;
        if (key.name == PreferenceKeys::dictateHotkey) {
            const QJsonObject hotkey = value.toObject();
            if (!hotkey.value(u"keyCode").isDouble() || !hotkey.value(u"modifiers").isDouble()
                || !hotkey.value(u"display").isString())
                return QStringLiteral("\"dictateHotkey\" takes {\"keyCode\": integer, \"modifiers\": integer, \"display\": string}.");
        }
        break;
    case PreferenceType::data:
        if (!value.isArray())
            return wrongType;
        break;
    }
    return std::nullopt;
}

int list(const Preferences &preferences)
{
    const QJsonObject stored = preferences.stored();
    qsizetype width = 0;
    for (const PreferenceKey &key : PreferenceKeys::all())
        width = std::max(width, key.name.size());
    for (const PreferenceKey &key : PreferenceKeys::all()) {
        const QJsonValue effective = preferences.effective(key.name);
        QString note;
        if (!stored.contains(key.name))
            note = key.defaultValue.isUndefined() ? QString() : QStringLiteral("  (default)");
        else if (effective != stored.value(key.name))
            note = QStringLiteral("  (default; the stored value has the wrong type)");
        Console::out(key.name.leftJustified(width + 2) + toText(readable(key, effective)) + note);
    }
    return 0;
}

int get(const Preferences &preferences, const QString &name)
{
    const PreferenceKey *key = lookUp(name);
    if (!key)
        return 2;
    const QJsonValue value = preferences.effective(name);
    Console::out(value.isUndefined() ? QStringLiteral("null") : toText(readable(*key, value)));
    return 0;
}

int set(Preferences &preferences, const QString &name, const QString &text)
{
    const PreferenceKey *key = lookUp(name);
    if (!key)
        return 2;
    const std::optional<QJsonValue> value = parse(text);
    if (!value) {
        Console::err(QStringLiteral("%1 is not a JSON value. Strings need double quotes, for example: "
                                    "murmel config set language '\"de\"'").arg(text));
        return 2;
    }
    if (const std::optional<QString> reason = refusal(*key, *value, preferences)) {
        Console::err(*reason);
        return 2;
    }
    QString error;
    bool written = false;
    switch (key->type) {
    case PreferenceType::boolean:
        written = preferences.setBoolean(name, value->toBool(), &error);
        break;
    case PreferenceType::integer:
        written = preferences.setInteger(name, static_cast<qint64>(value->toDouble()), &error);
        break;
    case PreferenceType::string:
        written = preferences.setString(name, value->toString(), &error);
        break;
    case PreferenceType::dictionary:
        written = preferences.setDictionary(name, value->toObject(), &error);
        break;
    case PreferenceType::data:
        written = preferences.setData(name, QJsonDocument(value->toArray()).toJson(QJsonDocument::Compact), &error);
        break;
    }
    if (!written) {
        Console::err(error);
        return 1;
    }
    return 0;
}

int unset(Preferences &preferences, const QString &name)
{
    if (!lookUp(name))
        return 2;
    QString error;
    if (!preferences.remove(name, &error)) {
        Console::err(error);
        return 1;
    }
    return 0;
}

} // namespace

namespace ConfigCommand {

QString usage()
{
    return QStringLiteral("  murmel config list                  every preference, its value, and whether it is the default\n"
                          "  murmel config get KEY               the value in effect\n"
                          "  murmel config set KEY VALUE         VALUE is JSON: true, 30, '\"de\"'\n"
                          "  murmel config unset KEY             back to the default");
}

int run(const QStringList &arguments, Preferences &preferences)
{
    const QString verb = arguments.value(0, QStringLiteral("list"));
    // What is shown then is the defaults, not the file: said, and a script is told.
    const auto withProblem = [&preferences](int code) {
        const QString problem = preferences.problem();
        if (code != 0 || problem.isEmpty())
            return code;
        Console::err(problem);
        return 1;
    };
    if (verb == u"list" && arguments.size() <= 1)
        return withProblem(list(preferences));
    if (verb == u"get" && arguments.size() == 2)
        return withProblem(get(preferences, arguments.at(1)));
    if (verb == u"set" && arguments.size() == 3)
        return set(preferences, arguments.at(1), arguments.at(2));
    if (verb == u"unset" && arguments.size() == 2)
        return unset(preferences, arguments.at(1));
    Console::err(QStringLiteral("Usage:\n") + usage());
    return 2;
}

} // namespace ConfigCommand
