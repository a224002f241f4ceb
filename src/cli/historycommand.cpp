#include "cli/historycommand.h"

#include "core/base/console.h"
#include "core/base/uuids.h"
#include "core/transcripts/historystore.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

std::optional<QUuid> recordId(const QString &text)
{
    const std::optional<QUuid> id = Uuids::parse(text);
    if (!id)
        Console::err(QStringLiteral("\"%1\" is not a transcript id; `murmel history` lists them.").arg(text));
    return id;
}

// A damaged history file is said plainly, and fails a script that read from it: what was
// shown may not be all there is.
int reportDamage(const HistoryStore &store)
{
    if (store.problem().isEmpty())
        return 0;
    Console::err(store.problem());
    return store.isDamaged() ? 1 : 0;
}

int list(const QStringList &arguments, const HistoryStore &store)
{
    KindFilter filter = KindFilter::all;
    QString query;
    bool json = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u"--json") {
            json = true;
        } else if ((argument == u"--kind" || argument == u"--search") && i + 1 < arguments.size()) {
            const QString value = arguments.at(++i);
            if (argument == u"--search") {
                query = value;
            } else if (value == u"dictation") {
                filter = KindFilter::dictation;
            } else if (value == u"file") {
                filter = KindFilter::file;
            } else {
                Console::err(QStringLiteral("Unknown kind \"%1\". Choose dictation or file.").arg(value));
                return 2;
            }
        } else {
            Console::err(QStringLiteral("Usage:\n") + HistoryCommand::usage());
            return 2;
        }
    }

    const QList<TranscriptRecord> shown = store.filtered(query, filter);
    if (json) {
        QJsonArray records;
        for (const TranscriptRecord &record : shown) {
            QJsonObject object = record.toJson();
            const QDateTime time = record.dateTime();
            object.insert(QStringLiteral("time"), time.isValid() ? QJsonValue(time.toString(Qt::ISODateWithMs)) : QJsonValue());
            records.append(object);
        }
        Console::write(QString::fromUtf8(QJsonDocument(records).toJson(QJsonDocument::Indented)));
        return 0;
    }
    for (const TranscriptRecord &record : shown) {
        const QDateTime time = record.dateTime();
        const QString when = time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                            : QStringLiteral("unknown date").leftJustified(16);
        Console::out(Uuids::canonical(record.id) + QStringLiteral("  ") + when + QStringLiteral("  ")
                     + TranscriptRecord::kindName(record.kind).leftJustified(9) + QStringLiteral("  ")
                     + Console::printable(record.title));
    }
    return 0;
}

} // namespace

namespace HistoryCommand {

QString usage()
{
    return QStringLiteral("  murmel history [--kind dictation|file] [--search TEXT] [--json]\n"
                          "                                      the stored transcripts, newest first\n"
                          "  murmel history show ID              one transcript's text\n"
                          "  murmel history delete ID            remove one transcript");
}

int run(const QStringList &arguments, HistoryStore &store)
{
    const QString verb = arguments.value(0);
    if ((verb == u"show" || verb == u"delete") && arguments.size() == 2) {
        const std::optional<QUuid> id = recordId(arguments.at(1));
        if (!id)
            return 2;
        const std::optional<TranscriptRecord> record = store.record(*id);
        if (!record) {
            Console::err(QStringLiteral("No transcript has the id %1.").arg(Uuids::canonical(*id)));
            return 1;
        }
        if (verb == u"show") {
            Console::out(Console::printable(record->text, true));
        } else if (!store.remove(*id)) {
            Console::err(store.problem());
            return 1;
        }
        return reportDamage(store);
    }
    const int listed = list(arguments, store);
    return listed == 0 ? reportDamage(store) : listed;
}

} // namespace HistoryCommand
