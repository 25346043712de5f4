// vistrale-camera-setup: loads and unloads the v4l2loopback device "Vistrale Camera"
// and its boot configuration. Vistrale runs it as the administrator through pkexec, so
// it trusts nothing from its caller: it accepts only fixed subcommands, takes no paths,
// labels or options from the command line, runs programs by absolute path with a fixed
// environment, and writes only its two configuration files.
//
//   vistrale-camera-setup activate [--at-boot]
//   vistrale-camera-setup deactivate
//
// Exit status: 0 done, 3 done after a reboot, 1 failed, 2 bad arguments; on 1 and 2
// one line on standard error says why.

#include "camera/camera_setup_status.h"
#include "camera/loopback_state.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int EXIT_DONE = vistrale::CAMERA_SETUP_DONE;
constexpr int EXIT_FAILED = vistrale::CAMERA_SETUP_FAILED;
constexpr int EXIT_USAGE = vistrale::CAMERA_SETUP_USAGE;
constexpr int EXIT_AFTER_REBOOT = vistrale::CAMERA_SETUP_AFTER_REBOOT;

constexpr const char* USAGE = "usage: vistrale-camera-setup activate [--at-boot] | deactivate";

constexpr const char* MODPROBE = "/sbin/modprobe";
constexpr const char* MODINFO = "/sbin/modinfo";
constexpr const char* MODULE_OPTIONS_FILE = "/etc/modprobe.d/vistrale-camera.conf";
constexpr const char* MODULE_LOAD_FILE = "/etc/modules-load.d/vistrale-camera.conf";
constexpr const char* SYS = "/sys";
constexpr const char* KERNEL_MODULES = "/lib/modules";

// modprobe.d splits an options line at spaces unless the value is in double quotes,
// which the kernel's parameter parser removes again. On the command line the label is
// one argument; modprobe adds those quotes itself.
constexpr const char* MODULE_OPTIONS_TEXT = "# Written by Vistrale: the \"Vistrale Camera\" device.\n"
                                            "options v4l2loopback card_label=\"Vistrale Camera\" exclusive_caps=1\n";
constexpr const char* MODULE_LOAD_TEXT = "# Written by Vistrale: the \"Vistrale Camera\" device.\n"
                                         "v4l2loopback\n";

// The error output kept from a program this helper runs.
constexpr size_t MAX_ERROR_OUTPUT = 4096;

struct Failure {
    std::string reason;
};

// Where the system's files and programs are. A real run uses "/" and nothing can
// change that but --root, below.
//
// --root DIR runs every step under DIR (DIR/etc, DIR/sys, DIR/lib/modules and the
// modprobe and modinfo programs in DIR/sbin) so that tests can run this very program
// against a made-up system. It would let a caller run a program of its choice with the
// helper's rights, so it is refused whenever those rights came from someone else:
// set-user-ID, set-group-ID or file capabilities (AT_SECURE), or started by pkexec,
// sudo or doas (each sets its variable itself; the caller cannot remove it). Otherwise
// the caller already holds every right the helper then uses, and gains nothing.
// Environment variables never redirect anything.
struct System {
    std::string root;
    std::string path(const char* absolute) const { return root + absolute; }
};

bool elevatedBySomeoneElse()
{
    return getauxval(AT_SECURE) != 0 || std::getenv("PKEXEC_UID") || std::getenv("SUDO_UID")
        || std::getenv("DOAS_USER");
}

// Where the package installs this helper. Run as administrator by someone else, it
// trusts only that copy: pkexec's prompt names that path, and a copy anywhere else may
// sit in a folder that its user controls.
#ifndef HELPER_INSTALL_PATH
#define HELPER_INSTALL_PATH "/usr/libexec/vistrale/vistrale-camera-setup"
#endif

bool runsFromInstalledPath()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return !error && self == std::filesystem::path(HELPER_INSTALL_PATH);
}

