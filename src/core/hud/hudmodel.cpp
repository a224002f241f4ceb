#include "core/hud/hudmodel.h"

#include <QMetaEnum>

void HUDModel::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

QString HUDModel::stateName() const
{
    return QString::fromLatin1(QMetaEnum::fromType<State>().valueToKey(int(m_state)));
}

void HUDModel::setLevel(float level)
{
    // Exact comparison on purpose: the meter repeats exact values (silence is 0) and any
    // other change has to reach the bars.
    if (m_level == level)
        return;
    m_level = level;
    Q_EMIT levelChanged();
}

void HUDModel::setConfirmText(const QString &text)
{
    if (m_confirmText == text)
        return;
    m_confirmText = text;
    Q_EMIT confirmTextChanged();
}
