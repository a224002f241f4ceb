#include "platform/session/gnomecustomshortcut.h"

#include "core/base/logging.h"
#include "core/dictation/desktopshortcut.h"

#include <QCoroProcess>
#include <QProcess>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString mediaKeysSchema = u"org.gnome.settings-daemon.plugins.media-keys"_s;
const QString listKey = u"custom-keybindings"_s;
const QString entryName = u"Murmel dictation"_s;

QString entrySchema()
{
    return mediaKeysSchema + u".custom-keybinding:"_s + GnomeCustomShortcut::entryPath();
}

void skipSpace(QStringView text, qsizetype &position)
{
    while (position < text.size() && text[position].isSpace())
        ++position;
}

// One quoted string starting at `position`, which ends up past its closing quote.
std::optional<QString> readString(QStringView text, qsizetype &position)
{
    if (position >= text.size() || (text[position] != u'\'' && text[position] != u'"'))
        return std::nullopt;
    const QChar quote = text[position++];
    QString value;
    while (position < text.size()) {
        const QChar character = text[position++];
        if (character == quote)
            return value;
        // A backslash makes the next character stand for itself: the quotes and the backslash
        // are all Murmel writes escaped, and dconf paths and accelerators carry nothing else.
        if (character == u'\\') {
            if (position >= text.size())
                return std::nullopt;
            value += text[position++];
        } else {
            value += character;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> GVariantText::string(QStringView text)
{
    qsizetype position = 0;
    skipSpace(text, position);
    std::optional<QString> value = readString(text, position);
    skipSpace(text, position);
    if (position != text.size())
        return std::nullopt;
    return value;
}

std::optional<QStringList> GVariantText::stringArray(QStringView text)
{
    qsizetype position = 0;
    skipSpace(text, position);
    // An empty array carries its type, since nothing inside tells it.
    if (text.sliced(position).startsWith(u"@as"))
        position += 3;
    skipSpace(text, position);
    if (position >= text.size() || text[position++] != u'[')
        return std::nullopt;
    QStringList values;
    skipSpace(text, position);
    if (position < text.size() && text[position] == u']') {
        ++position;
    } else {
        while (true) {
            std::optional<QString> value = readString(text, position);
            if (!value)
                return std::nullopt;
            values.append(std::move(*value));
            skipSpace(text, position);
            if (position >= text.size())
                return std::nullopt;
            const QChar separator = text[position++];
            if (separator == u']')
                break;
            if (separator != u',')
                return std::nullopt;
            skipSpace(text, position);
        }
    }
    skipSpace(text, position);
    if (position != text.size())
        return std::nullopt;
    return values;
}

QString GVariantText::literal(QStringView value)
{
    QString text = value.toString();
    text.replace(u'\\', u"\\\\"_s).replace(u'\'', u"\\'"_s);
    return u'\'' + text + u'\'';
}

GnomeCustomShortcut::GnomeCustomShortcut(std::chrono::milliseconds timeout, QObject *parent)
    : QObject(parent)
    , m_timeout(timeout)
{}

QString GnomeCustomShortcut::entryPath()
{
    return u"/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/murmel/"_s;
}

QCoro::Task<bool> GnomeCustomShortcut::isSupported()
{
    auto listing = gsettings({u"list-keys"_s, mediaKeysSchema});
    const std::optional<QByteArray> keys = co_await std::move(listing);
    if (!keys)
        co_return false;
    if (!QString::fromUtf8(*keys).split(u'\n').contains(listKey)) {
        qCWarning(lcPlatform) << "GNOME's media-keys settings have no list of custom shortcuts";
        co_return false;
    }
    co_return true;
}

QCoro::Task<std::optional<QString>> GnomeCustomShortcut::binding()
{
    auto reading = readList();
    const std::optional<QStringList> list = co_await std::move(reading);
    if (!list || !list->contains(entryPath()))
        co_return std::nullopt;
    auto getting = gsettings({u"get"_s, entrySchema(), u"binding"_s});
    const std::optional<QByteArray> text = co_await std::move(getting);
    if (!text)
        co_return std::nullopt;
    std::optional<QString> accelerator = GVariantText::string(QString::fromUtf8(*text));
    if (!accelerator)
        qCWarning(lcPlatform) << "GNOME's binding of Murmel's shortcut is not a string:" << *text;
    co_return accelerator;
}

QCoro::Task<bool> GnomeCustomShortcut::set(Shortcut shortcut, QString command)
{
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);

    const QString accelerator = DesktopShortcut::gtkAccelerator(shortcut);
    if (accelerator.isEmpty()) {
        qCWarning(lcPlatform) << "Key" << shortcut.keyCode << "has no name GNOME could bind";
        co_return false;
    }
    // The entry is complete before it is listed, so GNOME never binds a half-written one.
    const std::pair<QString, QString> keys[] = {
        {u"name"_s, entryName}, {u"command"_s, command}, {u"binding"_s, accelerator}};
    for (const auto &[key, value] : keys) {
        auto writing = gsettings({u"set"_s, entrySchema(), key, GVariantText::literal(value)});
        if (!co_await std::move(writing))
            co_return false;
    }

    auto reading = readList();
    std::optional<QStringList> list = co_await std::move(reading);
    if (!list)
        co_return false;
    if (!list->contains(entryPath())) {
        list->append(entryPath());
        auto listing = writeList(*list);
        if (!co_await std::move(listing))
            co_return false;
    }

    // A write that gsettings accepted may still not have reached the backend; only what
    // reads back counts as done.
    auto checking = binding();
    const std::optional<QString> written = co_await std::move(checking);
    if (written != accelerator) {
        qCWarning(lcPlatform) << "GNOME's settings do not show Murmel's shortcut after writing it";
        co_return false;
    }
    co_return true;
}

QCoro::Task<bool> GnomeCustomShortcut::remove()
{
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);

    auto reading = readList();
    std::optional<QStringList> list = co_await std::move(reading);
    if (!list)
        co_return false;
    if (list->removeAll(entryPath()) > 0) {
        auto listing = writeList(*list);
        if (!co_await std::move(listing))
            co_return false;
    }
    // Reset only once unlisted, for the same reason set() lists last.
    auto resetting = gsettings({u"reset-recursively"_s, entrySchema()});
    if (!co_await std::move(resetting))
        co_return false;

    auto checking = readList();
    const std::optional<QStringList> after = co_await std::move(checking);
    if (!after)
        co_return false;
    if (after->contains(entryPath())) {
        qCWarning(lcPlatform)
            << "GNOME's list of custom shortcuts still holds Murmel's after removing it";
        co_return false;
    }
    co_return true;
}

QCoro::Task<std::optional<QByteArray>> GnomeCustomShortcut::gsettings(QStringList arguments)
{
    QProcess process;
    process.setProgram(u"gsettings"_s);
    process.setArguments(arguments);
    auto starting = qCoro(process).start(QIODevice::ReadOnly, m_timeout);
    if (!co_await std::move(starting)) {
        qCWarning(lcPlatform) << "Could not run gsettings:" << process.errorString();
        co_return std::nullopt;
    }
    auto finishing = qCoro(process).waitForFinished(m_timeout);
    if (!co_await std::move(finishing) && process.state() != QProcess::NotRunning) {
        qCWarning(lcPlatform).noquote()
            << "gsettings" << arguments.first() << "gave no answer within" << m_timeout.count()
            << "ms and was stopped";
        process.kill();
        auto dying = qCoro(process).waitForFinished(m_timeout);
        co_await std::move(dying);
        co_return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qCWarning(lcPlatform).noquote()
            << "gsettings" << arguments.first()
            << "failed:" << QString::fromUtf8(process.readAllStandardError()).trimmed();
        co_return std::nullopt;
    }
    co_return process.readAllStandardOutput();
}

QCoro::Task<std::optional<QStringList>> GnomeCustomShortcut::readList()
{
    auto getting = gsettings({u"get"_s, mediaKeysSchema, listKey});
    const std::optional<QByteArray> text = co_await std::move(getting);
    if (!text)
        co_return std::nullopt;
    std::optional<QStringList> list = GVariantText::stringArray(QString::fromUtf8(*text));
    if (!list)
        qCWarning(lcPlatform) << "GNOME's list of custom shortcuts cannot be read:" << *text;
    co_return list;
}

QCoro::Task<bool> GnomeCustomShortcut::writeList(QStringList paths)
{
    QStringList literals;
    for (const QString &path : paths)
        literals.append(GVariantText::literal(path));
    auto writing =
        gsettings({u"set"_s, mediaKeysSchema, listKey, u'[' + literals.join(u", "_s) + u']'});
    co_return (co_await std::move(writing)).has_value();
}
