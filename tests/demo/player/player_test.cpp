// The ways of watching beyond the live show, through the real binary: stills, captures read
// back by ffmpeg's own tools, their faults, the window, and the benchmark's table.
#include "support/demo_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using namespace DemoTest;
namespace fs = std::filesystem;

const std::string demoBinary = DEMO_BINARY;

Exit runDemo(std::vector<std::string> arguments, std::vector<std::string> environment = {}, double seconds = 120.0)
{
    arguments.insert(arguments.begin(), demoBinary);
    DemoProcess demo(demoBinary, environment, arguments);
    return demo.wait(seconds);
}

// The demo (and the encoder it starts) bound to one CPU, as on a machine that has only one.
Exit runDemoOnOneCpu(const std::vector<std::string>& arguments)
{
    cpu_set_t all;
    sched_getaffinity(0, sizeof all, &all);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    sched_setaffinity(0, sizeof one, &one);
    const Exit exit = runDemo(arguments);
    sched_setaffinity(0, sizeof all, &all);
    return exit;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Polls `condition` until it holds; false when it did not within `seconds`.
template <typename Condition>
bool waitUntil(Condition condition, double seconds)
{
    for (const double end = now() + seconds; now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (condition())
            return true;
    return false;
}

int lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Mono 16-bit samples at 44.1 kHz of what ffmpeg decodes from `input` (with its own options).
std::vector<short> decodeAudio(const std::string& input)
{
    const std::string raw = commandOutput("ffmpeg -v error " + input + " -ac 1 -ar 44100 -f s16le -");
    std::vector<short> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

// The time, in seconds from the start, where the loudness (RMS over 10 ms) jumps the most.
double loudnessJump(const std::vector<short>& samples)
{
    constexpr size_t window = 441;
    std::vector<double> rms;
    for (size_t i = 0; i + window <= samples.size(); i += window) {
        double sum = 0.0;
        for (size_t k = i; k < i + window; ++k)
            sum += double(samples[k]) * samples[k];
        rms.push_back(std::sqrt(sum / window));
    }
    size_t best = 0;
    double bestRatio = 0.0;
    for (size_t i = 5; i + 5 < rms.size(); ++i) {
        double before = 1.0, after = 1.0;
        for (size_t k = 0; k < 5; ++k) {
            before += rms[i - 5 + k];
            after += rms[i + k];
        }
        if (after / before > bestRatio) {
            bestRatio = after / before;
            best = i;
        }
    }
    return best * 0.01;
}

TEST(PlayerTest, HelpVersionAndBadCommandLinesNeedNoDisplay)
{
    const Exit help = runDemo({"--help"}, {"DISPLAY="});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--capture"), std::string::npos) << help.out;
    const Exit version = runDemo({"--version"}, {"DISPLAY="});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("demo ") + DEMO_VERSION + "\n");
    // Output that cannot be written is a failure that says why.
    for (const char* option : {"--help", "--version"})
        EXPECT_EQ(commandOutput(demoBinary + " " + option + " 2>&1 >/dev/full; echo $?"),
                  "demo: could not write to standard output: No space left on device\n1\n");

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--scale", "0.1"}, {"--still", "99", "x.png"}, {"--fullscreen"}}) {
        const Exit exit = runDemo(bad, {"DISPLAY="});
        EXPECT_EQ(exit.status, 2) << bad[0];
        EXPECT_EQ(lines(exit.err), 1) << exit.err;
        EXPECT_NE(exit.err.find("see demo --help"), std::string::npos) << exit.err;
    }
}

TEST(PlayerTest, ACaptureIsH264WithTheMatchingSoundAndTheSameFileWhateverTheCpus)
{
    Scratch folder;
    const std::string video = folder / "drop.mp4";
    const std::vector<std::string> capture = {"--capture", video, "--size", "320x180", "--fps", "10", "--from", "46",
                                              "--to", "50"};
    const Exit first = runDemo(capture);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(folder.entries(), 1u) << "only the video is left";

    const std::string streams = commandOutput("ffprobe -v error -count_frames -show_entries "
                                              "stream=codec_name,width,height,pix_fmt,nb_read_frames,duration "
                                              "-of compact=p=0:nk=0 " + video);
    EXPECT_NE(streams.find("codec_name=h264|width=320|height=180|pix_fmt=yuv420p"), std::string::npos) << streams;
    EXPECT_NE(streams.find("nb_read_frames=40"), std::string::npos) << streams;
    const size_t aac = streams.find("codec_name=aac");
    ASSERT_NE(aac, std::string::npos) << streams;
    const double audioSeconds = std::atof(streams.substr(streams.find("duration=", aac) + 9).c_str());
    EXPECT_NEAR(audioSeconds, 4.0, 0.1);

    // The drop at 48 s: where the soundtrack itself jumps, the video's sound jumps too.
    const std::string soundtrack = fs::path(demoBinary).parent_path() / "valdrim.mp3";
    const double inSoundtrack = loudnessJump(decodeAudio("-ss 46 -t 4 -i " + soundtrack));
    const double inVideo = loudnessJump(decodeAudio("-i " + video));
    EXPECT_NEAR(inSoundtrack, 2.0, 0.1);
    EXPECT_NEAR(inVideo, inSoundtrack, 0.1);

    // Again as on a machine with one CPU: the very same file, whatever the encoder's threads
    // would follow by default. (A WebM's encoder takes its threads as x264 does.)
    const std::string again = folder / "again.mp4";
    std::vector<std::string> second = capture;
    second[1] = again;
    ASSERT_EQ(runDemoOnOneCpu(second).status, 0);
    EXPECT_TRUE(fileBytes(video) == fileBytes(again)) << "the capture on one CPU is another file";
    std::vector<std::string> webm = {"--capture", folder / "a.webm", "--size", "320x180", "--fps", "30", "--from",
                                     "50", "--to", "51"};
    ASSERT_EQ(runDemo(webm).status, 0);
    webm[1] = folder / "b.webm";
    ASSERT_EQ(runDemoOnOneCpu(webm).status, 0);
    EXPECT_TRUE(fileBytes(folder / "a.webm") == fileBytes(folder / "b.webm")) << "the WebM on one CPU is another file";
}

TEST(PlayerTest, AFrameOfACaptureIsTheStillAtItsTimeBarsBlack)
{
    Scratch folder;
    // 400x400 is not 16:9: the picture is 400x225 with bars of 88 rows above and 87 below.
    const Exit capture = runDemo({"--capture", folder / "f%03d.png", "--size", "400x400", "--fps", "10", "--from",
                                  "60", "--to", "60.3"});
    ASSERT_EQ(capture.status, 0) << capture.err;
    ASSERT_EQ(folder.entries(), 3u);
    const Exit still = runDemo({"--still", "60.2", folder / "still.png", "--size", "400x400"});
    ASSERT_EQ(still.status, 0) << still.err;

    const Image frame = readImage(folder / "f002.png");
    const Image picture = readImage(folder / "still.png");
    ASSERT_EQ(picture.width, 400);
    ASSERT_EQ(picture.height, 400);
    EXPECT_EQ(frame.rgb, picture.rgb) << "capture frame 2 is t = 60.2";
    EXPECT_NE(readImage(folder / "f001.png").rgb, picture.rgb);

    long lit = 0, litBars = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const unsigned char* p = picture.at(x, y);
            const bool bar = y < 88 || y >= 88 + 225;
            (bar ? litBars : lit) += p[0] + p[1] + p[2] > 0;
        }
    EXPECT_EQ(litBars, 0);
    EXPECT_GT(lit, 400 * 225 / 2);
}

