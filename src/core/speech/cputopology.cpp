#include "core/speech/cputopology.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {

std::optional<QByteArray> readTrimmed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll().trimmed();
}

// Counts the CPUs of a kernel CPU list such as "0-3,8,10-11".
std::optional<int> countCpuList(const QByteArray &list)
{
    if (list.isEmpty())
        return std::nullopt;
    int count = 0;
    for (const QByteArray &part : list.split(',')) {
        const QList<QByteArray> bounds = part.split('-');
        bool firstOk = false;
        bool lastOk = false;
        const int first = bounds.value(0).toInt(&firstOk);
        const int last = bounds.size() == 2 ? bounds.at(1).toInt(&lastOk) : first;
        if (!firstOk || (bounds.size() == 2 && !lastOk) || bounds.size() > 2 || last < first)
            return std::nullopt;
        count += last - first + 1;
    }
    return count;
}

} // namespace

namespace CpuTopology {

std::optional<int> performanceCores(const QString &sysfsRoot)
{
    const auto list = readTrimmed(sysfsRoot + QStringLiteral("/devices/cpu_core/cpus"));
    if (!list)
        return std::nullopt;
    const auto count = countCpuList(*list);
    return count && *count >= 1 ? count : std::nullopt;
}

std::optional<int> physicalCores(const QString &sysfsRoot)
{
    static const QRegularExpression cpuName(QStringLiteral("^cpu\\d+$"));
    const QDir cpus(sysfsRoot + QStringLiteral("/devices/system/cpu"));
    QSet<QByteArray> cores;
    for (const QString &name : cpus.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!cpuName.match(name).hasMatch())
            continue;
        const QString topology = cpus.filePath(name) + QStringLiteral("/topology/");
        const auto package = readTrimmed(topology + QStringLiteral("physical_package_id"));
        const auto core = readTrimmed(topology + QStringLiteral("core_id"));
        if (package && core)
            cores.insert(*package + ':' + *core);
    }
    if (cores.isEmpty())
        return std::nullopt;
    return static_cast<int>(cores.size());
}

} // namespace CpuTopology
