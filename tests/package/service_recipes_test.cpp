// The unattended show's recipes as README.txt gives them, tried against a real systemd user
// manager of the test's own: the package's install.sh, a kiosk's ~/.xinitrc without a desktop,
// a desktop's graphical session and its autostart entry, and a visitor's Escape with and without
// --escape-restarts. The package folder's name holds a space.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include <unistd.h>

namespace {

using namespace DemoTest;
namespace fs = std::filesystem;

const std::string demoBinary = DEMO_BINARY;
const std::string sourceDir = SOURCE_DIR;

// A systemd user manager in a mount namespace of its own, whose /run is a tmpfs (where a booted
// system keeps its runtime files), with HOME in `home` and no DISPLAY: it reaches nothing of the
// machine's own session. Stopped through itself, so that its units stop first, then by its pid.
class UserManager {
public:
    explicit UserManager(const fs::path& home_)
        : home(home_)
    {
        if (getuid() != 0 || !fs::exists("/lib/systemd/systemd") || commandOutput("command -v unshare nsenter").empty())
            return;
        manager = std::make_unique<DemoProcess>(
            (home / ".").string(),
            std::vector<std::string>{"DISPLAY=", "XAUTHORITY=", "PULSE_SERVER=", "DBUS_SESSION_BUS_ADDRESS=",
                                     "XDG_CONFIG_HOME=", "XDG_RUNTIME_DIR=", "HOME=" + home.string()},
            std::vector<std::string>{"unshare", "-m", "--propagation", "private", "sh", "-c",
                                     "mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system /run/user/0 && "
                                     "chmod 700 /run/user/0 && XDG_RUNTIME_DIR=/run/user/0 exec "
                                     "/lib/systemd/systemd --user"});
        running = waitFor([&] {
            const std::string state = run("systemctl --user is-system-running");
            return state == "running\n" || state == "degraded\n";
        }, 30.0);
    }

    ~UserManager()
    {
        if (!manager)
            return;
        run("systemctl --user exit");
        if (!manager->wait(30.0).exited)
            ADD_FAILURE() << "the user manager did not end";
    }
    UserManager(const UserManager&) = delete;
    UserManager& operator=(const UserManager&) = delete;

    // Runs `script` with sh beside the manager, as the user's session would: its output.
    std::string run(const std::string& script, const std::string& display = "")
    {
        const fs::path file = home / "command.sh";
        std::ofstream(file) << script << "\n";
        return commandOutput("nsenter -t " + std::to_string(manager->id()) + " -m -- env -u DISPLAY -u XAUTHORITY HOME='" +
                             home.string() + "' XDG_RUNTIME_DIR=/run/user/0 " +
                             (display.empty() ? "" : "DISPLAY=" + display + " ") + "sh '" + file.string() + "' 2>&1");
    }

    std::string property(const std::string& unit, const std::string& name)
    {
        std::string value = run("systemctl --user show -p " + name + " --value " + unit);
        return value.substr(0, value.find('\n'));
    }