// The encoded video frames of a file, packet by packet (sizes, times and checksums), without the
// header that names the file.
std::string videoPackets(const std::string& file)
{
    const std::string md5 = commandOutput("ffmpeg -v error -i " + file + " -map 0:v -c copy -f framemd5 -");
    const size_t first = md5.find("\n0,");
    return first == std::string::npos ? "(no video in " + file + ")" : md5.substr(first);
}

// A capture reads each frame back through a ring of buffers and hands it over frames later: its
// frames are still the stills of their times, each once and in order, at sizes whose rows are no
// multiple of 2, 4 or 16, at a smaller scale, and for one frame alone. A video's frames, made into
// the encoder's planes on the CPU or on the GPU, are those stills' planes: the video joined from
// the stills carries the same encoded frames, byte for byte.
TEST(PlayerTest, ACapturesFramesAreTheStillsOfTheirTimesEachOnceInOrder)
{
    struct Case {
        std::string size;
        int frames; // from 60 s at 10 per second
        std::vector<std::string> scale;
    };
    for (const Case& c : {Case{"161x91", 5, {}}, Case{"162x92", 4, {}}, Case{"320x180", 3, {"--scale", "0.5"}},
                          Case{"1280x720", 2, {}}, Case{"162x92", 1, {}}}) {
        SCOPED_TRACE(c.size + ", " + std::to_string(c.frames) + " frames" + (c.scale.empty() ? "" : ", scale 0.5"));
        Scratch folder;
        const auto with = [&](std::vector<std::string> arguments, std::vector<std::string> more = {}) {
            arguments.insert(arguments.end(), {"--size", c.size});
            arguments.insert(arguments.end(), c.scale.begin(), c.scale.end());
            arguments.insert(arguments.end(), more.begin(), more.end());
            return arguments;
        };
        const std::vector<std::string> range = {"--fps", "10", "--from", "60", "--to", std::to_string(60 + c.frames / 10.0)};
        const auto numbered = [&](const std::string& subfolder, int n) {
            char name[16];
            std::snprintf(name, sizeof name, "/%03d.png", n);
            return folder / (subfolder + name);
        };
        fs::create_directories(folder.path / "stills");
        for (int n = 0; n < c.frames; ++n) {
            const Exit still = runDemo(with({"--still", std::to_string(60 + n / 10.0), numbered("stills", n)}));
            ASSERT_EQ(still.status, 0) << still.err;
        }
        fs::create_directories(folder.path / "frames");
        const Exit images = runDemo(with({"--capture", folder / "frames/%03d.png"}, range));
        ASSERT_EQ(images.status, 0) << images.err;
        for (int n = 0; n < c.frames; ++n)
            EXPECT_EQ(readImage(numbered("frames", n)).rgb, readImage(numbered("stills", n)).rgb) << "frame " << n;
        if (c.size == "161x91")
            continue; // a video needs an even size
        const std::string joined = folder / "joined.mkv";
        const Exit join = runDemo(with({"--capture", joined, "--join", folder / "stills/%03d.png"}, range));
        ASSERT_EQ(join.status, 0) << join.err;
        for (const char* side : {"cpu", "gpu"}) {
            const std::string video = folder / (std::string(side) + ".mkv");
            const Exit capture = runDemo(with({"--capture", video, "--convert-on", side}, range));
            ASSERT_EQ(capture.status, 0) << capture.err;
            EXPECT_EQ(videoPackets(video), videoPackets(joined)) << "converted on the " << side;
        }
    }
}

