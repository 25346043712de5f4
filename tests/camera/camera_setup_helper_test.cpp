// Runs the built vistrale-camera-setup against a made-up system under --root: fake
// modprobe and modinfo programs that record their argument vectors, a made-up sysfs,
// and the boot configuration files it writes.

#include "camera/camera_setup_status.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

const QString OPTIONS_FILE = "etc/modprobe.d/vistrale-camera.conf";
const QString LOAD_FILE = "etc/modules-load.d/vistrale-camera.conf";

struct HelperRun {
    int status = -1;
    QString errorOutput;
};

// A system under a temporary root. Each fake program appends one line per call to
// calls.log, every argument in brackets, so argument boundaries show. modprobe exits
// with the status in modprobe-status (loading) or modprobe-r-status (removing),
// printing "modprobe: FATAL: ..." when that is not 0; modinfo finds the module for the
// kernels listed under kernels/.
struct FakeSystem {
    FakeSystem()
    {
        const QByteArray record = "root=$(dirname \"$(dirname \"$0\")\")\n"
                                  "printf '%s' \"$(basename \"$0\")\" >> \"$root/calls.log\"\n"
                                  "printf '[%s]' \"$@\" >> \"$root/calls.log\"\n"
                                  "echo >> \"$root/calls.log\"\n";
        EXPECT_TRUE(writeFile(path("sbin/modprobe"),
            "#!/bin/sh\n" + record
                + "file=modprobe-status; [ \"$1\" = -r ] && file=modprobe-r-status\n"
                  "status=$(cat \"$root/$file\" 2>/dev/null || echo 0)\n"
                  "[ \"$status\" = 0 ] || echo 'modprobe: FATAL: Module v4l2loopback is in use.' >&2\n"
                  "exit $status\n",
            true));
        EXPECT_TRUE(writeFile(path("sbin/modinfo"),
            "#!/bin/sh\n" + record
                + "[ -e \"$root/kernels/$2\" ] && exit 0\n"
                  "echo 'modinfo: ERROR: Module v4l2loopback not found.' >&2\nexit 1\n",
            true));
        QDir().mkpath(path("sys"));
        QDir().mkpath(path("lib/modules/" + release));
    }

    QString path(const QString& relative) const { return root.filePath(relative); }

    void installModule(const QString& forRelease = QSysInfo::kernelVersion())
    {
        QDir().mkpath(path("lib/modules/" + forRelease));
        writeFile(path("kernels/" + forRelease), "");
    }

    void loadModule(const QByteArray& exclusiveCaps, const QByteArray& deviceName)
    {
        writeFile(path("sys/module/v4l2loopback/version"), "0.12.7\n");
        writeFile(path("sys/module/v4l2loopback/parameters/exclusive_caps"), exclusiveCaps + "\n");
        writeFile(path("sys/class/video4linux/video0/name"), deviceName + "\n");
    }

    void writeBootFiles()
    {
        writeFile(path(OPTIONS_FILE), "options v4l2loopback\n");
        writeFile(path(LOAD_FILE), "v4l2loopback\n");
    }

    HelperRun run(const QStringList& arguments, const QStringList& extraEnvironment = {}) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"PKEXEC_UID", "SUDO_UID", "DOAS_USER"})
            environment.remove(name);
        for (const QString& variable : extraEnvironment)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        process.setProcessEnvironment(environment);
        process.start(VISTRALE_CAMERA_SETUP, arguments);
        EXPECT_TRUE(process.waitForFinished(10000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError())};
    }

    HelperRun setup(const QStringList& command) const { return run(QStringList{"--root", root.path()} + command); }

    // The recorded calls, without the modinfo probes.
    QStringList modprobeCalls() const
    {
        QStringList calls;
        for (const QString& line : QString::fromUtf8(readFile(path("calls.log"))).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith("modprobe"))
                calls << line;
        }
        return calls;
    }
    QString calls() const { return QString::fromUtf8(readFile(path("calls.log"))); }

    QTemporaryDir root;
    QString release = QSysInfo::kernelVersion();
};