    bool running = false;

private:
    fs::path home;
    std::unique_ptr<DemoProcess> manager;
};

// The lines of a kiosk's ~/.xinitrc that start the show, as README.txt gives them (the last,
// which runs the window manager, left out).
std::string xinitrcRecipe()
{
    std::ifstream readme(sourceDir + "/scripts/linux-readme.txt");
    std::string recipe, line;
    bool inside = false;
    while (std::getline(readme, line)) {
        if (line == "  # ~/.xinitrc")
            inside = true;
        else if (inside && line.rfind("  systemctl --user ", 0) == 0)
            recipe += line.substr(2) + "\n";
        else if (inside)
            break;
    }
    return recipe;
}

// The package as install.sh expects it, unpacked in a folder whose name holds a space.
fs::path unpack(const fs::path& home)
{
    const fs::path folder = home / "demo linux";
    fs::create_directories(folder);
    fs::copy_file(demoBinary, folder / "demo");
    fs::copy_file(sourceDir + "/scripts/demo.service", folder / "demo.service");
    fs::copy_file(sourceDir + "/scripts/install-unattended.sh", folder / "install.sh");
    return folder;
}

// A kiosk without a desktop: install.sh enables the unit, which never starts while the manager
// knows no display; the xinitrc's lines start the show full screen; a visitor's Escape ends it
// for good, or, installed with --escape-restarts, the show comes back.
TEST(ServiceRecipesTest, AKioskWithoutADesktopStartsTheShowFromItsXinitrcAndEscapeEndsItAsInstalled)
{
    const std::string recipe = xinitrcRecipe();
    ASSERT_NE(recipe.find("systemctl --user start demo.service"), std::string::npos) << recipe;
    for (const bool escapeRestarts : {false, true}) {
        SCOPED_TRACE(escapeRestarts ? "install.sh --escape-restarts" : "install.sh");
        Scratch scratch;
        const fs::path folder = unpack(scratch.path);
        UserManager manager(scratch.path);
        if (!manager.running)
            GTEST_SKIP() << "no systemd user manager can run here (needs root, unshare and systemd)";
        XvfbServer screen(640, 360);
        ASSERT_FALSE(screen.display.empty());

        const std::string installed =
            manager.run("'" + (folder / "install.sh").string() + "'" + (escapeRestarts ? " --escape-restarts" : ""));
        EXPECT_EQ(manager.property("demo.service", "UnitFileState"), "enabled") << installed;
        // Without a display the unit is not started at all: no failures, no restarts.
        EXPECT_EQ(manager.property("demo.service", "ConditionResult"), "no") << installed;
        EXPECT_EQ(manager.property("demo.service", "NRestarts"), "0");

        manager.run(recipe, screen.display);
        ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0))
            << manager.run("systemctl --user status demo.service; journalctl --user -u demo.service");
        ASSERT_TRUE(waitForPicture(screen.display, 120.0));
        ASSERT_TRUE(setKey(screen.display, "Escape", true) && setKey(screen.display, "Escape", false));
        if (escapeRestarts) {
            EXPECT_TRUE(waitFor([&] { return manager.property("demo.service", "NRestarts") == "1"; }, 30.0))
                << "Escape stopped the show for good";
            EXPECT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0)) << "the show did not come back";
            manager.run("systemctl --user stop demo.service");
        }
        EXPECT_TRUE(waitFor([&] { return manager.property("demo.service", "SubState") == "dead"; }, 30.0));
        if (!escapeRestarts) {
            EXPECT_EQ(manager.property("demo.service", "NRestarts"), "0") << "Escape restarted the show";
        }
    }
}

// A desktop: its session binds graphical-session.target (as GNOME's and KDE's do, DISPLAY
// imported first), which starts the enabled unit and, on leaving, stops it. Installed with
// --autostart instead, the desktop's autostart entry runs the show (here through systemd's own
// reader of autostart entries, as those desktops run them).
TEST(ServiceRecipesTest, ADesktopSessionStartsTheUnitOrItsAutostartEntry)
{
    Scratch scratch;
    const fs::path folder = unpack(scratch.path);
    UserManager manager(scratch.path);
    if (!manager.running)
        GTEST_SKIP() << "no systemd user manager can run here (needs root, unshare and systemd)";
    XvfbServer screen(640, 360);
    ASSERT_FALSE(screen.display.empty());
    // A desktop's session target, as GNOME's and KDE's bind graphical-session.target; without
    // default dependencies, which would order it after the autostart target it pulls in.
    fs::create_directories(scratch.path / ".config/systemd/user");
    std::ofstream(scratch.path / ".config/systemd/user/desktop-session.target")
        << "[Unit]\nDefaultDependencies=no\nBindsTo=graphical-session.target\nBefore=graphical-session.target\n"
           "Wants=graphical-session-pre.target xdg-desktop-autostart.target\nAfter=graphical-session-pre.target\n";
    const std::string install = "'" + (folder / "install.sh").string() + "'";
    const std::string login = "systemctl --user import-environment DISPLAY && systemctl --user daemon-reload && "
                              "systemctl --user start desktop-session.target";
    const std::string logout = "systemctl --user stop desktop-session.target";

    for (const char* how : {"", " --autostart"}) {
        SCOPED_TRACE(std::string("install.sh") + how);
        const std::string said = manager.run(install + " --remove && " + install + how);
        manager.run(login, screen.display);
        EXPECT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0))
            << said << manager.run("systemctl --user status 'demo.service' 'app-demo@autostart.service'");
        manager.run(logout);
        EXPECT_TRUE(waitFor([&] { return windowSize(screen.display, "OpenGL").width == 0; }, 30.0))
            << "the show outlived the session";
    }
}

} // namespace
