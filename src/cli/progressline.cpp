#include "cli/progressline.h"

#include "core/base/console.h"

#include <cmath>

ProgressLine::ProgressLine(QString label)
    : m_label(std::move(label))
    , m_terminal(Console::errIsTerminal())
{
}

ProgressLine::~ProgressLine()
{
    if (m_open)
        Console::errStatusDone();
}

QString ProgressLine::bar(const QString &label, double fraction)
{
    constexpr int width = 30;
    const int filled = std::clamp(static_cast<int>(std::lround(fraction * width)), 0, width);
    return QStringLiteral("%1 [%2%3] %4%")
        .arg(label, QString(filled, u'#'), QString(width - filled, u'.'))
        .arg(std::lround(fraction * 100.0), 3);
}

void ProgressLine::update(double fraction)
{
    if (!m_terminal)
        return;
    if (m_open && m_sinceDraw.isValid() && m_sinceDraw.elapsed() < 100)
        return;
    m_sinceDraw.start();
    m_open = true;
    Console::errStatus(bar(m_label, fraction));
}

void ProgressLine::finish(double fraction)
{
    if (!m_terminal)
        return;
    Console::errStatus(bar(m_label, fraction));
    Console::errStatusDone();
    m_open = false;
}
