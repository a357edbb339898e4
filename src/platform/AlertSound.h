#pragma once

// The desktop's alert sound from the freedesktop sound theme.
namespace AlertSound {
// Starts the "alarm-clock-elapsed" event sound, or "bell" when the theme lacks it. Returns
// false when neither could be started (no sound server, no theme), so the caller can fall
// back to the plain system beep.
bool play();
} // namespace AlertSound
