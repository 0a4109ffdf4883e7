#include "capture.h"

#include "frame_image.h"
#include "modes.h"
#include "offscreen.h"
#include "read_back.h"
#include "soundtrack.h"
#include "yuv420.h"

#include "platform/platform.h"
#include "show/choreography.h"

#include <GL/glew.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

std::string number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// A file, never a protocol: ffmpeg reads "clip:1.mp4" as the protocol "clip".
std::string fileUrl(const std::string& path)
{
    return "file:" + path;
}

} // namespace

CaptureFormat captureFormatOf(const std::string& file)
{
    const auto endsWith = [&](const char* suffix) {
        const std::string s(suffix);
        return file.size() > s.size() && file.compare(file.size() - s.size(), s.size(), s) == 0;
    };
    CaptureFormat format;
    const size_t slash = file.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    // A video's name is only a name: a % in it is a character like any other.
    if (endsWith(".mp4"))
        format.kind = CaptureFormat::Kind::mp4;
    else if (endsWith(".mkv"))
        format.kind = CaptureFormat::Kind::mkv;
    else if (endsWith(".webm"))
        format.kind = CaptureFormat::Kind::webm;
    else if (const size_t percent = name.find('%'); percent != std::string::npos) {
        // Exactly one frame number, %d or %Nd or %0Nd: the encoder fills it in.
        size_t end = percent + 1;
        while (end < name.size() && name[end] >= '0' && name[end] <= '9')
            ++end;
        const bool oneNumber = end < name.size() && name[end] == 'd' && end - percent <= 3 &&
                               name.find('%', percent + 1) == std::string::npos &&
                               file.substr(0, file.size() - name.size()).find('%') == std::string::npos;
        format.kind = oneNumber && endsWith(".png") ? CaptureFormat::Kind::images : CaptureFormat::Kind::unsupported;
    }
    return format;
}

float captureFrameTime(double from, double fps, unsigned n)
{
    return static_cast<float>(from + n / fps);
}

unsigned captureFrameCount(double from, double to, double fps)
{
    // Exact for whole frame counts such as 4 s at 10 fps, where (to - from) * fps rounds a hair
    // above or below 40.
    const double frames = (to - from) * fps;
    const double whole = std::round(frames);
    unsigned count = static_cast<unsigned>(std::fabs(frames - whole) < 1e-6 ? whole : std::ceil(frames));
    // The show sees each time in single precision: a frame whose time rounds up to the end of
    // the show would be drawn as nothing.
    while (count > 0 && segmentAt(captureFrameTime(from, fps, count - 1)) > lastSegment)
        --count;
    return count;
}

std::string frameFileName(const std::string& pattern, unsigned n)
{
    // As ffmpeg names them: its %Nd pads with zeros, whether or not the pattern says 0.
    const size_t percent = pattern.rfind('%');
    if (percent == std::string::npos)
        return pattern;
    size_t end = percent + 1;
    unsigned width = 0;
    for (; end < pattern.size() && pattern[end] >= '0' && pattern[end] <= '9'; ++end)
        width = width * 10 + static_cast<unsigned>(pattern[end] - '0');
    std::string number = std::to_string(n);
    if (number.size() < width)
        number.insert(0, width - number.size(), '0');
    return pattern.substr(0, percent) + number + pattern.substr(end + 1);
}

FrameRange segmentFrames(unsigned frames, unsigned index, unsigned segments)
{
    const auto cut = [&](unsigned k) {
        return static_cast<unsigned>(static_cast<unsigned long long>(frames) * k / segments);
    };
    return {cut(index), cut(index + 1)};
}

