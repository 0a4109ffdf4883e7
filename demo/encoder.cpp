#include "encoder.h"

#include <cmath>
#include <cstdio>

namespace {

std::string number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

} // namespace

std::vector<std::string> encoderArguments(const EncoderJob& job)
{
    const std::string size = std::to_string(job.width) + "x" + std::to_string(job.height);
    std::vector<std::string> arguments = {
        job.ffmpeg, "-hide_banner", "-loglevel", "error", "-y",
        "-f", "rawvideo", "-pix_fmt", "rgba", "-s", size, "-framerate", number(job.fps), "-i", "pipe:0",
    };
    const bool sound = job.format.hasSound() && !job.soundtrack.empty();
    if (sound) {
        // Decoded from its start and trimmed by sample, so the cut is exact whatever the seek
        // table of the MP3 says.
        arguments.insert(arguments.end(), {"-i", job.soundtrack, "-map", "0:v", "-map", "1:a", "-af",
                                           "atrim=start=" + number(job.from) + ":end=" + number(job.to) +
                                               ",asetpts=PTS-STARTPTS"});
    }
    // GL reads rows from the bottom up.
    arguments.insert(arguments.end(), {"-vf", "vflip"});
    switch (job.format.kind) {
    case CaptureFormat::Kind::mp4:
    case CaptureFormat::Kind::mkv:
        arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "medium", "-crf", "16", "-pix_fmt", "yuv420p"});
        if (sound)
            arguments.insert(arguments.end(), {"-c:a", "aac", "-b:a", "192k"});
        if (job.format.kind == CaptureFormat::Kind::mp4)
            arguments.insert(arguments.end(), {"-movflags", "+faststart"});
        break;
    case CaptureFormat::Kind::webm:
        arguments.insert(arguments.end(), {"-c:v", "libvpx-vp9", "-crf", "24", "-b:v", "0", "-row-mt", "1",
                                           "-deadline", "good", "-cpu-used", "4", "-pix_fmt", "yuv420p"});
        if (sound)
            arguments.insert(arguments.end(), {"-c:a", "libopus", "-b:a", "160k"});
        break;
    case CaptureFormat::Kind::images:
        arguments.insert(arguments.end(), {"-start_number", "0"});
        break;
    case CaptureFormat::Kind::unsupported:
        break;
    }
    if (sound)
        arguments.insert(arguments.end(), {"-t", number(job.to - job.from)});
    arguments.push_back(job.output);
    return arguments;
}

std::string folderOf(const std::string& path)
{
    const size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos)
        return ".";
    return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

std::string partialFileName(const std::string& target, int processId)
{
    const size_t separator = target.find_last_of("/\\");
    const std::string folder = separator == std::string::npos ? "" : target.substr(0, separator + 1);
    const std::string name = separator == std::string::npos ? target : target.substr(separator + 1);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    return folder + "." + stem + ".partial-" + std::to_string(processId) + extension;
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