// A video's join reads the frames itself: one of another size than the capture's, or one that is
// no PNG, is named in one line, and nothing is written.
TEST(PlayerTest, AJoinOfAFrameThatDoesNotFitNamesItAndWritesNothing)
{
    Scratch folder;
    fs::create_directories(folder.path / "f");
    const Exit frames = runDemo({"--capture", folder / "f/%03d.png", "--size", "160x90", "--fps", "10", "--to", "0.2"});
    ASSERT_EQ(frames.status, 0) << frames.err;
    const std::vector<std::string> join = {"--capture", folder / "out.mkv", "--fps", "10", "--to", "0.2", "--join",
                                           folder / "f/%03d.png"};
    std::vector<std::string> larger = join;
    larger.insert(larger.end(), {"--size", "162x92"});
    const Exit wrongSize = runDemo(larger);
    EXPECT_EQ(wrongSize.status, 1);
    EXPECT_EQ(wrongSize.err,
              "demo: " + folder / "f/000.png" + " is not a frame of this capture: it is 160x90, not 162x92\n");

    std::ofstream(folder / "f/001.png") << "not a picture";
    std::vector<std::string> broken = join;
    broken.insert(broken.end(), {"--size", "160x90"});
    const Exit unreadable = runDemo(broken);
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_NE(unreadable.err.find("001.png is not a frame of this capture: it cannot be read"), std::string::npos)
        << unreadable.err;
    EXPECT_EQ(unreadable.err.find("demo: "), unreadable.err.rfind("demo: ")) << "beside the progress, one line:\n"
                                                                            << unreadable.err;
    EXPECT_EQ(folder.entries(), 1u) << "only the frames' folder";
}