std::vector<std::string> encoderArguments(const EncoderJob& job)
{
    // The encoders' output depends on their number of threads, which by default follows the CPUs
    // this process may use: fixed, the same frames make the same file on any machine. Eight keep
    // a large machine's cores busy at 4K and cost a small one nothing (README).
    static constexpr const char* encoderThreads = "8";
    const std::string size = std::to_string(job.width) + "x" + std::to_string(job.height);
    std::vector<std::string> arguments = {job.ffmpeg, "-hide_banner", "-loglevel", "error", "-y"};
    const bool planes = job.format.takesPlanes();
    arguments.insert(arguments.end(), {"-f", "rawvideo", "-pix_fmt", planes ? "yuv420p" : "rgba", "-s", size,
                                       "-framerate", number(job.fps), "-i", "pipe:0"});
    const bool sound = job.format.hasSound() && !job.soundtrack.empty();
    if (sound) {
        // Decoded from its start and trimmed by sample, so the cut is exact whatever the seek
        // table of the MP3 says.
        arguments.insert(arguments.end(), {"-i", fileUrl(job.soundtrack), "-map", "0:v", "-map", "1:a", "-af",
                                           "atrim=start=" + number(job.from) + ":end=" + number(job.to) +
                                               ",asetpts=PTS-STARTPTS"});
    }
    // GL reads rows from the bottom up; the planes were made the right way up.
    if (!planes)
        arguments.insert(arguments.end(), {"-vf", "vflip"});
    // The planes' colours as yuv420.h made them, said in the stream so that no player guesses.
    if (planes)
        arguments.insert(arguments.end(), {"-color_range", "tv", "-colorspace", "bt709", "-color_primaries", "bt709",
                                           "-color_trc", "bt709", "-chroma_sample_location", "center"});
    switch (job.format.kind) {
    case CaptureFormat::Kind::mp4:
    case CaptureFormat::Kind::mkv:
        // Chosen by measured quality for time (README): x264's fastest preset with the deblocking
        // filter, adaptive quantisation, 8x8 transforms and intra partitions back, which keep more
        // than the medium preset did at a seventh of its time.
        arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "16", "-x264-params",
                                           "deblock=1:aq-mode=1:8x8dct=1:partitions=i8x8,i4x4", "-pix_fmt", "yuv420p",
                                           "-threads", encoderThreads});
        if (sound)
            arguments.insert(arguments.end(), {"-c:a", "aac", "-b:a", "192k"});
        if (job.format.kind == CaptureFormat::Kind::mp4)
            arguments.insert(arguments.end(), {"-movflags", "+faststart"});
        break;
    case CaptureFormat::Kind::webm:
        // libvpx's real-time mode: as good by PSNR as its "good" mode was at CRF 24, at a sixth of
        // the time (README).
        arguments.insert(arguments.end(), {"-c:v", "libvpx-vp9", "-crf", "18", "-b:v", "0", "-row-mt", "1",
                                           "-deadline", "realtime", "-cpu-used", "8", "-pix_fmt", "yuv420p",
                                           "-threads", encoderThreads});
        if (sound)
            arguments.insert(arguments.end(), {"-c:a", "libopus", "-b:a", "160k"});
        break;
    case CaptureFormat::Kind::images:
        arguments.insert(arguments.end(), {"-start_number", std::to_string(job.firstFrame)});
        break;
    case CaptureFormat::Kind::unsupported:
        break;
    }
    // Without these the container carries the muxing date, a random id and ffmpeg's version.
    arguments.insert(arguments.end(), {"-fflags", "+bitexact", "-flags:v", "+bitexact"});
    if (sound)
        arguments.insert(arguments.end(), {"-flags:a", "+bitexact"});
    if (sound)
        arguments.insert(arguments.end(), {"-t", number(job.to - job.from)});
    arguments.push_back(fileUrl(job.output));
    return arguments;
}

