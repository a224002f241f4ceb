#include "gui/viewmodels/fileprogress.h"

#include <algorithm>
#include <chrono>

namespace {

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

FileProgress::FileProgress(Clock clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? std::move(clock) : Clock(&steadySeconds))
{
}

void FileProgress::reset()
{
    setFraction(0.0);
    setRate(0.0);
    setText({});
    m_heard.clear();
    m_risenAt.reset();
    m_fractionShownAt.reset();
    m_textShownAt.reset();
}

void FileProgress::start()
{
    m_risenAt = m_clock();
}

void FileProgress::update(double fraction)
{
    const double now = m_clock();
    if (fraction < 1.0 && m_fractionShownAt && now - *m_fractionShownAt <= fractionInterval)
        return;
    m_fractionShownAt = now;

    const bool rises = m_fraction < fraction;
    if (rises && m_risenAt && now - *m_risenAt > shortestRateInterval) {
        double rate = (fraction - m_fraction) / (now - *m_risenAt);
        // The newest measurement weighs less than the history, so the extrapolated figure
        // does not jump with the engine's uneven steps.
        if (m_rate != 0.0)
            rate = 0.4 * rate + 0.6 * m_rate;
        setRate(rate);
    }
    if (rises || !m_risenAt)
        m_risenAt = now;
    setFraction(fraction);
}

void FileProgress::append(const QString &piece)
{
    const QString trimmed = piece.trimmed();
    if (trimmed.isEmpty())
        return;
    if (!m_heard.isEmpty())
        m_heard += u' ';
    m_heard += trimmed;

    const double now = m_clock();
    if (!m_textShownAt || now - *m_textShownAt > textInterval) {
        m_textShownAt = now;
        setText(m_heard);
    }
}

double FileProgress::now() const
{
    return m_clock();
}

double FileProgress::smoothed(double at) const
{
    if (!(m_rate > 0.0) || !m_risenAt)
        return m_fraction;
    const double elapsed = std::max(0.0, at - *m_risenAt);
    return std::min({m_fraction + smoothingLead, m_fraction + m_rate * elapsed, 1.0});
}

void FileProgress::setFraction(double fraction)
{
    if (m_fraction == fraction)
        return;
    m_fraction = fraction;
    Q_EMIT fractionChanged();
}

void FileProgress::setRate(double rate)
{
    if (m_rate == rate)
        return;
    m_rate = rate;
    Q_EMIT rateChanged();
}

void FileProgress::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    Q_EMIT textChanged();
}
