// A capture drawn as segments by GNU parallel, here and over ssh, against the single run of the
// real binary, compared byte for byte by cmp.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace {

using namespace DemoTest;
namespace fs = std::filesystem;

const std::string demoBinary = DEMO_BINARY;
const std::string farm = FARM_SCRIPT;
const std::vector<std::string> tiny = {"--size", "160x90", "--fps", "10", "--from", "44", "--to", "50"};

std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a command line in `folder`; its status, with standard error kept in `err`.
// In sanitizer builds the demos it starts, here and through sshd, check no leaks at exit: Mesa's
// JIT-compiled code keeps allocations that cannot be attributed, as every test of the demo finds.
constexpr const char* demoSanitizerOptions = "detect_leaks=0:verify_asan_link_order=0";

int run(const Scratch& folder, const std::vector<std::string>& command, std::string* err = nullptr)
{
    setenv("ASAN_OPTIONS", demoSanitizerOptions, 1);
    std::string line = "cd " + quoted(folder.path.string()) + " &&";
    for (const std::string& word : command)
        line += " " + quoted(word);
    int status = -1;
    const std::string said = commandOutput(line + " 2>&1 >/dev/null", &status);
    if (err)
        *err = said;
    return status;
}

std::vector<std::string> with(std::vector<std::string> command, const std::vector<std::string>& more)
{
    command.insert(command.end(), more.begin(), more.end());
    return command;
}

bool sameFiles(const std::string& a, const std::string& b)
{
    int status = -1;
    commandOutput("cmp -s " + quoted(a) + " " + quoted(b), &status);
    return status == 0;
}

// The farm's hidden work folder for `output` in `folder` (empty when there is none).
fs::path workFolder(const Scratch& folder, const std::string& output)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder.path, error))
        if (entry.path().filename().string().rfind(".capture-farm." + output, 0) == 0)
            return entry.path();
    return {};
}

bool says(const std::string& text, const std::string& what)
{
    return text.find(what) != std::string::npos;
}

int lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

bool portAnswers(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool answered = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return answered;
}

// A free port on 127.0.0.1, as the kernel hands it out.
int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(s, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    close(s);
    return ntohs(address.sin_port);
}

// An sshd of the test's own on 127.0.0.1, with its own host and client keys, stopped by its pid;
// `hostsLine` reaches it as GNU parallel's --sshlogin.
struct ThrowawaySshd {
    Scratch keys;
    int port = freePort();
    std::unique_ptr<DemoProcess> server;
    std::string hostsLine;

    ThrowawaySshd()
    {
        commandOutput("cd " + quoted(keys.path.string()) +
                      " && ssh-keygen -q -t ed25519 -N '' -f host && ssh-keygen -q -t ed25519 -N '' -f client"
                      " && cp client.pub authorized_keys && mkdir -p /run/sshd");
        std::ofstream(keys / "sshd_config") << "Port " << port << "\nListenAddress 127.0.0.1\nHostKey " << keys / "host"
                                            << "\nAuthorizedKeysFile " << keys / "authorized_keys"
                                            << "\nPidFile none\nStrictModes no\nUsePAM no\nPasswordAuthentication no\nSetEnv ASAN_OPTIONS="
                                            << demoSanitizerOptions << "\n";
        server = std::make_unique<DemoProcess>(
            std::vector<std::string>{"/usr/sbin/sshd", "-D", "-e", "-f", keys / "sshd_config"});
        for (const double start = now(); !portAnswers(port) && now() - start < 20.0;)
            usleep(20000);
        hostsLine = "1/ssh -p " + std::to_string(port) + " -i " + keys / "client" +
                    " -o IdentitiesOnly=yes -o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no"
                    " -o LogLevel=error root@127.0.0.1";
    }
};

