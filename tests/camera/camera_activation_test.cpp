#include "camera/camera_activation.h"
#include "platform/fake/fake_privileged_runner.h"
#include "platform/fake/fake_services.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

// A made-up installation: the helper file beside a fake executable, an empty sysfs
// (no module loaded) and a modinfo that answers version 0.12.7.
struct ActivationHarness {
    ActivationHarness()
    {
        paths.helper = dir.filePath("bin/vistrale-camera-setup");
        paths.sysRoot = dir.filePath("sys");
        paths.modinfo = dir.filePath("bin/modinfo");
        EXPECT_TRUE(writeFile(paths.helper, "#!/bin/sh\nexit 0\n", true));
        EXPECT_TRUE(
            writeFile(paths.modinfo, "#!/bin/sh\n[ \"$*\" = \"-F version v4l2loopback\" ] && echo 0.12.7\n", true));
        QDir().mkpath(paths.sysRoot);
        paths.helperOwner = geteuid();
        activation = std::make_unique<CameraActivation>(runner, dialogs, paths);
        activation->finished = [this] { ++finishedCalls; };
    }

    // v4l2loopback loaded with one device of the given name.
    void loadModule(const QByteArray& version, const QByteArray& exclusiveCaps, const QByteArray& deviceName)
    {
        writeFile(paths.sysRoot + "/module/v4l2loopback/version", version + "\n");
        writeFile(paths.sysRoot + "/module/v4l2loopback/parameters/exclusive_caps", exclusiveCaps + "\n");
        writeFile(paths.sysRoot + "/class/video4linux/video0/name", deviceName + "\n");
    }

    // Ends the pending run and returns what the activation logged meanwhile.
    std::string finish(int exitStatus, const QString& errorText = {})
    {
        testing::internal::CaptureStdout();
        runner.finishNext(PrivilegedResult{true, exitStatus, errorText});
        return testing::internal::GetCapturedStdout();
    }

    std::string activate()
    {
        testing::internal::CaptureStdout();
        activation->activation();
        return testing::internal::GetCapturedStdout();
    }

    std::string deactivate()
    {
        testing::internal::CaptureStdout();
        activation->deactivation();
        return testing::internal::GetCapturedStdout();
    }

    const AlertSpec& onlyAlert() const
    {
        EXPECT_EQ(dialogs.shown.size(), 1u);
        return dialogs.shown.back();
    }

    QTemporaryDir dir;
    CameraSetupPaths paths;
    FakePrivilegedRunner runner;
    FakeDialogs dialogs;
    std::unique_ptr<CameraActivation> activation;
    int finishedCalls = 0;
};

void expectInformationAlert(const AlertSpec& alert, const QString& message, const QString& informative)
{
    EXPECT_EQ(alert.message, message);
    EXPECT_EQ(alert.informative, informative);
    EXPECT_EQ(alert.defaultButton, "Close");
    EXPECT_FALSE(alert.secondButton.has_value());
}

} // namespace

TEST(CameraActivationRequest, RunsTheHelperAsAdministratorWithAnArgumentVectorOneRequestAtATime)
{
    ActivationHarness h;
    EXPECT_EQ(h.activate(), "Extension needs user approval\n");
    ASSERT_EQ(h.runner.runs.size(), 1u);
    EXPECT_EQ(h.runner.runs[0], QStringList({h.paths.helper, "activate", "--at-boot"}));
    // Waiting for the administrator: activating, nothing shown yet.
    EXPECT_TRUE(h.activation->activating);
    EXPECT_TRUE(h.activation->requestRunning());
    EXPECT_TRUE(h.dialogs.shown.empty());
    // A second request while one runs is not submitted.
    h.deactivate();
    EXPECT_EQ(h.runner.runs.size(), 1u);
    EXPECT_TRUE(h.activation->activating);

    ActivationHarness d;
    EXPECT_EQ(d.deactivate(), d.paths.helper.toStdString() + "\nExtension needs user approval\n");
    ASSERT_EQ(d.runner.runs.size(), 1u);
    EXPECT_EQ(d.runner.runs[0], QStringList({d.paths.helper, "deactivate"}));
    EXPECT_FALSE(d.activation->activating);
}

TEST(CameraActivationRequest, AMissingHelperIsADamagedInstallationAndSubmitsNothing)
{
    ActivationHarness h;
    QFile::remove(h.paths.helper);
    EXPECT_EQ(h.activate(), "Failed to find any system extensions\n");
    EXPECT_EQ(h.deactivate(), "Failed to find any system extensions\n");
    EXPECT_TRUE(h.runner.runs.empty());
    EXPECT_TRUE(h.dialogs.shown.empty());
    EXPECT_FALSE(h.activation->activating);

    // A helper that cannot be executed counts as missing too.
    writeFile(h.paths.helper, "#!/bin/sh\n", false);
    EXPECT_EQ(h.activate(), "Failed to find any system extensions\n");
    EXPECT_TRUE(h.runner.runs.empty());
}

TEST(CameraActivationRequest, AHelperOthersCouldChangeIsNeverRunAsAdministrator)
{
    const auto anyoneMayWrite = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    std::vector<std::function<bool(ActivationHarness&)>> cases = {
        [&](ActivationHarness& h) { return QFile::setPermissions(h.dir.filePath("bin"), anyoneMayWrite); },
        [&](ActivationHarness& h) { return QFile::setPermissions(h.paths.helper, anyoneMayWrite); },
    };
    if (geteuid() == 0)
        cases.push_back([](ActivationHarness& h) { return chown(qPrintable(h.paths.helper), 65534, 65534) == 0; });
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ActivationHarness h;
        ASSERT_TRUE(cases[i](h)) << "case " << i;
        EXPECT_NE(h.activate().find("camera set-up helper refused: "), std::string::npos) << "case " << i;
        EXPECT_TRUE(h.runner.runs.empty()) << "case " << i;
        EXPECT_TRUE(h.onlyAlert().informative.contains("Install Vistrale")) << "case " << i;
        EXPECT_FALSE(h.activation->requestRunning());
    }
}

