#include "gui/viewmodels/permissions.h"

namespace {

bool ask(const Permissions::Probe &probe)
{
    return probe && probe();
}

} // namespace

Permissions::Permissions(Probes probes, QObject *parent)
    : QObject(parent)
    , m_probes(std::move(probes))
    , m_microphone(ask(m_probes.microphone))
    , m_paste(ask(m_probes.paste))
    , m_hotkey(ask(m_probes.hotkey))
{
}

void Permissions::refresh()
{
    const auto update = [this](bool &flag, const Probe &probe, void (Permissions::*changed)()) {
        const bool now = ask(probe);
        if (now == flag)
            return;
        flag = now;
        (this->*changed)();
    };
    update(m_microphone, m_probes.microphone, &Permissions::microphoneAvailableChanged);
    update(m_paste, m_probes.paste, &Permissions::pasteAvailableChanged);
    update(m_hotkey, m_probes.hotkey, &Permissions::hotkeyActiveChanged);
}

void Permissions::grant(Kind which)
{
    if (m_probes.grant)
        m_probes.grant(which);
    refresh();
}