TEST(PlayerTest, FaultsEndWithAMessageAndLeaveNothingBehind)
{
    Scratch folder;
    const std::string video = folder / "out.mp4";
    const std::vector<std::string> capture = {"--capture", video, "--size", "160x90", "--fps", "10", "--from", "10",
                                              "--to", "60"};

    // A folder that does not exist.
    const Exit missing = runDemo({"--capture", folder / "no/such/out.mp4", "--size", "160x90"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no such folder"), std::string::npos) << missing.err;

    // A target that is a folder: said before anything is rendered, the folder left as it is.
    fs::create_directory(video);
    for (const std::vector<std::string>& arguments : {capture, {"--still", "10", video, "--size", "160x90"}}) {
        const Exit folderTarget = runDemo(arguments);
        EXPECT_EQ(folderTarget.status, 1);
        EXPECT_EQ(folderTarget.err, "demo: could not write \"" + video + "\": it is a folder\n");
    }
    EXPECT_TRUE(fs::is_directory(video));
    fs::remove(video);

    // No ffmpeg at all: said before anything is rendered.
    const Exit noEncoder = runDemo(capture, {"PATH=" + folder.path.string()});
    EXPECT_EQ(noEncoder.status, 1);
    EXPECT_NE(noEncoder.err.find("apt-get install ffmpeg"), std::string::npos) << noEncoder.err;
    EXPECT_EQ(lines(noEncoder.err), 1) << noEncoder.err;

    // An encoder that fails half-way, as ffmpeg does when the disk fills: its last word is shown
    // and neither the partial file nor the target stays.
    const fs::path bin = folder.path / "bin";
    fs::create_directory(bin);
    {
        std::ofstream script(bin / "ffmpeg");
        script << "#!/bin/sh\nfor last; do :; done\nlast=${last#file:}\necho partial > \"$last\"\nhead -c 100000 >/dev/null\n"
                  "echo 'out.mp4: No space left on device' >&2\nexit 1\n";
    }
    fs::permissions(bin / "ffmpeg", fs::perms::owner_all);
    const Exit failing = runDemo(capture, {"PATH=" + bin.string() + ":/usr/bin:/bin"});
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.err.find("No space left on device"), std::string::npos) << failing.err;
    fs::remove_all(bin);
    EXPECT_EQ(folder.entries(), 0u);

    // Without the soundtrack beside the binary the video is silent, and says so once.
    const fs::path alone = folder.path / "alone";
    fs::create_directory(alone);
    fs::copy_file(demoBinary, alone / "demo");
    const std::string silent = folder / "silent.mkv";
    DemoProcess soundless((alone / "demo").string(), {},
                          {(alone / "demo").string(), "--capture", silent, "--size", "160x90", "--fps", "10", "--to", "0.5"});
    const Exit quiet = soundless.wait(120.0);
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_NE(quiet.err.find("warning: "), std::string::npos) << quiet.err;
    EXPECT_EQ(commandOutput("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + silent), "video\n");
    fs::remove_all(alone);
    fs::remove(silent);

    // Larger than GL allows, or no display: found once the encoder has started, which is
    // stopped and its partial file removed.
    const Exit huge = runDemo({"--still", "1", folder / "x.png", "--size", "60000x100"});
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.err.find("larger"), std::string::npos) << huge.err;
    const Exit hugeVideo = runDemo({"--capture", video, "--size", "60000x100"});
    EXPECT_EQ(hugeVideo.status, 1);
    EXPECT_NE(hugeVideo.err.find("larger"), std::string::npos) << hugeVideo.err;
    const Exit noDisplay = runDemo(capture, {"DISPLAY="});
    EXPECT_EQ(noDisplay.status, 1);
    EXPECT_NE(noDisplay.err.find("no display"), std::string::npos) << noDisplay.err;
    EXPECT_EQ(folder.entries(), 0u);

    // Ctrl-C half-way through, once the encoder is writing its file.
    {
        std::vector<std::string> arguments = capture;
        arguments.insert(arguments.begin(), demoBinary);
        DemoProcess demo(demoBinary, {}, arguments);
        ASSERT_TRUE(waitUntil([&] { return folder.entries() > 0; }, 60.0)) << "the capture never began";
        demo.signal(SIGINT);
        const Exit interrupted = demo.wait(30.0);
        EXPECT_TRUE(interrupted.exited);
        EXPECT_EQ(interrupted.status, 130) << interrupted.err;
    }
    EXPECT_EQ(folder.entries(), 0u);
}

// A still that does not fit on the disk: one line naming the cause, status 1, and the file of
// that name from before is left as it was. The disk is a small tmpfs, mostly filled, in a mount
// namespace of the demo's own.
TEST(PlayerTest, AStillThatDoesNotFitLeavesTheEarlierFileAndSaysWhy)
{
    if (std::system("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "no mount namespace to be had here";
    Scratch folder;
    const std::string disk = folder / "disk";
    fs::create_directory(disk);
    const std::string script = "mount -t tmpfs -o size=300k tmpfs \"$1\" && head -c 250000 /dev/zero >\"$1/fill\" && "
                               "printf earlier >\"$1/s.png\" && \"$2\" --still 43.2 \"$1/s.png\"; echo status=$?; "
                               "[ \"$(cat \"$1/s.png\")\" = earlier ] && echo kept || echo replaced; ls -A \"$1\"";
    const Exit exit = DemoProcess(demoBinary, {}, {"unshare", "-m", "sh", "-c", script, "sh", disk, demoBinary}).wait(120.0);
    ASSERT_TRUE(exit.exited);
    EXPECT_EQ(exit.out, "status=1\nkept\nfill\ns.png\n") << exit.err;
    EXPECT_EQ(lines(exit.err), 1) << exit.err;
    EXPECT_NE(exit.err.find("No space left on device"), std::string::npos) << exit.err;
    EXPECT_NE(exit.err.find("s.png"), std::string::npos) << exit.err;
}

// A colon in a name is part of the file's name, never the encoder's protocol: both a video and
// numbered images are written under the names asked for.
TEST(PlayerTest, NamesWithAColonAreFilesNotProtocols)
{
    Scratch folder;
    fs::create_directory(folder.path / "shots");
    // Named as a user would name them, from the folder they are written to.
    for (const std::string target : {"clip:1.mkv", "shots/shot:%03d.png"}) {
        const Exit exit = DemoProcess(demoBinary, {},
                                      {"sh", "-c", "cd \"$1\" && exec \"$2\" --capture \"$3\" --size 160x90 --fps 10 --to 0.3",
                                       "sh", folder.path.string(), demoBinary, target})
                              .wait(120.0);
        EXPECT_EQ(exit.status, 0) << target << ": " << exit.err;
    }
    EXPECT_GT(fs::file_size(folder.path / "clip:1.mkv"), 0u);
    EXPECT_EQ(commandOutput("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -select_streams v "
                            "-of csv=p=0 file:" + (folder / "clip:1.mkv")),
              "3\n");
    for (const char* frame : {"shot:000.png", "shot:001.png", "shot:002.png"})
        EXPECT_TRUE(fs::exists(folder.path / "shots" / frame)) << frame;
}

// Command lines whose picture would be empty or never drawn: refused before anything runs.
TEST(PlayerTest, CommandLinesThatWouldDrawNothingAreRefused)
{
    Scratch folder;
    const std::string still = folder / "x.png", video = folder / "show.mp4", frames = folder / "k/%05d.png";
    fs::create_directory(folder.path / "k");
    const std::vector<std::string> cases[] = {
        {"--still", "86.399999", still},                  // rounds to 86.4 in the show's float
        {"--capture", video, "--from", "86.399999"},
        {"--start", "86.399999"},
        {"--capture", frames, "--to", "0.00000001"},      // less than one frame
        {"--capture", video, "--to", "0.0000001"},
        {"--still", "10", still, "--size", "1x400"},      // a 16:9 picture with a side of 0
        {"--bench", "--size", "1x1"},
        {"--windowed", "--size", "1x400"},
    };
    for (const auto& arguments : cases) {
        const Exit exit = runDemo(arguments, {}, 60.0);
        EXPECT_EQ(exit.status, 2) << arguments[0] << " " << arguments[1] << ": " << exit.err;
        EXPECT_EQ(lines(exit.err), 1) << exit.err;
    }
    EXPECT_EQ(folder.entries(), 1u) << "only the empty k/ is left";
    EXPECT_TRUE(fs::is_empty(folder.path / "k"));
}

// A stand-in for ffmpeg, first on PATH: `body` runs with $last set to the output file.
std::string standInEncoder(const fs::path& bin, const std::string& body)
{
    fs::create_directories(bin);
    {
        std::ofstream script(bin / "ffmpeg");
        script << "#!/bin/sh\nfor last; do :; done\nlast=${last#file:}\n" << body << "\n";
    }
    fs::permissions(bin / "ffmpeg", fs::perms::owner_all);
    return "PATH=" + bin.string() + ":/usr/bin:/bin";
}

TEST(PlayerTest, AnImageCaptureReplacesNoFrameItDidNotWrite)
{
    Scratch folder;
    fs::create_directory(folder.path / "h");
    const std::string earlier = folder / "h/00090.png";
    std::ofstream(earlier) << "an earlier capture's frame";
    const std::vector<std::string> capture = {"--capture", folder / "h/%05d.png", "--size", "160x90", "--fps", "10",
                                              "--to", "30"};

    // Without --overwrite it does not start, and says which file is in the way.
    const Exit refused = runDemo(capture);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("00090.png"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--overwrite"), std::string::npos) << refused.err;
    EXPECT_EQ(lines(refused.err), 1) << refused.err;

    // With it, Ctrl-C at about frame 5 removes the frames this run wrote, and only those.
    std::vector<std::string> arguments = capture;
    arguments.insert(arguments.begin(), demoBinary);
    arguments.push_back("--overwrite");
    DemoProcess demo(demoBinary, {}, arguments);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(folder / "h/00005.png"); }, 60.0));
    demo.signal(SIGINT);
    const Exit interrupted = demo.wait(30.0);
    EXPECT_EQ(interrupted.status, 130) << interrupted.err;
    std::string kept;
    std::getline(std::ifstream(earlier), kept);
    EXPECT_EQ(kept, "an earlier capture's frame");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path / "h"), {}), 1);
}

