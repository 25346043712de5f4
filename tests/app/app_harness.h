#pragma once

#include "app/app_delegate.h"
#include "app/settings/settings.h"
#include "platform/fake/fake_platform.h"

#include <QAction>
#include <QTemporaryDir>
#include <memory>

namespace vistrale::test {

// The application shell on the in-memory platform, with a settings file of its own.
struct AppHarness {
    explicit AppHarness(QString version = "2.3.4", const QString& settingsPath = {})
        : platform(fake.take())
    {
        path = settingsPath.isEmpty() ? dir.filePath("Vistrale.conf") : settingsPath;
        settings = Settings::atPath(path);
        delegate = std::make_unique<AppDelegate>(platform, *settings, std::move(version));
    }

    void launch() { delegate->applicationDidFinishLaunching(); }

    // The menu item with that tag after the menu's refresh rules ran.
    QAction* item(int tag)
    {
        delegate->statusMenu()->refresh();
        return delegate->statusMenu()->itemWithTag(tag);
    }
    QAction* itemStartingWith(const QString& prefix)
    {
        delegate->statusMenu()->refresh();
        return delegate->statusMenu()->itemWithTitlePrefix(prefix);
    }

    // A new store on the same file, as the next run of the application sees it.
    std::unique_ptr<Settings> reopenSettings() const { return Settings::atPath(path); }

    QTemporaryDir dir;
    QString path;
    FakePlatform fake;
    Platform platform;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace vistrale::test
