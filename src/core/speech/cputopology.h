#pragma once

#include <QString>

#include <optional>

// Processor core counts from sysfs. `sysfsRoot` is "/sys" except in tests. Nothing when
// the information is missing or unreadable.
namespace CpuTopology {

// The performance cores of a hybrid processor: the CPUs listed in
// devices/cpu_core/cpus. Absent on processors with one kind of core.
std::optional<int> performanceCores(const QString &sysfsRoot = QStringLiteral("/sys"));

// Physical cores: distinct (package, core) pairs under devices/system/cpu/cpu*/topology,
// so hyper-threads count once.
std::optional<int> physicalCores(const QString &sysfsRoot = QStringLiteral("/sys"));

} // namespace CpuTopology
