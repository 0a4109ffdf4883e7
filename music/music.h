#pragma once

#include <memory>
#include <optional>

// Plays one MP3 file once on the default audio output, from construction to destruction.
// Any failure (missing or unreadable file, no audio server) leaves the show silent, quietly.
// The output is opened, watched and closed on a thread of the Music's own (output_keeper.h), so
// that no call here waits for the sound server; where no thread can be had (the browser), it is
// opened in the constructor instead.
class Music {
public:
    struct Playback;

    // Owns the decoder and the device in one block: neither may move once initialised.
    std::unique_ptr<Playback> playback;

    // Plays "valdrim.mp3" from the working directory.
    Music();
    explicit Music(const char* path);
    // Starts startSeconds into the track (at the output rate of 44100 frames a second); a start
    // at or past the end plays silence. `waitForPicture`: silent until the first follow(), so
    // that the music starts with the first picture shown rather than before it.
    Music(const char* path, float startSeconds, bool waitForPicture = false);
    // Returns within half a second even when the audio server has gone away or stopped
    // answering, or an output is being opened; at once when the Music's thread is already held
    // up in the server.
    ~Music();

    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    // True while a device was opened and started for a decodable file and takes its samples;
    // false until the output is open, a moment after construction.
    bool isPlaying() const;
    // True while a decodable file has no output to play on: none could be opened, the first
    // open has waited over a second and a half for the server, or the output open took no
    // samples for that long (its sound server went away or froze, or its sink is suspended).
    // Meanwhile the track runs on unheard, and a lost output is opened again every second (a
    // suspended sink is left alone: it plays on once resumed). False again only once sound
    // flows. Any thread may ask.
    bool outputMissing() const;

    // Pausing plays silence and holds the track where it is; resuming goes on from there. A seek
    // goes to `seconds` into the track (past the end: silence until the next seek). Each returns
    // at once: the audio thread acts on it in its next callback. Without a device they do nothing.
    void pause();
    void resume();
    void seek(float seconds);

    // The track position, in seconds, of the sample leaving the output now: the frames the audio
    // thread has delivered since the last start, seek or resume, less what the output still
    // holds, plus the time since that delivery. Held at a seek's target until its first sample is
    // heard, and at the paused position while paused. Empty when no soundtrack plays: no file, no
    // device, a device that has stopped asking for frames, a failed seek, or past the end of the
    // track. Takes no lock; any thread may ask.
    std::optional<double> heardSeconds() const;
    // What the output holds between the callback and the ear, in seconds (0 without a device).
    double outputLatency() const;

    // Keeps the music on the picture: the picture presented now shows the track's `seconds`, and
    // moves on at one second a second while `running` (the music is silent and holds while
    // not). From the first call on, the audio thread moves the music to the picture at each
    // callback where the two have drifted apart by more than it can tell (music_sync.h): by a
    // seek to the picture's time plus what the output still holds. So a stall of the output, an
    // underrun, a seek or the loop's restart is made up as soon as the output takes samples
    // again, whatever the frame rate. The show calls it once a frame, after presenting it;
    // pause(), resume() and seek() are then left alone. Returns at once; takes no lock.
    void follow(double seconds, bool running);
    // How often the audio thread has moved the music to the picture since the first follow(),
    // a start or resume included.
    long resyncs() const;
};
