#pragma once

#include <QString>
#include <QVariantMap>
#include <functional>
#include <map>

namespace vistrale {

// Notifications inside the process ("keyboard" with a "label", "roi", ...): the
// poster does not know who listens. Main thread only; handlers run synchronously
// inside post().
class NotificationCenter {
public:
    using Handler = std::function<void(const QVariantMap& userInfo)>;

    // The process's centre.
    static NotificationCenter& defaultCenter();

    // A token for removeObserver.
    int addObserver(const QString& name, Handler handler);
    void removeObserver(int token);
    void post(const QString& name, const QVariantMap& userInfo = {});

private:
    struct Observer {
        QString name;
        Handler handler;
    };
    std::map<int, Observer> observers;
    int nextToken = 1;
};

} // namespace vistrale
