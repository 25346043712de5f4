#pragma once

#include "platform/x11/x11_platform.h"
#include "tests/support/virtual_desktop.h"
#include "tests/support/wait_until.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <optional>

namespace vistrale::test {

// A fresh desktop with openbox per test and the X11 backends connected to it.
class X11DesktopTest : public ::testing::Test {
protected:
    explicit X11DesktopTest(VirtualDesktopOptions options = {QSize(1920, 1080), true, false})
        : desktop(options)
    {
    }

    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
        backends = connectX11(&error, desktop.display());
        ASSERT_TRUE(backends) << error.toStdString();
    }

    // Starts an X client and waits for its window; 0 when it did not appear.
    quint32 startWindow(const QString& program, const QStringList& arguments = {}, const QString& match = {})
    {
        if (desktop.startClient(program, arguments) < 0)
            return 0;
        return desktop.waitForWindow(match.isEmpty() ? program : match).value_or(0);
    }

    // What xprop says of one property of a window ("" when it cannot run).
    QString xprop(quint32 window, const QString& property)
    {
        QString out;
        desktop.run("xprop", {"-id", QString::number(window), property}, &out);
        return out.trimmed();
    }

    QString rootProperty(const QString& property)
    {
        QString out;
        desktop.run("xprop", {"-root", property}, &out);
        return out.trimmed();
    }

    // Polls xprop until its answer matches.
    bool xpropBecomes(quint32 window, const QString& property, const QRegularExpression& pattern, int timeoutMs = 5000)
    {
        return waitUntil([&] { return pattern.match(xprop(window, property)).hasMatch(); }, timeoutMs);
    }

    // The managed windows bottom to top, as the window manager publishes them.
    QList<quint32> stackingFromXprop()
    {
        QString out;
        desktop.run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}, &out);
        QList<quint32> ids;
        const QString list = out.section('#', 1);
        for (const QString& item : list.split(',', Qt::SkipEmptyParts))
            ids.append(item.trimmed().toUInt(nullptr, 16));
        return ids;
    }

    VirtualDesktop desktop;
    std::optional<X11Backends> backends;
};

} // namespace vistrale::test