// A pattern without a leading zero (%3d) is checked and cleaned under the names the encoder
// writes ("000", not "  0"), and a % in a video's name is part of its name.
TEST(PlayerTest, CaptureNamesAreTheFilesTheEncoderWrites)
{
    Scratch folder;
    fs::create_directory(folder.path / "f");
    fs::create_directory(folder.path / "g");
    std::ofstream(folder / "f/000.png") << "precious";

    // Without --overwrite the frame already there stops the capture, and stays.
    const Exit refused =
        runDemo({"--capture", folder / "f/%3d.png", "--size", "32x18", "--fps", "2", "--from", "10", "--to", "11"});
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("f/000.png is already there"), std::string::npos) << refused.err;
    std::string kept;
    std::getline(std::ifstream(folder / "f/000.png"), kept);
    EXPECT_EQ(kept, "precious");

    // Ctrl-C removes every frame this run wrote.
    DemoProcess demo(demoBinary, {},
                     {demoBinary, "--capture", folder / "g/%3d.png", "--size", "160x90", "--fps", "10", "--to", "30"});
    ASSERT_TRUE(waitUntil([&] { return fs::exists(folder / "g/005.png"); }, 60.0)) << "no frame 005.png was written";
    demo.signal(SIGINT);
    const Exit interrupted = demo.wait(30.0);
    EXPECT_EQ(interrupted.status, 130) << interrupted.err;
    EXPECT_TRUE(fs::is_empty(folder.path / "g")) << "frames were left behind";

    // "50%.mp4" is a video of that name.
    const Exit percent =
        runDemo({"--capture", folder / "50%.mp4", "--size", "32x18", "--fps", "2", "--from", "10", "--to", "11"});
    EXPECT_EQ(percent.status, 0) << percent.err;
    EXPECT_GT(fs::file_size(folder.path / "50%.mp4"), 0u);
}

