#pragma once

#include "platform/privileged_runner.h"

#include <deque>
#include <vector>

namespace vistrale {

// Records every run and ends them when the test says so, with programmed results; a
// run stays pending until then, as a real one does while the user authenticates.
class FakePrivilegedRunner : public PrivilegedRunner {
public:
    void run(const QStringList& argv, std::function<void(const PrivilegedResult&)> done) override;

    // Ends the oldest pending run with `result`; false when none is pending.
    bool finishNext(const PrivilegedResult& result);
    // Ends the oldest pending run with the next of `results` (a started run with exit
    // status 0 once they are used up).
    bool finishNext();
    int pending() const { return static_cast<int>(waiting.size()); }

    // The argument vector of every run, in order.
    std::vector<QStringList> runs;
    std::deque<PrivilegedResult> results;

private:
    std::deque<std::function<void(const PrivilegedResult&)>> waiting;
};

} // namespace vistrale
