#include "shell/muraction.h"

MurAction::MurAction(const QString &text, QObject *parent)
    : QObject(parent)
    , m_text(text)
{
}

void MurAction::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    Q_EMIT changed();
}

void MurAction::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    Q_EMIT changed();
}

void MurAction::trigger()
{
    if (m_enabled)
        Q_EMIT triggered();
}