TEST(FarmTest, SegmentsHereAndOverSshMakeTheSingleRunsFileByteForByte)
{
    Scratch folder;
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mp4"}, tiny)), 0);
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mkv"}, tiny)), 0);
    fs::create_directories(folder / "one");
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one/%03d.png"}, tiny)), 0);

    std::string err;
    for (const char* name : {"farm.mp4", "farm.mkv"}) {
        ASSERT_EQ(run(folder, with({farm, name, "--segments", "3"}, with(tiny, {"--demo", demoBinary})), &err), 0) << err;
        EXPECT_NE(err.find("wrote " + std::string(name)), std::string::npos) << err;
        EXPECT_TRUE(sameFiles(folder / name, folder / ("one" + fs::path(name).extension().string()))) << name;
    }
    fs::create_directories(folder / "farm");
    ASSERT_EQ(run(folder, with({farm, "farm/%03d.png", "--segments", "3", "--demo", demoBinary}, tiny), &err), 0) << err;
    size_t frames = 0;
    for (const auto& entry : fs::directory_iterator(folder / "one")) {
        ++frames;
        EXPECT_TRUE(sameFiles(entry.path(), folder / ("farm/" + entry.path().filename().string()))) << entry.path();
    }
    EXPECT_EQ(frames, 60u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "farm"), fs::directory_iterator()), 60);

    // Drawn on another machine (here, through ssh) and returned by GNU parallel, and beside it
    // on this one (":"), straight into the work folder.
    ThrowawaySshd sshd;
    ASSERT_TRUE(portAnswers(sshd.port)) << "sshd did not start";
    std::ofstream(folder / "hosts") << sshd.hostsLine << "\n1/:\n";
    ASSERT_EQ(run(folder, with({farm, "ssh.mp4", "--segments", "3", "--hosts", "hosts", "--demo", demoBinary}, tiny),
                  &err), 0) << err;
    EXPECT_TRUE(sameFiles(folder / "ssh.mp4", folder / "one.mp4"));
    EXPECT_EQ(folder.entries(), 8u) << "one.*, farm.*, ssh.mp4, the folders and hosts: no work left behind";
}

TEST(FarmTest, ASegmentKilledHalfWayIsDrawnAgain)
{
    Scratch folder;
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mp4"}, tiny)), 0);
    // Segment 1's first try dies of SIGKILL once it has written a frame, leaving that frame.
    std::ofstream(folder / "killing-demo") << "#!/bin/bash\n"
        "if [[ \" $* \" == *' 1/3 '* ]] && mkdir " << quoted(folder / "killed") << " 2>/dev/null; then\n"
        "  " << quoted(demoBinary) << " \"$@\" & demo=$!\n"
        "  until compgen -G 'seg-1.part/*.png' >/dev/null || ! kill -0 $demo 2>/dev/null; do sleep 0.02; done\n"
        "  kill -KILL $demo $$\n"
        "fi\n"
        "exec " << quoted(demoBinary) << " \"$@\"\n";
    fs::permissions(folder / "killing-demo", fs::perms::owner_all);
    std::string err;
    ASSERT_EQ(run(folder, with({farm, "farm.mp4", "--segments", "3", "--demo", folder / "killing-demo"}, tiny), &err), 0)
        << err;
    EXPECT_TRUE(fs::exists(folder / "killed")) << "segment 1 was not killed";
    EXPECT_TRUE(sameFiles(folder / "farm.mp4", folder / "one.mp4"));
    EXPECT_EQ(folder.entries(), 4u) << "one.mp4, farm.mp4, the marker and the wrapper";
}