// The encoder's exit status decides, even where it cannot be learnt, and a stop while the
// encoder finishes, or while a still is made, leaves nothing behind.
TEST(PlayerTest, AnEncoderThatFailsOrIsStoppedAtTheEndWritesNothing)
{
    Scratch folder;
    const std::string video = folder / "x2.mp4";
    const std::vector<std::string> capture = {demoBinary, "--capture", video, "--size", "160x90", "--fps", "10",
                                              "--to", "1"};

    // SIGCHLD inherited as ignored, as some service managers leave it.
    std::vector<std::string> ignoring = {"/usr/bin/env", "--ignore-signal=CHLD"};
    ignoring.insert(ignoring.end(), capture.begin(), capture.end());
    const std::string failingPath =
        standInEncoder(folder.path / "bin", "printf 12345678 > \"$last\"\ncat >/dev/null\nexit 1");
    const Exit failed = DemoProcess(demoBinary, {failingPath}, ignoring).wait(120.0);
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_FALSE(fs::exists(video));

    // Ctrl-C while the encoder writes its file, after the last frame.
    const std::string finishing = folder / "finishing";
    const std::string slowPath = standInEncoder(
        folder.path / "bin", "cat >/dev/null\ntouch " + finishing + "\nsleep 5\nprintf done > \"$last\"\nexit 0");
    DemoProcess ending(demoBinary, {slowPath}, capture);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(finishing); }, 60.0));
    ending.signal(SIGINT);
    const Exit stopped = ending.wait(30.0);
    EXPECT_EQ(stopped.status, 130) << stopped.err;
    fs::remove_all(folder.path / "bin");
    fs::remove(finishing);
    EXPECT_EQ(folder.entries(), 0u);

    // SIGTERM while a still is made.
    DemoProcess still(demoBinary, {}, {demoBinary, "--still", "52.8", folder / "s.png"});
    ASSERT_TRUE(waitUntil([&] { return still.catches(SIGTERM); }, 30.0));
    still.signal(SIGTERM);
    const Exit terminated = still.wait(60.0);
    EXPECT_EQ(terminated.status, 143) << terminated.err;
    EXPECT_EQ(folder.entries(), 0u);
}

