#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// Test speech and sounds as 16 kHz mono 16-bit samples, made with the espeak-ng and sox tools.
namespace testaudio {

using Samples = std::vector<int16_t>;

// Whether the espeak-ng and sox programs are installed.
bool toolsAvailable();

// `text` spoken by an espeak-ng voice ("en-us", "en+f3", ...) at `wpm` words per minute.
Samples speech(const QString& text, const QString& voice = QStringLiteral("en-us"), int wpm = 175, int pitch = 50);
// sox noise: "whitenoise", "pinknoise", "brownnoise", or a "sine 440" style tone; `gain` 0..1.
Samples noise(const QString& kind, double seconds, double gain);
Samples silence(double seconds);

// Appends `b` to `a`.
void append(Samples& a, const Samples& b);
// Adds a quiet, steady hiss as from a real microphone, so that voice-activity detection works on
// its usual footing.
void addNoiseFloor(Samples& s, int amplitude = 20, unsigned seed = 1);
// Steady pink noise 15 dB below speech of RMS level `speechRms`, as from a fan or a computer in the
// room, over the whole of `s`: it runs before and after the speech too.
void addRoomNoise(Samples& s, double speechRms);
double rms(const Samples& s);
// Writes `s` as a WAV file, the way the agent saves its recordings; false, with the reason, when it cannot.
bool writeWav(const QString& path, const Samples& s, QString* why = nullptr);

} // namespace testaudio