TEST(FarmTest, TheJoinIsTheSingleCapturesFileAtEverySizeRateAndWorkPath)
{
    // Where the old join differed (320x180, 480x270), two seconds: frames enough for the encoder's
    // look-ahead to weigh them, where anything but the capture's own input shows.
    struct Case {
        const char* size;
        const char* fps;
        const char* to;
        bool alsoDeep; // joined again from a long work path
    };
    const Case cases[] = {{"160x90", "24", "45", false},
                          {"320x180", "10", "46", true},
                          {"480x270", "24", "46", true},
                          {"640x360", "10", "45", false}};
    Scratch folder;
    const std::string deep = "a-folder-with-a-name-of-some-length/and-within-it-another-one-longer-still";
    fs::create_directories(folder / deep);
    std::string err;
    for (const Case& c : cases) {
        const std::vector<std::string> options = {"--size", c.size, "--fps", c.fps, "--from", "44", "--to", c.to};
        const std::string what = std::string(c.size) + " at " + c.fps + " fps";
        ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mp4"}, options)), 0) << what;
        // Drawn as a batch system draws them, then joined here and, from a copy of the same work,
        // under the long path.
        const std::vector<std::string> farmed = with(options, {"--segments", "2", "--demo", demoBinary});
        for (const char* k : {"0", "1"})
            ASSERT_EQ(run(folder, with({farm, "farm.mp4", "--only-segment", k}, farmed), &err), 0) << err;
        const fs::path work = workFolder(folder, "farm.mp4");
        ASSERT_FALSE(work.empty());
        if (c.alsoDeep)
            fs::copy(work, folder.path / deep / work.filename(), fs::copy_options::recursive);
        if (std::string(c.size) == "320x180") {
            std::string mkv = work.filename().string();
            mkv.replace(mkv.find("mp4"), 3, "mkv");
            fs::copy(work, folder.path / mkv, fs::copy_options::recursive);
            ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mkv"}, options)), 0);
            ASSERT_EQ(run(folder, with({farm, "farm.mkv", "--join-only"}, farmed), &err), 0) << err;
            EXPECT_TRUE(sameFiles(folder / "farm.mkv", folder / "one.mkv")) << what;
        }
        ASSERT_EQ(run(folder, with({farm, "farm.mp4", "--join-only"}, farmed), &err), 0) << err;
        EXPECT_TRUE(sameFiles(folder / "farm.mp4", folder / "one.mp4")) << what;
        if (c.alsoDeep) {
            ASSERT_EQ(run(folder, with({farm, deep + "/farm.mp4", "--join-only"}, farmed), &err), 0) << err;
            EXPECT_TRUE(sameFiles(folder / (deep + "/farm.mp4"), folder / "one.mp4")) << what << ", joined deep";
            fs::remove(folder / (deep + "/farm.mp4"));
        }
        for (const char* name : {"one.mp4", "farm.mp4", "one.mkv", "farm.mkv"})
            fs::remove(folder / name);
    }
    EXPECT_EQ(folder.entries(), 1u) << "no work left behind";
}

TEST(FarmTest, TheJoinEncodesTheCapturesFramesAndNoMore)
{
    // Ten frames more than the capture has, and none of them the show's: the join takes any
    // picture of the capture's size, and only the capture's frames.
    Scratch folder;
    fs::create_directories(folder / "frames");
    fs::create_directories(folder / "out");
    ASSERT_EQ(run(folder, {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x90:rate=10", "-frames:v",
                           "70", "-start_number", "0", "frames/%06d.png"}), 0);
    std::string err;
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "out/%03d.png", "--join", "frames/%06d.png"}, tiny), &err), 0)
        << err;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "out"), fs::directory_iterator()), 60);
    EXPECT_TRUE(says(err, "joined 60 frames")) << err;

    // A picture of another size is no frame of this capture: one line, and nothing written.
    ASSERT_EQ(run(folder, {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x180", "-frames:v", "1",
                           "-update", "1", "frames/000031.png"}), 0);
    EXPECT_EQ(run(folder, with({demoBinary, "--capture", "a.mkv", "--join", "frames/%06d.png"}, tiny), &err), 1);
    EXPECT_TRUE(says(err, "frames/000031.png is not a frame of this capture: it is 320x180, not 160x90")) << err;
    EXPECT_EQ(folder.entries(), 2u) << "frames and out only";
}

TEST(FarmTest, AnOutputFolderWithAPercentAndADemoPathWithASpace)
{
    Scratch folder;
    const std::vector<std::string> second = {"--size", "160x90", "--fps", "10", "--from", "44", "--to", "45"};
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mp4"}, second)), 0);
    fs::create_directories(folder / "bin dir");
    fs::create_symlink(demoBinary, folder / "bin dir/demo");
    fs::create_directories(folder / "50% off");
    std::string err;
    ASSERT_EQ(run(folder, with({farm, "50% off/farm.mp4", "--segments", "2", "--demo", "bin dir/demo"}, second), &err),
              0) << err;
    EXPECT_TRUE(sameFiles(folder / "50% off/farm.mp4", folder / "one.mp4"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "50% off"), fs::directory_iterator()), 1);
}

