#pragma once

#include <memory>

// Plays one MP3 file once on the default audio output, from construction to destruction.
// Any failure (missing or unreadable file, no audio server) leaves the show silent, quietly.
class Music {
public:
    struct Playback;

    // Owns the decoder and the device in one block: neither may move once initialised.
    std::unique_ptr<Playback> playback;

    // Plays "valdrim.mp3" from the working directory.
    Music();
    explicit Music(const char* path);
    // Starts startSeconds into the track (at the output rate of 44100 frames a second); a start
    // at or past the end plays silence.
    Music(const char* path, float startSeconds);
    // Returns within a bounded time even when the audio server has gone away or stopped
    // answering; see music.cpp.
    ~Music();

    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    // True while a device was opened and started for a decodable file.
    bool isPlaying() const;

    // Pausing plays silence and holds the track where it is; resuming goes on from there. A seek
    // goes to `seconds` into the track (past the end: silence until the next seek). Each returns
    // at once: the audio thread acts on it in its next callback. Without a device they do nothing.
    void pause();
    void resume();
    void seek(float seconds);
};
