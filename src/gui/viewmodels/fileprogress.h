#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

// What the file screen shows of a run under way: the engine's progress, thinned to what a
// screen can redraw and moved on smoothly between reports, and the words recognised so far.
// The engine reports far more often than a screen can show; the intervals bound the redraws.
// Main thread only.
class FileProgress final : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The file screen's model owns its progress")
    // The engine's last accepted report, 0 to 1; 1 once done.
    Q_PROPERTY(double fraction READ fraction NOTIFY fractionChanged)
    // Progress per second, blended over the reports; 0 until two reports allow a measurement.
    Q_PROPERTY(double rate READ rate NOTIFY rateChanged)
    // What has been recognised so far, published at most five times a second.
    Q_PROPERTY(QString text READ text NOTIFY textChanged)

public:
    // Seconds on a clock that never goes back; only differences between its readings count.
    using Clock = std::function<double()>;

    static constexpr double fractionInterval = 0.1;
    static constexpr double textInterval = 0.2;
    // Reports closer than this to the last rise measure noise rather than a rate.
    static constexpr double shortestRateInterval = 0.05;
    // How far the shown figure may run ahead of the engine's last report.
    static constexpr double smoothingLead = 0.05;

    // A steady clock when `clock` is empty.
    explicit FileProgress(Clock clock, QObject *parent = nullptr);

    double fraction() const { return m_fraction; }
    double rate() const { return m_rate; }
    QString text() const { return m_text; }

    // Back to nothing heard, for the next file.
    void reset();
    // The moment the engine starts: the first rate is measured from here, so it includes the
    // model's preparation and the smoothed figure starts cautiously rather than racing ahead.
    void start();
    // One engine report. Reports closer than fractionInterval to the last accepted one are
    // dropped unless they reach 1.
    void update(double fraction);
    // Adds a recognised piece; published when textInterval has passed since the last
    // publication, else held for the next piece. Held text is never lost: the finished
    // transcript is shown from the segments.
    void append(const QString &piece);

    // The clock's reading, for the screen to pass to smoothed() on every frame. With reduced
    // motion the screen shows `fraction` instead, as last reported.
    Q_INVOKABLE double now() const;
    // The figure to show at time `at`: the last report, extrapolated at `rate` by at most
    // smoothingLead and never past 1. A time before the last rise shows the report.
    Q_INVOKABLE double smoothed(double at) const;

Q_SIGNALS:
    void fractionChanged();
    void rateChanged();
    void textChanged();

private:
    void setFraction(double fraction);
    void setRate(double rate);
    void setText(const QString &text);

    Clock m_clock;
    double m_fraction = 0.0;
    double m_rate = 0.0;
    QString m_text;
    // Everything recognised so far, of which m_text is the last publication.
    QString m_heard;
    // Moments on m_clock; nothing stands for "never", so the first report always passes.
    std::optional<double> m_risenAt; // the last rise, or the start of the run
    std::optional<double> m_fractionShownAt;
    std::optional<double> m_textShownAt;
};
