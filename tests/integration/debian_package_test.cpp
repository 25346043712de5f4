// The Debian package as a user gets it: built with CPack from this build, checked with
// Debian's own tools, unpacked into a folder of its own and started from there, so
// that it must find everything through the installed layout and not the build tree.
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale::test;

namespace {

struct ProgramRun {
    int status = -1;
    QString output;
};

ProgramRun runProgram(
    const QString& program, const QStringList& arguments, const QString& folder = {}, int timeoutMs = 240000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return {-1, program + " did not finish: " + QString::fromUtf8(process.readAll())};
    }
    return {
        process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

const QString ID = "com.quorvia.vistrale";
const QString HELPER = "/usr/libexec/vistrale/vistrale-camera-setup";

TEST(DebianPackage, PassesDebiansChecksAndRunsFromItsInstalledLayout)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());

    // Build it, as scripts/package does.
    ProgramRun run = runProgram("cpack", {"-G", "DEB", "-B", work.filePath("package")}, VISTRALE_BUILD_DIR);
    ASSERT_EQ(run.status, 0) << run.output.toStdString();
    const QString deb = work.filePath("package/vistrale_" VISTRALE_PACKAGE_VERSION "_amd64.deb");
    ASSERT_TRUE(QFile::exists(deb)) << run.output.toStdString();

    run = runProgram("dpkg-deb", {"--field", deb, "Depends", "Recommends"});
    EXPECT_TRUE(run.output.contains("libqt6widgets6")) << "library dependencies: " << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("pkexec")) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Recommends: pipewire")) << run.output.toStdString();

    run = runProgram("lintian", {"--fail-on", "error", "--tag-display-limit", "0", deb});
    EXPECT_EQ(run.status, 0) << "lintian: " << run.output.toStdString();

    const QString root = work.filePath("root");
    run = runProgram("dpkg-deb", {"-x", deb, root});
    ASSERT_EQ(run.status, 0) << run.output.toStdString();

    run = runProgram("desktop-file-validate", {root + "/usr/share/applications/" + ID + ".desktop"});
    EXPECT_EQ(run.status, 0) << run.output.toStdString();
    run = runProgram("appstreamcli", {"validate", "--no-net", root + "/usr/share/metainfo/" + ID + ".metainfo.xml"});
    EXPECT_EQ(run.status, 0) << run.output.toStdString();

    for (const QString& file :
        QStringList{"/usr/bin/vistrale", HELPER, "/usr/share/icons/hicolor/scalable/apps/" + ID + ".svg",
            "/usr/share/icons/hicolor/48x48/apps/" + ID + ".png", "/usr/share/man/man1/vistrale.1.gz",
            "/usr/share/doc/vistrale/copyright", "/usr/share/polkit-1/actions/" + ID + ".camera-setup.policy"})
        EXPECT_TRUE(QFile::exists(root + file)) << file.toStdString();
    EXPECT_FALSE(QFile::exists(root + "/usr/bin/vistrale-camera-setup")) << "the helper must not be on PATH";
    QFile policy(root + "/usr/share/polkit-1/actions/" + ID + ".camera-setup.policy");
    ASSERT_TRUE(policy.open(QIODevice::ReadOnly));
    const QString policyText = QString::fromUtf8(policy.readAll());
    EXPECT_TRUE(policyText.contains("\"org.freedesktop.policykit.exec.path\">" + HELPER + "<"))
        << policyText.toStdString();
    EXPECT_TRUE(policyText.contains("Vistrale Camera")) << policyText.toStdString();

    const QString vistrale = root + "/usr/bin/vistrale";
    run = runProgram(vistrale, {"--version"});
    EXPECT_EQ(run.output.trimmed(), "vistrale " VISTRALE_PACKAGE_VERSION);
    run = runProgram(vistrale, {"--help"});
    EXPECT_TRUE(run.output.contains("VISTRALE_CAMERA=") && run.output.contains("[files...]"))
        << run.output.toStdString();

    // A short start on a virtual desktop: its helper is the unpacked one, and its
    // pictures (the backdrop) are there.
    VirtualDesktop desktop;
    QString error;
    ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
    VistraleProcess app(desktop);
    app.setProgram(vistrale);
    app.setEnvironment("VISTRALE_CAMERA", "none");
    app.setEnvironment("VISTRALE_WEBCAM", "none");
    ASSERT_TRUE(app.start(&error)) << error.toStdString();
    const std::optional<QString> helperLine = app.waitForLine("camera set-up helper");
    ASSERT_TRUE(helperLine.has_value()) << app.output().toStdString();
    EXPECT_EQ(*helperLine, "camera set-up helper " + QDir(root).canonicalPath() + HELPER);
    // The first frame can take a while when the machine is busy with other tests.
    QImage output;
    ASSERT_TRUE(waitUntil([&] { return !(output = app.outputPicture()).isNull(); }, 15000)) << app.output().toStdString();
    EXPECT_NE(output.pixel(100, 100), output.pixel(1800, 900)) << "no backdrop in the output";
    EXPECT_EQ(app.quit(), 0) << app.errorOutput().toStdString();
}

} // namespace