std::string firstLine(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

struct ProgramResult {
    int status = -1;
    std::string errorOutput;
};

// Runs `program` with `arguments` (no shell), standard input and output on /dev/null,
// a fixed environment, and collects its error output.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char locale[] = "LC_ALL=C";
    char* environment[] = {path, locale, nullptr};

    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0)
        return {-1, std::string("cannot create a pipe: ") + std::strerror(errno)};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    close(errorPipe[1]);
    if (spawned != 0) {
        close(errorPipe[0]);
        return {-1, "cannot run " + program + ": " + std::strerror(spawned)};
    }

    ProgramResult result;
    char buffer[512];
    for (;;) {
        const ssize_t count = read(errorPipe[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        if (result.errorOutput.size() < MAX_ERROR_OUTPUT)
            result.errorOutput.append(buffer, static_cast<size_t>(count));
    }
    close(errorPipe[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return {-1, "cannot wait for " + program + ": " + std::strerror(errno)};
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result.status == -1)
        result.errorOutput = program + " was killed by signal " + std::to_string(WTERMSIG(status));
    return result;
}

std::string kernelRelease()
{
    utsname name{};
    uname(&name);
    return name.release;
}

// Kernel release names are directory names under /lib/modules; anything else is not
// passed on to modinfo.
bool plausibleRelease(const std::string& release)
{
    if (release.empty() || release.size() > 64 || release[0] == '-' || release[0] == '.')
        return false;
    for (const char c : release) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_' && c != '+')
            return false;
    }
    return true;
}

bool moduleAvailableFor(const System& system, const std::string& release)
{
    const ProgramResult result = runProgram(system.path(MODINFO), {"-k", release, "-F", "filename", "v4l2loopback"});
    return result.status == 0;
}

// True when an installed kernel other than the running one has the module, so that it
// loads after a reboot into that kernel (a kernel update and its module are installed
// but not yet running).
bool moduleAvailableAfterReboot(const System& system, const std::string& running)
{
    std::error_code error;
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(system.path(KERNEL_MODULES), error)) {
        const std::string release = entry.path().filename().string();
        if (release == running || !plausibleRelease(release) || !entry.is_directory(error))
            continue;
        if (++checked > 32)
            break;
        if (moduleAvailableFor(system, release))
            return true;
    }
    return false;
}

// Writes the whole file or nothing: a temporary file beside it, then a rename.
std::optional<Failure> writeAtomically(const std::string& path, const std::string& text)
{
    const std::filesystem::path target(path);
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    if (error)
        return Failure{"cannot create " + target.parent_path().string() + ": " + error.message()};
    std::string temporary = path + ".XXXXXX";
    const int file = mkstemp(temporary.data());
    if (file < 0)
        return Failure{"cannot write " + path + ": " + std::strerror(errno)};
    const char* data = text.data();
    size_t left = text.size();
    bool written = fchmod(file, 0644) == 0;
    while (written && left > 0) {
        const ssize_t count = write(file, data, left);
        if (count < 0 && errno == EINTR)
            continue;
        written = count > 0;
        if (written) {
            data += count;
            left -= static_cast<size_t>(count);
        }
    }
    const int writeError = errno;
    written = written && fsync(file) == 0;
    close(file);
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = written ? errno : writeError;
        unlink(temporary.c_str());
        return Failure{"cannot write " + path + ": " + std::strerror(error)};
    }
    return std::nullopt;
}

std::optional<Failure> writeBootFiles(const System& system)
{
    if (auto failure = writeAtomically(system.path(MODULE_OPTIONS_FILE), MODULE_OPTIONS_TEXT))
        return failure;
    return writeAtomically(system.path(MODULE_LOAD_FILE), MODULE_LOAD_TEXT);
}

// Removes both boot files; `existed` tells whether there was one to remove.
std::optional<Failure> removeBootFiles(const System& system, bool& existed)
{
    existed = false;
    for (const char* file : {MODULE_OPTIONS_FILE, MODULE_LOAD_FILE}) {
        const std::string path = system.path(file);
        if (unlink(path.c_str()) == 0)
            existed = true;
        else if (errno != ENOENT)
            return Failure{"cannot remove " + path + ": " + std::strerror(errno)};
    }
    return std::nullopt;
}

int fail(const std::string& reason)
{
    std::fprintf(stderr, "%s\n", reason.c_str());
    return EXIT_FAILED;
}

