#pragma once

#include <QString>
#include <sys/types.h>

namespace vistrale {

// Why the program at `path` cannot be trusted to run as the administrator, or an
// empty text when it can. The file and every folder above it must belong to root or
// `owner`, and none may be writable by group or others: otherwise another program of
// the user could swap it before the administrator's approval runs it. Sticky folders
// such as /tmp are allowed, since only an entry's owner can replace it there. The
// path is resolved first; `resolved` receives the path to run.
QString untrustedProgramReason(const QString& path, uid_t owner, QString* resolved);

} // namespace vistrale