const QString LOAD_CALL = "modprobe[v4l2loopback][card_label=Vistrale Camera][exclusive_caps=1]";
const QString REMOVE_CALL = "modprobe[-r][v4l2loopback]";

void expectOneLine(const HelperRun& run)
{
    EXPECT_TRUE(run.errorOutput.endsWith('\n')) << run.errorOutput.toStdString();
    EXPECT_EQ(run.errorOutput.count('\n'), 1) << run.errorOutput.toStdString();
}

} // namespace

TEST(CameraSetupHelperArguments, OnlyTheFixedCommandsAreAccepted)
{
    FakeSystem system;
    system.installModule();
    const QString root = system.root.path();
    const QList<QStringList> refused = {
        {},
        {"ACTIVATE"},
        {"install"},
        {"activate", "--at-boot", "--at-boot"},
        {"activate", "--boot"},
        {"activate", "card_label=Other"},
        {"activate", "--at-boot", "/etc/passwd"},
        {"deactivate", "--at-boot"},
        {"--root", root},
        {"--root", "relative/dir", "activate"},
        {"--root", root + "/missing", "activate"},
        {"activate", "--root", root},
        {"--root", root, "--root", root, "activate"},
        {"--at-boot", "activate"},
        {"--root=" + root, "activate"},
    };
    for (const QStringList& arguments : refused) {
        const HelperRun run = system.run(arguments);
        EXPECT_EQ(run.status, CAMERA_SETUP_USAGE) << arguments.join(' ').toStdString();
        expectOneLine(run);
    }
    EXPECT_EQ(system.calls(), "");
    EXPECT_FALSE(QFile::exists(system.path(OPTIONS_FILE)));
}

TEST(CameraSetupHelperArguments, UnderAnotherUsersPrivilegesOnlyTheInstalledCopyRunsAndNeverOnATestRoot)
{
    FakeSystem system;
    system.installModule();
    for (const char* variable : {"PKEXEC_UID=1000", "SUDO_UID=1000", "DOAS_USER=someone"}) {
        HelperRun run = system.run({"--root", system.root.path(), "activate"}, {QString(variable)});
        EXPECT_EQ(run.status, CAMERA_SETUP_USAGE) << variable;
        EXPECT_TRUE(run.errorOutput.contains("--root is refused")) << run.errorOutput.toStdString();
        // This copy is the build's, not the installed one: refused before the command is read.
        run = system.run({"no-such-command"}, {QString(variable)});
        EXPECT_EQ(run.status, CAMERA_SETUP_USAGE) << variable;
        EXPECT_TRUE(run.errorOutput.contains("runs as administrator only from /")) << run.errorOutput.toStdString();
    }
    EXPECT_EQ(system.calls(), "");
}

TEST(CameraSetupHelperActivation, LoadsTheModuleWithTheLabelAsOneArgument)
{
    FakeSystem system;
    system.installModule();
    const HelperRun run = system.setup({"activate"});

    EXPECT_EQ(run.status, CAMERA_SETUP_DONE) << run.errorOutput.toStdString();
    EXPECT_EQ(run.errorOutput, "");
    EXPECT_EQ(system.calls(), "modinfo[-k][" + system.release + "][-F][filename][v4l2loopback]\n" + LOAD_CALL + "\n");
    // Without --at-boot the boot configuration stays as it was.
    EXPECT_FALSE(QFile::exists(system.path(OPTIONS_FILE)));
    EXPECT_FALSE(QFile::exists(system.path(LOAD_FILE)));
}