// Whether the pipe that is process `pid`'s standard input is as good as full: its writer waits,
// or will at its next frame. The kernel fills a pipe by pages and leaves a page's tail unused
// where a write ends mid-page, so a full pipe can hold a few pages' worth less than its size.
bool inputPipeIsFull(pid_t pid)
{
    const int fd = open(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int held = 0;
    const int capacity = fcntl(fd, F_GETPIPE_SZ);
    const bool full = ioctl(fd, FIONREAD, &held) == 0 && capacity > 0 && capacity - held < capacity / 16;
    close(fd);
    return full;
}

// A capture whose encoder has stopped reading still ends on Ctrl-C or SIGTERM, with the first
// signal's status, the encoder stopped and nothing left behind.
TEST(PlayerTest, AStuckEncoderIsStoppedBySignals)
{
    Scratch folder;
    const std::string pidFile = folder / "encoder.pid";
    const std::string stuck = standInEncoder(folder.path / "bin", "echo $$ > " + pidFile + "\nexec sleep 1000");
    for (const auto& [signals, status] : {std::pair{std::vector<int>{SIGTERM}, 143}, std::pair{std::vector<int>{SIGINT}, 130},
                                          std::pair{std::vector<int>{SIGTERM, SIGINT}, 143}}) {
        // A few frames fill the pipe: the demo is soon waiting to write.
        DemoProcess demo(demoBinary, {stuck},
                         {demoBinary, "--capture", folder / "x.mp4", "--size", "640x360", "--fps", "10", "--to", "5"});
        ASSERT_TRUE(waitUntil([&] { return fs::exists(pidFile) && fs::file_size(pidFile) > 0; }, 60.0));
        pid_t encoder = 0;
        std::ifstream(pidFile) >> encoder;
        ASSERT_TRUE(waitUntil([&] { return inputPipeIsFull(encoder); }, 60.0)) << "the demo never filled the pipe";
        for (const int signal : signals)
            demo.signal(signal);
        const Exit exit = demo.wait(60.0);
        ASSERT_TRUE(exit.exited) << "the capture hung on its stuck encoder";
        EXPECT_EQ(exit.status, status) << exit.err;
        // Gone, or at most waiting to be reaped by whoever inherited it.
        const bool running = encoder > 0 && kill(encoder, 0) == 0 &&
                             commandOutput("ps -o stat= -p " + std::to_string(encoder)).find('Z') == std::string::npos;
        EXPECT_FALSE(running) << "the encoder " << encoder << " was left running";
        if (running)
            kill(encoder, SIGKILL);
        fs::remove(pidFile);
        EXPECT_EQ(folder.entries(), 1u) << "only the stand-in's folder";
    }
}

// The encoder's messages are kept where no one else can reach them: a link planted in the
// temporary folder under the name an earlier version used is neither followed nor replaced.
TEST(PlayerTest, TheEncodersMessagesTouchNoSharedFile)
{
    Scratch folder;
    const std::string victim = folder / "precious.txt";
    std::ofstream(victim) << "keep me";
    fs::create_directory(folder.path / "tmp");
    const std::vector<std::string> capture = {demoBinary, "--capture", folder / "c.mkv", "--size", "160x90",
                                              "--fps", "10", "--to", "1"};
    DemoProcess demo(demoBinary, {"TMPDIR=" + (folder / "tmp")}, capture);
    fs::create_symlink(victim, folder.path / "tmp" / ("demo-ffmpeg-" + std::to_string(demo.id()) + ".log"));
    const Exit exit = demo.wait(120.0);
    EXPECT_EQ(exit.status, 0) << exit.err;
    std::string content;
    std::getline(std::ifstream(victim), content);
    EXPECT_EQ(content, "keep me");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path / "tmp"), {}), 1) << "only the planted link";
}

TEST(PlayerTest, AWindowOfTheChosenSizeStartsWhereAskedAndATapOfEscapeEndsIt)
{
    XvfbServer screen(1024, 768);
    ASSERT_FALSE(screen.display.empty());
    // 53 s: shot 7, with the grid's blue glow spread over the ground.
    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display},
                     {demoBinary, "--windowed", "--size", "640x360", "--start", "53"});
    ASSERT_TRUE(waitForWindow(screen.display, "demo", 60.0));
    const WindowSize size = windowSize(screen.display, "demo");
    EXPECT_EQ(size.width, 640);
    EXPECT_EQ(size.height, 360);

    // The window lies wherever the windowing library centred it.
    const auto bluePixels = [](const Image& shown) {
        int blue = 0;
        for (int y = 0; y < shown.height; ++y)
            for (int x = 0; x < shown.width; ++x) {
                const unsigned char* p = shown.at(x, y);
                blue += p[2] > 120 && p[2] > p[0] + 80 && p[2] > p[1] + 40;
            }
        return blue;
    };
    // However long start-up takes, the first pictures show the grid.
    waitForScreen(screen.display, [&](const Image& shown) { return bluePixels(shown) > 500; }, 120.0);
    const Image shown = screenshot(screen.display, std::string(WORK_DIR) + "/windowed-53s.png");
    EXPECT_GT(bluePixels(shown), 500) << "the grid of 53 s";

    // A tap: pressed and released at once, far shorter than a frame here.
    ASSERT_TRUE(setKey(screen.display, "Escape", true));
    ASSERT_TRUE(setKey(screen.display, "Escape", false));
    const Exit exit = demo.wait(30.0);
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.status, 0) << exit.err;
}

