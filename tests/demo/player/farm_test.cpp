// A capture drawn as segments by GNU parallel, here and over ssh, against the single run of the
// real binary, compared byte for byte by cmp.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

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

    // Drawn on another machine (here, through ssh) and returned by GNU parallel.
    ThrowawaySshd sshd;
    ASSERT_TRUE(portAnswers(sshd.port)) << "sshd did not start";
    std::ofstream(folder / "hosts") << sshd.hostsLine << "\n";
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