TEST(CameraActivationOutcome, ACompletedRequestSaysDoneOrAsksForARebootAndEndsActivating)
{
    struct Row {
        bool activate;
        int status;
        const char* log;
        const char* informative;
    };
    const Row rows[] = {
        {true, 0, "Request finished with result: 0\n", "The Vistrale camera is activated"},
        {true, 3, "Request finished with result: 1\n", "Please reboot to finish activating the Vistrale camera"},
        {false, 0, "Request finished with result: 0\n", "The Vistrale camera is deactivated"},
        {false, 3, "Request finished with result: 1\n", "Please Reboot to finish deactivating the Vistrale camera"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.informative);
        ActivationHarness h;
        row.activate ? h.activate() : h.deactivate();
        EXPECT_EQ(h.finish(row.status), row.log);
        expectInformationAlert(h.onlyAlert(), "Success", row.informative);
        EXPECT_EQ(h.dialogs.activations, 1);
        EXPECT_FALSE(h.activation->activating);
        EXPECT_FALSE(h.activation->requestRunning());
        EXPECT_EQ(h.finishedCalls, 1);
    }
}

TEST(CameraActivationOutcome, AFailedActivationShowsTheErrorAndStaysActivating)
{
    ActivationHarness h;
    h.activate();
    const std::string log = h.finish(1, "modprobe v4l2loopback failed: Operation not permitted\n");

    EXPECT_EQ(log, "request failed: modprobe v4l2loopback failed: Operation not permitted\n");
    expectInformationAlert(h.onlyAlert(), "Error", "Failed to activate the Vistrale camera");
    EXPECT_TRUE(h.activation->activating);
    EXPECT_FALSE(h.activation->requestRunning());
    EXPECT_EQ(h.finishedCalls, 0);

    // The next request sets it again: a deactivation clears it.
    h.deactivate();
    EXPECT_FALSE(h.activation->activating);
}

TEST(CameraActivationOutcome, AFailedDeactivationGivesItsReason)
{
    struct Row {
        PrivilegedResult result;
        QString reason;
    };
    const Row rows[] = {
        {{true, 1, "the Vistrale camera is not installed\n"}, "the Vistrale camera is not installed"},
        {{true, PRIVILEGE_DISMISSED, {}}, "the administrator authentication was dismissed"},
        {{true, PRIVILEGE_REFUSED, "Error executing command as another user: Not authorized\n"},
            "not authorised to set up the camera: Error executing command as another user: Not authorized"},
        {{true, 9, {}}, "the camera set-up ended with status 9"},
        {{false, -1, "pkexec is not installed"}, "the administrator tool could not be run: pkexec is not installed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason.toStdString());
        ActivationHarness h;
        h.deactivate();
        testing::internal::CaptureStdout();
        h.runner.finishNext(row.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "request failed: " + row.reason.toStdString() + "\n");
        expectInformationAlert(h.onlyAlert(), "Error", "Failed to deactivate the Vistrale camera: " + row.reason);
    }
}

TEST(CameraActivationOutcome, TheHelpersOutputIsCutToOneCleanShortLine)
{
    ActivationHarness h;
    h.deactivate();
    const QString noisy = "busy\x1b[31m" + QString(500, 'x') + "\nsecond line\n";
    h.finish(1, noisy);

    const QString reason
        = h.dialogs.shown.back().informative.mid(QString("Failed to deactivate the Vistrale camera: ").size());
    EXPECT_TRUE(reason.startsWith("busy[31mxxx"));
    EXPECT_FALSE(reason.contains('\x1b'));
    EXPECT_FALSE(reason.contains("second line"));
    EXPECT_LE(reason.size(), 301);
}

TEST(CameraActivationOutcome, ARunEndingAfterTheActivationIsGoneIsIgnored)
{
    ActivationHarness h;
    h.activate();
    h.activation.reset();
    EXPECT_EQ(h.finish(0), "");
    EXPECT_TRUE(h.dialogs.shown.empty());
}

TEST(CameraActivationReplacement, AnotherOrIncompleteModuleIsReplacedAndBothVersionsLogged)
{
    struct Row {
        QByteArray version, exclusiveCaps, name;
        std::string replacing;
    };
    const Row rows[] = {
        {"0.12.5", "N,N,N", "OBS Virtual Camera", "Replacing extension version 0.12.5 with 0.12.7\n"},
        // Our label without exclusive capabilities.
        {"0.12.7", "N", "Vistrale Camera", "Replacing extension version 0.12.7 with 0.12.7\n"},
        {"0.12.7", "Y", "Vistrale Camera", ""},
        {{}, {}, {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        ActivationHarness h;
        if (!row.name.isEmpty())
            h.loadModule(row.version, row.exclusiveCaps, row.name);
        EXPECT_EQ(h.activate(), row.replacing + "Extension needs user approval\n");
        EXPECT_EQ(h.runner.runs.size(), 1u);
    }
}

TEST(CameraActivationReplacement, UnknownVersionsAreLoggedAsUnknown)
{
    ActivationHarness h;
    h.loadModule("", "N", "Other");
    QFile::remove(h.paths.sysRoot + "/module/v4l2loopback/version");
    writeFile(h.paths.modinfo, "#!/bin/sh\necho 'modinfo: ERROR: Module v4l2loopback not found.' >&2\nexit 1\n", true);
    EXPECT_EQ(h.activate(), "Replacing extension version unknown with unknown\nExtension needs user approval\n");
}
