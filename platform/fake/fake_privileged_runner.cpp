#include "platform/fake/fake_privileged_runner.h"

namespace vistrale {

void FakePrivilegedRunner::run(const QStringList& argv, std::function<void(const PrivilegedResult&)> done)
{
    runs.push_back(argv);
    waiting.push_back(std::move(done));
}

bool FakePrivilegedRunner::finishNext(const PrivilegedResult& result)
{
    if (waiting.empty())
        return false;
    auto done = std::move(waiting.front());
    waiting.pop_front();
    done(result);
    return true;
}

bool FakePrivilegedRunner::finishNext()
{
    PrivilegedResult result{true, 0, {}};
    if (!results.empty()) {
        result = results.front();
        results.pop_front();
    }
    return finishNext(result);
}

} // namespace vistrale
