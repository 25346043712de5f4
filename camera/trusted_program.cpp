#include "camera/trusted_program.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace vistrale {
namespace {

// What is wrong with one step of the path, or an empty text.
QString stepProblem(const QString& step, uid_t owner, bool last)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(step).constData(), &info) != 0)
        return step + ": " + QString::fromLocal8Bit(strerror(errno));
    if (info.st_uid != 0 && info.st_uid != owner)
        return step + " does not belong to the administrator";
    if (last && !S_ISREG(info.st_mode))
        return step + " is not a regular file";
    if (!last && !S_ISDIR(info.st_mode))
        return step + " is not a folder";
    const bool writableByOthers = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
    if (writableByOthers && !sticky)
        return step + " can be changed by other users";
    return {};
}

} // namespace

QString untrustedProgramReason(const QString& path, uid_t owner, QString* resolved)
{
    char real[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), real))
        return path + ": " + QString::fromLocal8Bit(strerror(errno));
    const QString canonical = QFile::decodeName(real);
    const QStringList parts = canonical.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString step;
    QString problem = stepProblem(QStringLiteral("/"), owner, parts.isEmpty());
    for (int i = 0; problem.isEmpty() && i < parts.size(); ++i) {
        step += QLatin1Char('/') + parts[i];
        problem = stepProblem(step, owner, i + 1 == parts.size());
    }
    if (problem.isEmpty() && resolved)
        *resolved = canonical;
    return problem;
}

} // namespace vistrale
