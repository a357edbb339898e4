#include "AlertSound.h"

#include "Module.h"

bool AlertSound::play() {
    // libcanberra and its codecs come in a module of their own, loaded at the first reminder.
    using Play = bool();
    static const auto play = reinterpret_cast<Play *>(
        Module::resolve("libzelvane-sound.so", "zelvane_alert_sound_play"));
    return play && play();
}
