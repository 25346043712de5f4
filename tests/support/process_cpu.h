#pragma once

#include <QDir>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <QtGlobal>
#include <unistd.h>

namespace vistrale::test {

// User plus system CPU time a process has used so far, in seconds, from /proc; -1 when
// it cannot be read. Benchmarks take the difference over a measured interval.
inline double cpuSecondsOf(const QString& statPath)
{
    QFile stat(statPath);
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

inline double cpuSeconds(qint64 pid)
{
    return cpuSecondsOf(pid > 0 ? QString("/proc/%1/stat").arg(pid) : QString("/proc/self/stat"));
}

// The same for each thread of this process, summed by thread name.
inline QMap<QString, double> threadCpuSeconds()
{
    QMap<QString, double> seconds;
    const QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        const double used = cpuSecondsOf(tasks.filePath(tid + "/stat"));
        if (used >= 0)
            seconds[QString::fromUtf8(comm.readAll()).trimmed()] += used;
    }
    return seconds;
}

} // namespace vistrale::test
