#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QProcess;

namespace vistrale::test {

// How the fixtures start, run and stop the programs they need. Main thread.

// A child process modifier: the child is sent SIGTERM when the test process ends, even
// when it crashes.
void dieWithParent();

// Starts a program in `environment`. Its standard error, and its standard output unless
// `readOutput`, go to a numbered log in `logDir` (a pipe nobody reads would fill up).
// The process (the caller owns it), or nullptr when it did not start.
QProcess* startLogged(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
    const QString& logDir, bool readOutput = false);

// Stops a process by its id (SIGTERM, then SIGKILL) and deletes it.
void stopProcess(QProcess* process);

// Runs a program to completion: its exit status, or -1 when it did not start, crashed or
// did not finish within timeoutMs (it is killed then). Standard error is dropped.
int runProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
    QString* standardOutput, int timeoutMs);

// The first line a started process prints, trimmed; empty when it ends or says nothing
// within timeoutMs.
QString firstLine(QProcess* process, int timeoutMs);

// Starts a session bus (dbus-daemon) listening on `socketPath`, logging into `logDir`:
// the process, with its address in `address`; nullptr with the reason in `error`.
QProcess* startSessionBus(const QString& socketPath, const QProcessEnvironment& environment, const QString& logDir,
    QString* address, QString* error);

} // namespace vistrale::test
