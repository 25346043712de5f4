#pragma once

#include "platform/privileged_runner.h"

namespace vistrale {

// Runs programs as the administrator with pkexec (polkit), which asks the user through
// the desktop's authentication agent. The argument vector goes to pkexec unchanged.
class QtPrivilegedRunner : public PrivilegedRunner {
public:
    // `tool`: the privilege tool; an absolute path, or a name looked up in PATH.
    // `tool` is taken by its absolute path, never looked up where the user could plant one.
    explicit QtPrivilegedRunner(QString tool = QStringLiteral("/usr/bin/pkexec"));
    void run(const QStringList& argv, std::function<void(const PrivilegedResult&)> done) override;

private:
    QString tool;
};

} // namespace vistrale
