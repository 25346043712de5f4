#include "platform/notification_center.h"

#include <vector>

namespace vistrale {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

int NotificationCenter::addObserver(const QString& name, Handler handler)
{
    const int token = nextToken++;
    observers.emplace(token, Observer{name, std::move(handler)});
    return token;
}

void NotificationCenter::removeObserver(int token)
{
    observers.erase(token);
}

void NotificationCenter::post(const QString& name, const QVariantMap& userInfo)
{
    // Handlers may add or remove observers: call a snapshot of the matching ones,
    // skipping any removed on the way.
    std::vector<int> tokens;
    for (const auto& [token, observer] : observers)
        if (observer.name == name)
            tokens.push_back(token);
    for (int token : tokens) {
        auto it = observers.find(token);
        if (it != observers.end()) {
            Handler handler = it->second.handler;
            handler(userInfo);
        }
    }
}

} // namespace vistrale