int failWith(const std::string& reason, const ProgramResult& result)
{
    const std::string detail = firstLine(result.errorOutput);
    return fail(detail.empty() ? reason + " (status " + std::to_string(result.status) + ")" : reason + ": " + detail);
}

int activate(const System& system, bool atBoot)
{
    const vistrale::LoopbackState state = vistrale::readLoopbackState(system.path(SYS));
    if (!vistrale::isVistraleModule(state)) {
        const std::string release = kernelRelease();
        const ProgramResult probe = runProgram(system.path(MODINFO), {"-k", release, "-F", "filename", "v4l2loopback"});
        if (probe.status < 0)
            return fail(probe.errorOutput);
        if (probe.status != 0) {
            if (atBoot && moduleAvailableAfterReboot(system, release)) {
                if (auto failure = writeBootFiles(system))
                    return fail(failure->reason);
                return EXIT_AFTER_REBOOT;
            }
            return fail("v4l2loopback is not installed for the running kernel " + release
                + " (Debian package v4l2loopback-dkms)");
        }
        if (state.loaded) {
            // Loaded with another label or without exclusive capabilities: replace it.
            const ProgramResult removed = runProgram(system.path(MODPROBE), {"-r", "v4l2loopback"});
            if (removed.status != 0) {
                if (!atBoot)
                    return failWith("v4l2loopback is in use with other settings", removed);
                if (auto failure = writeBootFiles(system))
                    return fail(failure->reason);
                return EXIT_AFTER_REBOOT;
            }
        }
        const ProgramResult loaded = runProgram(system.path(MODPROBE),
            {"v4l2loopback", std::string("card_label=") + vistrale::CAMERA_CARD_LABEL, "exclusive_caps=1"});
        if (loaded.status != 0)
            return failWith("modprobe v4l2loopback failed", loaded);
    }
    if (atBoot) {
        if (auto failure = writeBootFiles(system))
            return fail(failure->reason);
    }
    return EXIT_DONE;
}

int deactivate(const System& system)
{
    const vistrale::LoopbackState state = vistrale::readLoopbackState(system.path(SYS));
    bool hadBootFiles = false;
    if (auto failure = removeBootFiles(system, hadBootFiles))
        return fail(failure->reason);
    // A module without the "Vistrale Camera" device belongs to someone else: leave it.
    if (!state.loaded || !state.vistraleDevice) {
        if (hadBootFiles)
            return EXIT_DONE;
        return fail("the Vistrale camera is not installed");
    }
    const ProgramResult removed = runProgram(system.path(MODPROBE), {"-r", "v4l2loopback"});
    if (removed.status == 0)
        return EXIT_DONE;
    // Busy: without its boot files it is gone after the next reboot.
    if (hadBootFiles)
        return EXIT_AFTER_REBOOT;
    return failWith("the Vistrale camera is in use", removed);
}

int usage()
{
    std::fprintf(stderr, "%s\n", USAGE);
    return EXIT_USAGE;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    System system;
    if (arguments.size() >= 2 && arguments[0] == "--root") {
        if (elevatedBySomeoneElse()) {
            std::fprintf(stderr, "--root is refused when running with privileges given by another user\n");
            return EXIT_USAGE;
        }
        const std::filesystem::path root(arguments[1]);
        std::error_code error;
        if (!root.is_absolute() || !std::filesystem::is_directory(root, error) || root == "/")
            return usage();
        system.root = root.lexically_normal().string();
        while (!system.root.empty() && system.root.back() == '/')
            system.root.pop_back();
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }

    if (elevatedBySomeoneElse() && !runsFromInstalledPath()) {
        std::fprintf(stderr, "vistrale-camera-setup runs as administrator only from %s\n", HELPER_INSTALL_PATH);
        return EXIT_USAGE;
    }

    umask(022);
    if (arguments == std::vector<std::string>{"activate"})
        return activate(system, false);
    if (arguments == std::vector<std::string>{"activate", "--at-boot"})
        return activate(system, true);
    if (arguments == std::vector<std::string>{"deactivate"})
        return deactivate(system);
    return usage();
}
