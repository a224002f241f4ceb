#include "cli/modeldownload.h"

#include "cli/progressline.h"
#include "core/speech/modelstore.h"
#include "platform/session/interruptnotifier.h"

namespace ModelDownload {

QCoro::Task<Outcome> run(ModelStore &store, WhisperModel model, bool replace)
{
    InterruptNotifier interrupt;
    bool interrupted = false;
    QObject::connect(&interrupt, &InterruptNotifier::interrupted, &store, [&] {
        interrupted = true;
        store.cancel();
    });

    ProgressLine line(model.displayName());
    line.update(0.0);
    const QMetaObject::Connection progress = QObject::connect(&store, &ModelStore::progressChanged, &store,
                                                              [&] { line.update(store.progress()); });
    auto download = store.download(model, replace);
    co_await std::move(download);
    QObject::disconnect(progress);
    // The throttle may have skipped the last report; the bar ends where the download did.
    line.finish(store.progress());

    if (interrupted)
        co_return Outcome::interrupted;
    co_return store.isDownloaded(model) && !store.lastError() ? Outcome::downloaded : Outcome::failed;
}

} // namespace ModelDownload