TEST(CameraSetupHelperActivation, AtBootWritesBothConfigurationFilesWhole)
{
    FakeSystem system;
    system.installModule();
    // An old file of ours is replaced, not appended to.
    writeFile(system.path(OPTIONS_FILE), "options v4l2loopback card_label=Old\n");
    const HelperRun run = system.setup({"activate", "--at-boot"});

    EXPECT_EQ(run.status, CAMERA_SETUP_DONE) << run.errorOutput.toStdString();
    EXPECT_EQ(system.modprobeCalls(), QStringList{LOAD_CALL});
    // modprobe.d needs the label in double quotes, or it ends at the space.
    EXPECT_EQ(readFile(system.path(OPTIONS_FILE)),
        "# Written by Vistrale: the \"Vistrale Camera\" device.\n"
        "options v4l2loopback card_label=\"Vistrale Camera\" exclusive_caps=1\n");
    EXPECT_EQ(
        readFile(system.path(LOAD_FILE)), "# Written by Vistrale: the \"Vistrale Camera\" device.\nv4l2loopback\n");
    for (const QString& file : {OPTIONS_FILE, LOAD_FILE}) {
        struct stat info { };
        ASSERT_EQ(stat(system.path(file).toLocal8Bit().constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0644u);
    }
    // No temporary file is left beside them.
    EXPECT_EQ(QDir(system.path("etc/modprobe.d")).entryList(QDir::Files), QStringList{"vistrale-camera.conf"});
    EXPECT_EQ(QDir(system.path("etc/modules-load.d")).entryList(QDir::Files), QStringList{"vistrale-camera.conf"});
}

TEST(CameraSetupHelperActivation, AModuleLoadedWithOtherSettingsIsUnloadedFirstAndOursIsLeftAsItIs)
{
    struct Row {
        QByteArray exclusiveCaps, name;
        QStringList calls;
    };
    const Row rows[] = {
        {"Y,N", "OBS Virtual Camera", {REMOVE_CALL, LOAD_CALL}},
        {"N", "Vistrale Camera", {REMOVE_CALL, LOAD_CALL}},
        {"Y,N,N", "Vistrale Camera", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.exclusiveCaps.toStdString() + " " + row.name.toStdString());
        FakeSystem system;
        system.installModule();
        system.loadModule(row.exclusiveCaps, row.name);
        EXPECT_EQ(system.setup({"activate", "--at-boot"}).status, CAMERA_SETUP_DONE);
        EXPECT_EQ(system.modprobeCalls(), row.calls);
        if (row.calls.isEmpty()) {
            EXPECT_EQ(system.calls(), "");
        }
        EXPECT_TRUE(QFile::exists(system.path(LOAD_FILE)));
    }
}

TEST(CameraSetupHelperActivation, AModuleInUseWithOtherSettingsFailsOrWaitsForTheReboot)
{
    FakeSystem system;
    system.installModule();
    system.loadModule("N", "OBS Virtual Camera");
    writeFile(system.path("modprobe-r-status"), "1\n");

    const HelperRun now = system.setup({"activate"});
    EXPECT_EQ(now.status, CAMERA_SETUP_FAILED);
    EXPECT_EQ(now.errorOutput,
        "v4l2loopback is in use with other settings: modprobe: FATAL: Module v4l2loopback is in use.\n");
    EXPECT_FALSE(QFile::exists(system.path(OPTIONS_FILE)));

    EXPECT_EQ(system.setup({"activate", "--at-boot"}).status, CAMERA_SETUP_AFTER_REBOOT);
    EXPECT_TRUE(QFile::exists(system.path(OPTIONS_FILE)));
    EXPECT_TRUE(QFile::exists(system.path(LOAD_FILE)));
    // Never loaded over the busy module.
    EXPECT_FALSE(system.modprobeCalls().contains(LOAD_CALL));
}

TEST(CameraSetupHelperActivation, AModuleOnlyForAnotherInstalledKernelWaitsForTheReboot)
{
    FakeSystem system;
    system.installModule("99.0.0-next");

    const HelperRun now = system.setup({"activate"});
    EXPECT_EQ(now.status, CAMERA_SETUP_FAILED);
    EXPECT_EQ(now.errorOutput,
        "v4l2loopback is not installed for the running kernel " + system.release
            + " (Debian package v4l2loopback-dkms)\n");
    EXPECT_FALSE(QFile::exists(system.path(OPTIONS_FILE)));

    EXPECT_EQ(system.setup({"activate", "--at-boot"}).status, CAMERA_SETUP_AFTER_REBOOT);
    EXPECT_TRUE(system.modprobeCalls().isEmpty());
    EXPECT_TRUE(system.calls().contains("modinfo[-k][99.0.0-next][-F][filename][v4l2loopback]"));
    EXPECT_TRUE(QFile::exists(system.path(OPTIONS_FILE)));
    EXPECT_TRUE(QFile::exists(system.path(LOAD_FILE)));
}

TEST(CameraSetupHelperActivation, NoModuleAnywhereOrAFailedLoadChangesNothing)
{
    FakeSystem system;
    const HelperRun missing = system.setup({"activate", "--at-boot"});
    EXPECT_EQ(missing.status, CAMERA_SETUP_FAILED);
    expectOneLine(missing);
    EXPECT_TRUE(system.modprobeCalls().isEmpty());

    system.installModule();
    writeFile(system.path("modprobe-status"), "1\n");
    const HelperRun failed = system.setup({"activate", "--at-boot"});
    EXPECT_EQ(failed.status, CAMERA_SETUP_FAILED);
    EXPECT_EQ(failed.errorOutput, "modprobe v4l2loopback failed: modprobe: FATAL: Module v4l2loopback is in use.\n");
    EXPECT_FALSE(QFile::exists(system.path(OPTIONS_FILE)));
    EXPECT_FALSE(QFile::exists(system.path(LOAD_FILE)));
}

TEST(CameraSetupHelperDeactivation, UnloadsOurModuleAndRemovesTheBootFiles)
{
    FakeSystem system;
    system.loadModule("Y", "Vistrale Camera");
    system.writeBootFiles();
    EXPECT_EQ(system.setup({"deactivate"}).status, CAMERA_SETUP_DONE);
    EXPECT_EQ(system.modprobeCalls(), QStringList{REMOVE_CALL});
    EXPECT_FALSE(QFile::exists(system.path(OPTIONS_FILE)));
    EXPECT_FALSE(QFile::exists(system.path(LOAD_FILE)));
}

TEST(CameraSetupHelperDeactivation, AModuleInUseIsGoneAfterARebootOnlyWhenItHadBootFiles)
{
    FakeSystem system;
    system.loadModule("Y", "Vistrale Camera");
    system.writeBootFiles();
    writeFile(system.path("modprobe-r-status"), "1\n");
    EXPECT_EQ(system.setup({"deactivate"}).status, CAMERA_SETUP_AFTER_REBOOT);
    EXPECT_FALSE(QFile::exists(system.path(OPTIONS_FILE)));

    const HelperRun again = system.setup({"deactivate"});
    EXPECT_EQ(again.status, CAMERA_SETUP_FAILED);
    EXPECT_EQ(again.errorOutput, "the Vistrale camera is in use: modprobe: FATAL: Module v4l2loopback is in use.\n");
}

TEST(CameraSetupHelperDeactivation, ACameraThatIsNotInstalledIsAFailureAndOthersModulesStay)
{
    FakeSystem system;
    const HelperRun absent = system.setup({"deactivate"});
    EXPECT_EQ(absent.status, CAMERA_SETUP_FAILED);
    EXPECT_EQ(absent.errorOutput, "the Vistrale camera is not installed\n");

    // Another application's loopback device is not ours to unload.
    system.loadModule("Y", "OBS Virtual Camera");
    EXPECT_EQ(system.setup({"deactivate"}).status, CAMERA_SETUP_FAILED);
    EXPECT_TRUE(system.modprobeCalls().isEmpty());

    // Only the boot files left: removing them is the whole deactivation.
    system.writeBootFiles();
    EXPECT_EQ(system.setup({"deactivate"}).status, CAMERA_SETUP_DONE);
    EXPECT_FALSE(QFile::exists(system.path(LOAD_FILE)));
    EXPECT_TRUE(system.modprobeCalls().isEmpty());
}