// --size without --windowed picks a full-screen video mode the display offers (Xvfb offers its
// screen's size) and names the ones it offers when it has none of that size.
TEST(PlayerTest, AFullScreenSizeMustBeOneTheDisplayOffers)
{
    XvfbServer screen(800, 600);
    ASSERT_FALSE(screen.display.empty());
    const Exit refused = runDemo({"--size", "640x360"}, {"DISPLAY=" + screen.display}, 60.0);
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_NE(refused.err.find("800x600"), std::string::npos) << refused.err;
    EXPECT_EQ(lines(refused.err), 1) << refused.err;

    DemoProcess demo(demoBinary, {"DISPLAY=" + screen.display}, {demoBinary, "--size", "800x600", "--start", "53"});
    ASSERT_TRUE(waitForWindow(screen.display, "OpenGL", 60.0));
    const WindowSize size = windowSize(screen.display, "OpenGL");
    EXPECT_EQ(size.width, 800);
    EXPECT_EQ(size.height, 600);
    ASSERT_TRUE(waitForPicture(screen.display, 120.0)) << "no picture was drawn";
    ASSERT_TRUE(setKey(screen.display, "Escape", true));
    const Exit exit = demo.wait(30.0);
    setKey(screen.display, "Escape", false);
    EXPECT_EQ(exit.status, 0) << exit.err;
}

double framesPerSecond(const std::string& benchOutput)
{
    const std::string label = "(no read-back): ";
    const size_t at = benchOutput.find(label);
    return at == std::string::npos ? 0.0 : std::atof(benchOutput.c_str() + at + label.size());
}

// --scale: the passes render smaller and the picture keeps its size, softer but alike; at 1 it
// is today's picture to the byte, and a smaller scale renders faster.
TEST(PlayerTest, AScaledRenderingKeepsThePicturesSizeAndLooksAlike)
{
    Scratch folder;
    const std::vector<std::string> still = {"--still", "52.8", "", "--size", "640x360"};
    const auto make = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> arguments = still;
        arguments[2] = folder / name;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const Exit exit = runDemo(arguments);
        EXPECT_EQ(exit.status, 0) << exit.err;
        return fileBytes(folder / name);
    };
    const std::string full = make("full.png", {}), one = make("one.png", {"--scale", "1"});
    make("half.png", {"--scale", "0.5"});
    EXPECT_EQ(one, full) << "--scale 1 changes nothing";
    const Image sharp = readImage(folder / "full.png"), soft = readImage(folder / "half.png");
    ASSERT_EQ(soft.width, 640);
    ASSERT_EQ(soft.height, 360);
    EXPECT_NE(soft.rgb, sharp.rgb);
    // Another moment of the show, for scale: how far apart unlike pictures are.
    const Exit other = runDemo({"--still", "20", folder / "other.png", "--size", "640x360"});
    ASSERT_EQ(other.status, 0) << other.err;
    const double alike = blurredDifference(soft, sharp, 8), unlike = blurredDifference(readImage(folder / "other.png"), sharp, 8);
    EXPECT_LT(alike, 6.0);
    EXPECT_LT(alike * 4.0, unlike) << alike << " against " << unlike;

    // A benchmark at half scale is faster; generous, as the machine's load comes and goes.
    const std::vector<std::string> bench = {"--bench", "--frames", "6", "--size", "640x360", "--scale"};
    std::vector<std::string> halfBench = bench, fullBench = bench;
    halfBench.push_back("0.5");
    fullBench.push_back("1");
    const Exit fast = runDemo(halfBench), slow = runDemo(fullBench);
    ASSERT_EQ(fast.status, 0) << fast.err;
    ASSERT_EQ(slow.status, 0) << slow.err;
    EXPECT_NE(fast.err.find("at 320x180"), std::string::npos) << fast.err;
    EXPECT_GT(framesPerSecond(fast.out), framesPerSecond(slow.out)) << fast.out << slow.out;
}

TEST(PlayerTest, TheBenchmarkPrintsEveryPass)
{
    const Exit bench = runDemo({"--bench", "--frames", "3", "--size", "160x90"});
    ASSERT_EQ(bench.status, 0) << bench.err;
    for (const char* pass : {"sky", "scene", "blur 1", "blur 6", "composite", "read-back", "frames per second"})
        EXPECT_NE(bench.out.find(pass), std::string::npos) << bench.out;
}

} // namespace
