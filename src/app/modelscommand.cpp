#include "modelscommand.h"

#include "console.h"
#include "platform/interruptnotifier.h"
#include "speech/modelstore.h"

#include <QElapsedTimer>

#include <cmath>

namespace {

QString stateText(ModelStore::State state)
{
    switch (state) {
    case ModelStore::State::ready:
        return QStringLiteral("ready");
    case ModelStore::State::downloading:
        return QStringLiteral("downloading");
    case ModelStore::State::missing:
        break;
    }
    return QStringLiteral("missing");
}

int list(const ModelStore &store)
{
    for (WhisperModel model : WhisperModel::allCases()) {
        Console::out(model.rawValue().leftJustified(10) + model.displayName().leftJustified(28)
                     + model.sizeLabel().leftJustified(9) + stateText(store.state(model)));
    }
    return 0;
}

QString bar(const QString &name, double fraction)
{
    constexpr int width = 30;
    const int filled = std::clamp(static_cast<int>(std::lround(fraction * width)), 0, width);
    return QStringLiteral("%1 [%2%3] %4%").arg(name, QString(filled, u'#'), QString(width - filled, u'.'))
        .arg(std::lround(fraction * 100.0), 3);
}

QCoro::Task<int> download(ModelStore &store, const QString &name)
{
    const std::optional<WhisperModel> model = WhisperModel::fromRawValue(name);
    if (!model) {
        QStringList names;
        for (WhisperModel known : WhisperModel::allCases())
            names << known.rawValue();
        Console::err(QStringLiteral("Unknown model \"%1\". Choose one of: %2.").arg(name, names.join(QStringLiteral(", "))));
        co_return 2;
    }
    if (store.isDownloaded(*model)) {
        Console::out(QStringLiteral("%1 is already downloaded: %2").arg(model->displayName(), store.path(*model)));
        co_return 0;
    }

    InterruptNotifier interrupt;
    bool interrupted = false;
    QObject::connect(&interrupt, &InterruptNotifier::interrupted, &store, [&] {
        interrupted = true;
        store.cancel();
    });

    const bool terminal = Console::errIsTerminal();
    QElapsedTimer redraw;
    redraw.start();
    const QMetaObject::Connection progress = QObject::connect(&store, &ModelStore::progressChanged, &store, [&] {
        // A terminal needs no more than a few frames a second.
        if (terminal && redraw.elapsed() >= 100) {
            redraw.restart();
            Console::errStatus(bar(model->displayName(), store.progress()));
        }
    });
    if (terminal)
        Console::errStatus(bar(model->displayName(), 0.0));

    co_await store.download(*model);
    QObject::disconnect(progress);
    if (terminal) {
        // The throttle may have skipped the last report; the bar ends where the download did.
        Console::errStatus(bar(model->displayName(), store.progress()));
        Console::errStatusDone();
    }

    if (interrupted) {
        Console::err(QStringLiteral("Download cancelled."));
        co_return 130;
    }
    if (!store.isDownloaded(*model)) {
        Console::err(store.lastError().value_or(QStringLiteral("Another model is downloading; try again when it is done.")));
        co_return 1;
    }
    Console::out(QStringLiteral("Downloaded %1 to %2").arg(model->displayName(), store.path(*model)));
    co_return 0;
}

} // namespace

namespace ModelsCommand {

QString usage()
{
    return QStringLiteral("  murmel models                       the speech models and whether each is ready\n"
                          "  murmel models download NAME         download and verify one (base.en, base, small, large-v3)");
}

QCoro::Task<int> run(QStringList arguments, ModelStore &store)
{
    if (arguments.isEmpty() || (arguments.size() == 1 && arguments.first() == u"list"))
        co_return list(store);
    if (arguments.size() == 2 && arguments.first() == u"download")
        co_return co_await download(store, arguments.at(1));
    Console::err(QStringLiteral("Usage:\n") + usage());
    co_return 2;
}

} // namespace ModelsCommand
