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
    ~Music();

    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    // True while a device was opened and started for a decodable file.
    bool isPlaying() const;
};