void formatProgress(char* line, std::size_t size, unsigned done, unsigned total, double seconds)
{
    constexpr int barWidth = 24;
    const double fraction = total > 0 ? static_cast<double>(done) / total : 1.0;
    char bar[barWidth + 1];
    const int filled = static_cast<int>(fraction * barWidth);
    for (int i = 0; i < barWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[barWidth] = '\0';
    const double rate = seconds > 0.0 ? done / seconds : 0.0;
    const long left = rate > 0.0 ? std::lround((total - done) / rate) : 0;
    std::snprintf(line, size, "[%s] %3d%%  frame %u of %u  %.1f fps  %ld:%02ld left", bar,
                  static_cast<int>(fraction * 100.0), done, total, rate, left / 60, left % 60);
}

namespace {

constexpr int failed = 1;

// Standard error shows how far the capture is: redrawn in place on a terminal, otherwise one
// line per 5 %.
class Progress {
public:
    explicit Progress(unsigned total_)
        : total(total_)
        , terminal(Platform::standardErrorIsTerminal())
        , start(std::chrono::steady_clock::now())
    {
    }
    void update(unsigned done)
    {
        const int step = total > 0 ? static_cast<int>(20.0 * done / total) : 20;
        if (!terminal && step == lastStep)
            return;
        lastStep = step;
        char line[160];
        formatProgress(line, sizeof line, done, total, secondsSince(start));
        std::fprintf(stderr, terminal ? "\r%s" : "%s\n", line);
        if (terminal && done == total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    double seconds() const { return secondsSince(start); }
    // What ends a half-drawn progress line before a message: nothing where lines are whole.
    const char* lineEnd() const { return terminal ? "\n" : ""; }

private:
    unsigned total;
    bool terminal;
    std::chrono::steady_clock::time_point start;
    int lastStep = -1;
};

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

std::string encoderFailure(const std::string& output, const std::string& partial, const std::string& target)
{
    std::string last;
    size_t begin = 0;
    while (begin < output.size()) {
        size_t end = output.find_first_of("\r\n", begin);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(begin, end - begin);
        begin = end + 1;
        line.erase(0, line.find_first_not_of(" \t"));
        if (!line.empty() && line.rfind("Last message repeated", 0) != 0)
            last = line;
    }
    // Named as ffmpeg was given it, then as it is on the disk: the user knows only the target.
    return replaced(replaced(last, fileUrl(partial), target), partial, target);
}

FrameRange captureFrames(const Options& options)
{
    const unsigned frames = captureFrameCount(options.from, options.to, options.fps);
    return options.segments > 0 ? segmentFrames(frames, options.segment, options.segments) : FrameRange{0, frames};
}

namespace {

// Removes what a capture that did not finish left behind: the partial video, or the numbered
// images of the frames this run handed to the encoder, and no others.
void removeCaptureOutput(const Options& options, const std::string& partial, FrameRange sent)
{
    if (captureFormatOf(options.outputFile).kind != CaptureFormat::Kind::images) {
        removeQuietly(partial);
        return;
    }
    for (unsigned n = sent.first; n < sent.end; ++n)
        removeQuietly(frameFileName(options.outputFile, n));
}

EncoderJob encoderJob(const Options& options, const std::string& ffmpeg, const std::string& partial)
{
    EncoderJob job;
    job.ffmpeg = ffmpeg;
    job.format = captureFormatOf(options.outputFile);
    job.width = options.width;
    job.height = options.height;
    job.fps = options.fps;
    job.from = options.from;
    job.to = options.to;
    job.output = partial;
    job.firstFrame = captureFrames(options).first;
    if (job.format.hasSound()) {
        job.soundtrack = findSoundtrack();
        if (job.soundtrack.empty())
            std::fprintf(stderr, "demo: warning: no %s in the working directory or in %s; the video has no sound\n",
                         soundtrackName, Platform::executableDirectory().c_str());
    }
    return job;
}

std::string partialOf(const Options& options)
{
    return captureFormatOf(options.outputFile).kind == CaptureFormat::Kind::images
               ? options.outputFile
               : partialFileName(options.outputFile, Platform::processId());
}

// Waits for the encoder to finish the file and moves it into place; or, after a stop or a
// failure, removes what it wrote (`sent`) and says why. The capture's exit status.
int endCapture(Platform::ChildProcess& encoder, bool written, const Options& options, const std::string& partial,
               FrameRange sent, const Platform::StopRequests& stop)
{
    int status = -1;
    if (stop.received() == 0)
        status = encoder.finish(stop); // a stop while it finishes the file ends it too
    else
        encoder.kill();
    if (const int signal = stop.received()) {
        removeCaptureOutput(options, partial, sent);
        std::fprintf(stderr, "\ndemo: capture stopped; nothing was written\n");
        return 128 + signal;
    }
    // At its log level ffmpeg says only what went wrong, and a file it could not finish (the disk
    // full as it wrote the trailer) still ends with status 0.
    const std::string said = encoder.writtenOutput();
    if (!written || status != 0 || said.find_first_not_of(" \t\r\n") != std::string::npos) {
        const std::string reason = encoderFailure(said, partial, options.outputFile);
        removeCaptureOutput(options, partial, sent);
        std::fprintf(stderr, "\ndemo: ffmpeg failed%s%s\n", reason.empty() ? "" : ": ", reason.c_str());
        return failed;
    }
    if (partial != options.outputFile && !moveIntoPlace(partial, options.outputFile))
        return failed;
    return 0;
}

} // namespace

CaptureEncoder::CaptureEncoder(const Options& options, const std::string& ffmpeg)
    : partial(partialOf(options))
    , video(partial != options.outputFile)
{
    if (!process.start(encoderArguments(encoderJob(options, ffmpeg, partial))))
        std::fprintf(stderr, "demo: could not start %s\n", ffmpeg.c_str());
}

CaptureEncoder::~CaptureEncoder()
{
    if (takenOver || !process.running())
        return;
    // No frame was handed over: no image is written yet, but a video's partial file may be.
    process.kill();
    if (video)
        removeQuietly(partial);
}

int runCapture(OffscreenShow& show, const Options& options, CaptureEncoder& started,
               const Platform::StopRequests& stop)
{
    const std::string& partial = started.partial;
    const FrameRange frames = captureFrames(options);
    Platform::ChildProcess& encoder = started.takeOver();

    // Frame n is read back into slot n % slots and handed over slots - 1 frames later.
    constexpr unsigned slots = ReadBackRing::maxSlots;
    const bool video = captureFormatOf(options.outputFile).takesPlanes();
    FrameReadBack reader(show.canvas, video ? chosenConversion(options.convertOn, show.canvas) : Conversion::none,
                         slots);
    Progress progress(frames.count());
    bool written = true;
    FrameRange sent{frames.first, frames.first};
    // The main thread's time waiting for the pictures read back, converting them and handing
    // them to the encoder.
    double waitSeconds = 0.0, conversionSeconds = 0.0, pipeSeconds = 0.0;
    // The pace once running, beside the whole: without the driver's first draw, the encoder
    // taking its first frame and finishing the file, which a short capture feels most.
    std::chrono::steady_clock::time_point firstSent, lastSent;
    const auto send = [&](unsigned n) {
        const auto start = std::chrono::steady_clock::now();
        const void* mapped = reader.map(n % slots);
        const auto readBack = std::chrono::steady_clock::now();
        const void* bytes = reader.encoderBytes(mapped);
        const auto converted = std::chrono::steady_clock::now();
        written = bytes != nullptr && encoder.write(bytes, reader.bytes());
        reader.unmap();
        waitSeconds += std::chrono::duration<double>(readBack - start).count();
        conversionSeconds += std::chrono::duration<double>(converted - readBack).count();
        pipeSeconds += secondsSince(converted);
        sent.end = n + 1;
        lastSent = std::chrono::steady_clock::now();
        if (sent.count() == 1)
            firstSent = lastSent;
        progress.update(sent.count());
    };
    unsigned drawn = frames.first;
    for (; drawn < frames.end && written && stop.received() == 0; ++drawn) {
        show.draw(captureFrameTime(options.from, options.fps, drawn));
        // Some drivers read back at once, waiting for the frame to be drawn (llvmpipe).
        const auto start = std::chrono::steady_clock::now();
        reader.read(drawn % slots);
        // Handed to the driver now, so that waiting for this frame later waits for it alone.
        glFlush();
        waitSeconds += secondsSince(start);
        if (drawn + 1 >= frames.first + slots)
            send(drawn + 1 - slots);
    }
    while (written && stop.received() == 0 && drawn == frames.end && sent.end < frames.end)
        send(sent.end);

    if (const int status = endCapture(encoder, written, options, partial, sent, stop))
        return status;
    const double seconds = progress.seconds();
    std::fprintf(stderr, "demo: wrote %u frames (%.1f frames per second) to %s\n", frames.count(),
                 frames.count() / seconds, options.outputFile.c_str());
    const double perFrame = 1e3 / frames.count();
    std::fprintf(stderr,
                 "demo: per frame: %.1f ms in all, %.1f ms waiting for the picture to be drawn and read back, %.1f ms "
                 "converting it, %.1f ms handing it to ffmpeg\n",
                 seconds * perFrame, waitSeconds * perFrame, conversionSeconds * perFrame, pipeSeconds * perFrame);
    if (frames.count() > 1)
        std::fprintf(stderr, "demo: once running: %.1f ms a frame, from the first frame handed to ffmpeg to the last\n",
                     std::chrono::duration<double>(lastSent - firstSent).count() * 1e3 / (frames.count() - 1));
    return 0;
}

int runJoin(const Options& options, const std::string& ffmpeg, const Platform::StopRequests& stop)
{
    // Every frame is looked for before the encoder starts, not found missing half-way.
    const FrameRange frames = captureFrames(options);
    for (unsigned n = frames.first; n < frames.end; ++n) {
        const std::string name = frameFileName(options.joinFrames, n);
        std::error_code error;
        if (!std::filesystem::is_regular_file(name, error)) {
            std::fprintf(stderr, "demo: %s is missing; --join needs frames 0 to %u of the capture\n", name.c_str(),
                         frames.end - 1);
            return failed;
        }
    }
    CaptureEncoder started(options, ffmpeg);
    if (!started.started())
        return failed;
    const std::string& partial = started.partial;
    Platform::ChildProcess& encoder = started.takeOver();
    // The encoder is handed the very bytes a capture hands it, frame by frame and no more: the
    // same input through the same encoder is the same file. A video's frames become planes with
    // the capture's own arithmetic.
    const bool takesPlanes = captureFormatOf(options.outputFile).takesPlanes();
    Progress progress(frames.count());
    std::vector<unsigned char> rows;
    std::vector<unsigned char> planes(takesPlanes ? Yuv420::frameBytes(options.width, options.height) : 0);
    bool written = true;
    FrameRange sent{frames.first, frames.first};
    for (; sent.end < frames.end && written && stop.received() == 0; ++sent.end) {
        const std::string name = frameFileName(options.joinFrames, sent.end);
        if (const std::string why = readFrameImage(name, options.width, options.height, rows); !why.empty()) {
            encoder.kill();
            removeCaptureOutput(options, partial, sent);
            std::fprintf(stderr, "%sdemo: %s is not a frame of this capture: %s\n", progress.lineEnd(), name.c_str(),
                         why.c_str());
            return failed;
        }
        if (takesPlanes) {
            const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(options.width) * 4;
            convertToYuv420(rows.data() + rowBytes * (options.height - 1), -rowBytes, options.width, options.height,
                            4, planes.data());
            written = encoder.write(planes.data(), planes.size());
        } else {
            written = encoder.write(rows.data(), rows.size());
        }
        progress.update(sent.count() + 1);
    }
    if (const int status = endCapture(encoder, written, options, partial, sent, stop))
        return status;
    std::fprintf(stderr, "demo: joined %u frames in %.1f s into %s\n", frames.count(), progress.seconds(),
                 options.outputFile.c_str());
    return 0;
}
