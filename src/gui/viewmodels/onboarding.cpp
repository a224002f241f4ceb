#include "gui/viewmodels/onboarding.h"

#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "gui/viewmodels/permissions.h"
#include "gui/viewmodels/settingsmodel.h"

Onboarding::Onboarding(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_c(std::move(collaborators))
    , m_showing(!m_c.preferences.booleanOrDefault(PreferenceKeys::hasOnboarded))
{
    m_finishTitle = finishTitle();
    m_poll.setInterval(pollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &Onboarding::poll);
    if (m_showing)
        m_poll.start();

    connect(&m_c.settings, &SettingsModel::whisperModelChanged, this, &Onboarding::followFinishTitle);
    connect(&m_c.models, &ModelStore::downloadFinished, this, &Onboarding::followFinishTitle);
    connect(&m_c.models, &ModelStore::downloadingChanged, this, &Onboarding::followFinishTitle);
}

QString Onboarding::finishTitle() const
{
    const WhisperModel chosen = ModelSelection::fileTranscriptionModel(m_c.preferences);
    return m_c.models.state(chosen) == ModelStore::State::ready ? tr("Finish") : tr("Skip for now");
}

void Onboarding::next()
{
    setStep(qMin(m_step + 1, lastStep));
}

void Onboarding::back()
{
    setStep(qMax(m_step - 1, 0));
}

void Onboarding::finish()
{
    if (!m_showing)
        return;
    end();
    if (m_c.announceReady)
        m_c.announceReady();
}

void Onboarding::dismiss()
{
    if (m_showing)
        end();
}

void Onboarding::setOnScreen(bool onScreen)
{
    m_onScreen = onScreen;
    if (m_showing && m_onScreen)
        m_poll.start();
    else
        m_poll.stop();
}

void Onboarding::end()
{
    // A preference that cannot be written still ends the flow for this run; the next
    // start shows it again rather than losing the user here.
    m_c.preferences.setBoolean(PreferenceKeys::hasOnboarded, true);
    m_poll.stop();
    m_showing = false;
    Q_EMIT showingChanged();
    Q_EMIT done();
}

void Onboarding::poll()
{
    m_c.permissions.refresh();
    if (!m_c.permissions.hotkeyActive() && m_c.ensureHotkey) {
        m_c.ensureHotkey();
        m_c.permissions.refresh();
    }
}

void Onboarding::setStep(int step)
{
    if (step == m_step)
        return;
    m_step = step;
    Q_EMIT stepChanged();
}

void Onboarding::followFinishTitle()
{
    const QString now = finishTitle();
    if (now == m_finishTitle)
        return;
    m_finishTitle = now;
    Q_EMIT finishTitleChanged();
}
