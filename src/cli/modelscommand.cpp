#include "cli/modelscommand.h"

#include "cli/modeldownload.h"
#include "core/base/console.h"
#include "core/speech/modelstore.h"


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

QCoro::Task<int> download(ModelStore &store, const QString &name, bool replace)
{
    const std::optional<WhisperModel> model = WhisperModel::fromRawValue(name);
    if (!model) {
        QStringList names;
        for (WhisperModel known : WhisperModel::allCases())
            names << known.rawValue();
        Console::err(QStringLiteral("Unknown model \"%1\". Choose one of: %2.").arg(name, names.join(QStringLiteral(", "))));
        co_return 2;
    }
    if (store.isDownloaded(*model) && !replace) {
        Console::out(QStringLiteral("%1 is already downloaded: %2 (--force downloads it again)")
                         .arg(model->displayName(), store.path(*model)));
        co_return 0;
    }
    auto running = ModelDownload::run(store, *model, replace);
    const ModelDownload::Outcome outcome = co_await std::move(running);
    switch (outcome) {
    case ModelDownload::Outcome::interrupted:
        Console::err(QStringLiteral("Download cancelled."));
        co_return 130;
    case ModelDownload::Outcome::failed:
        Console::err(store.lastError().value_or(QStringLiteral("Another model is downloading; try again when it is done.")));
        co_return 1;
    case ModelDownload::Outcome::downloaded:
        break;
    }
    Console::out(QStringLiteral("Downloaded %1 to %2").arg(model->displayName(), store.path(*model)));
    co_return 0;
}

} // namespace

namespace ModelsCommand {

QString usage()
{
    return QStringLiteral("  murmel models                       the speech models and whether each is ready\n"
                          "  murmel models download NAME         download and verify one (base.en, base, small, large-v3)\n"
                          "  murmel models download NAME --force download it again, replacing a damaged file");
}

QCoro::Task<int> run(QStringList arguments, ModelStore &store)
{
    if (arguments.isEmpty() || (arguments.size() == 1 && arguments.first() == u"list"))
        co_return list(store);
    if (arguments.size() == 2 && arguments.first() == u"download")
        co_return co_await download(store, arguments.at(1), false);
    if (arguments.size() == 3 && arguments.first() == u"download" && arguments.at(2) == u"--force")
        co_return co_await download(store, arguments.at(1), true);
    Console::err(QStringLiteral("Usage:\n") + usage());
    co_return 2;
}

} // namespace ModelsCommand
