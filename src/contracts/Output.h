#pragma once

// Where a dictation's results reach the user: the text inserted, the sounds played.

#include <string>

namespace zarn {

class TextInserter {
public:
    virtual ~TextInserter() = default;
    // Returns after the accessibility attempt or after starting the paste.
    virtual void insert(const std::string& text) = 0;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Fire and forget ("Tink", "Pop").
    virtual void play(const std::string& name) = 0;
};

}  // namespace zarn
