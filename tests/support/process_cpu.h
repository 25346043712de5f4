#pragma once

#include <QFile>
#include <QStringList>
#include <QtGlobal>
#include <unistd.h>

namespace vistrale::test {

// User plus system CPU time a process has used so far, in seconds, from /proc; -1 when
// it cannot be read. Benchmarks take the difference over a measured interval.
inline double cpuSeconds(qint64 pid)
{
    QFile stat(pid > 0 ? QString("/proc/%1/stat").arg(pid) : QString("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(stat.readAll());
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace vistrale::test