TEST(FarmTest, ARerunDrawsTheSegmentsThatAreNotWholeWhateverTheJobLogSays)
{
    Scratch folder;
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mp4"}, tiny)), 0);
    // This machine named as a host line (":"); segment 1 fails while the file "fail" is there.
    std::ofstream(folder / "hosts") << ":\n";
    std::ofstream(folder / "flaky-demo") << "#!/bin/bash\n"
        "if [[ \" $* \" == *' 1/3 '* ]] && [ -e " << quoted(folder / "fail") << " ]; then\n"
        "  echo 'demo: no luck this time' >&2; exit 1\n"
        "fi\n"
        "exec " << quoted(demoBinary) << " \"$@\"\n";
    fs::permissions(folder / "flaky-demo", fs::perms::owner_all);
    std::ofstream(folder / "fail");
    const std::vector<std::string> farmed = with(tiny, {"--segments", "3", "--hosts", "hosts", "--demo", "flaky-demo",
                                                        "--retries", "2", "--joblog", "jobs.txt", "--logs", "logs"});
    std::string err;
    ASSERT_EQ(run(folder, with({farm, "farm.mp4"}, farmed), &err), 1) << err;
    // GNU parallel may drop the last lines of a try it retries: the reason is said where it has it.
    EXPECT_TRUE(says(err, "segment 1 failed on ")) << err;
    EXPECT_TRUE(says(err, "; trying again on ")) << err;
    EXPECT_TRUE(says(err, "(try 2 of 2)")) << err;
    EXPECT_TRUE(says(err, "segment 1 of 3 failed (try 2 on ")) << err;
    EXPECT_TRUE(says(err, "2 of 3 segments are whole")) << err;

    int status = -1;
    const std::string state = commandOutput("cd " + quoted(folder.path.string()) + " && " + quoted(farm) +
                                            " farm.mp4 --status", &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(says(state, "60 frames in 3 segments")) << state;
    EXPECT_TRUE(says(state, "whole: 2 of 3 segments (0 2)")) << state;
    EXPECT_TRUE(says(state, "segment 1's last try ended: demo: no luck this time")) << state;

    // The job log says segment 0 succeeded; its frames are gone all the same, and are drawn again.
    fs::remove_all(folder / ".capture-farm.farm.mp4/seg-0");
    fs::remove(folder / "fail");
    ASSERT_EQ(run(folder, with({farm, "farm.mp4"}, farmed), &err), 0) << err;
    EXPECT_TRUE(says(err, "1 of 3 segments are whole already; drawing 0-1")) << err;
    EXPECT_TRUE(sameFiles(folder / "farm.mp4", folder / "one.mp4"));
    std::ifstream log(folder / "jobs.txt");
    const std::string jobs((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(lines(jobs), 3 + 2) << "each segment's last try: 0 to 2, then 0 and 1 again:\n" << jobs;
    EXPECT_TRUE(fs::exists(folder / "logs/seg-0.log") && fs::exists(folder / "logs/seg-2.log"));
    commandOutput("cd " + quoted(folder.path.string()) + " && " + quoted(farm) + " farm.mp4 --status", &status);
    EXPECT_EQ(status, 1) << "nothing kept after success";
}

TEST(FarmTest, AHostThatNeverAnswersIsNamedInBoundedTime)
{
    // A listener on 127.0.0.1 that takes connections and never says a word, as a frozen host does.
    const int port = freePort();
    DemoProcess mute({"python3", "-c",
                      "import socket, sys\n"
                      "s = socket.socket(); s.bind(('127.0.0.1', int(sys.argv[1]))); s.listen(8); held = []\n"
                      "while True: held.append(s.accept())\n",
                      std::to_string(port)});
    for (const double start = now(); !portAnswers(port) && now() - start < 20.0;)
        usleep(20000);
    ASSERT_TRUE(portAnswers(port)) << "the listener did not start";
    Scratch folder;
    std::ofstream(folder / "hosts") << "1/ssh -p " << port << " -o BatchMode=yes root@127.0.0.1\n:\n";
    std::string err;
    // Without a timeout of its own ssh would wait for ever: the test's deadline stands in for it.
    EXPECT_EQ(run(folder, with({"timeout", "60", farm, "a.mp4", "--hosts", "hosts", "--demo", demoBinary}, tiny), &err),
              1) << err;
    EXPECT_EQ(lines(err), 1) << err;
    EXPECT_TRUE(says(err, "root@127.0.0.1 did not answer within 10 s")) << err;
    EXPECT_EQ(folder.entries(), 1u) << "nothing sent, nothing kept";
}

// Processes of the group that have not ended: zombies are left out.
static int livingMembers(pid_t group)
{
    int living = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        // After the command's name: state, parent, process group.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        char state = 0;
        long parent = 0, pgrp = 0;
        if (rest >> state >> parent >> pgrp && pgrp == group && state != 'Z')
            ++living;
    }
    return living;
}

TEST(FarmTest, CtrlCSaysSoKeepsTheWorkAndEndsWith130)
{
    Scratch folder;
    ASSERT_EQ(run(folder, with({demoBinary, "--capture", "one.mp4"}, tiny)), 0);
    const std::vector<std::string> farmed = with({farm, "farm.mp4", "--segments", "3", "--demo", demoBinary}, tiny);
    {
        // In a process group of its own, as a terminal's foreground job, which Ctrl-C signals whole.
        DemoProcess running(folder / "farm.mp4", {}, with({"setsid"}, farmed));
        for (const double start = now(); now() - start < 120.0; usleep(20000)) {
            std::error_code error;
            bool drawn = false;
            for (const auto& entry : fs::recursive_directory_iterator(workFolder(folder, "farm.mp4"), error))
                drawn = drawn || entry.path().extension() == ".png";
            if (drawn)
                break;
        }
        const pid_t group = running.id();
        ASSERT_EQ(kill(-group, SIGINT), 0);
        const Exit exit = running.wait(120.0);
        EXPECT_EQ(exit.status, 130) << exit.err;
        EXPECT_TRUE(says(exit.err, "capture-farm: interrupted;")) << exit.err;
        EXPECT_FALSE(says(exit.err, "failed")) << exit.err;
        EXPECT_TRUE(fs::exists(workFolder(folder, "farm.mp4") / "stamp"));
        // A zombie has ended already; only its reaping, by whichever init adopts it, is left.
        EXPECT_EQ(livingMembers(group), 0) << "a job outlived the farm:\n"
                                           << commandOutput("ps -e -o pgid=,pid=,stat=,args= | awk '$1 == " +
                                                            std::to_string(group) + "'");
    }
    std::string err;
    ASSERT_EQ(run(folder, farmed, &err), 0) << err;
    EXPECT_TRUE(sameFiles(folder / "farm.mp4", folder / "one.mp4"));
}

TEST(FarmTest, BadInputSaysOneLineAndLeavesNothing)
{
    Scratch folder;
    std::ofstream(folder / "hosts") << "1/ssh -p " << freePort() << " -o BatchMode=yes root@127.0.0.1\n";
    const std::vector<std::vector<std::string>> bad = {
        with({farm, "a.mp4", "--segments", "61", "--demo", demoBinary}, tiny),                  // 60 frames
        with({farm, "a.mp4", "--segments", "2", "--hosts", "hosts", "--demo", demoBinary}, tiny), // nobody there
        with({demoBinary, "--capture", "a/%03d.png", "--segment", "1.5/3"}, tiny),               // not a segment
        with({demoBinary, "--capture", "a.mp4", "--segment", "0/3"}, tiny),                      // frames only
    };
    for (const auto& command : bad) {
        std::string err;
        EXPECT_NE(run(folder, command, &err), 0) << command[1];
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(folder.entries(), 1u) << err;
    }
}

} // namespace
