// Rendered sound read back from a WAV file and measured the way a listener
// would check it: level, pitch, spectrum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pitchime::test {

struct Sound {
    std::vector<std::int16_t> samples;
    int rate = 0;
    // The sample at `seconds`.
    std::size_t at(double seconds) const { return static_cast<std::size_t>(seconds * rate); }
    double seconds() const { return rate > 0 ? static_cast<double>(samples.size()) / rate : 0.0; }
};

inline constexpr double fullScale = 32767.0;

// Reads a 16-bit mono PCM WAV file as the WAV writer lays it out (a 44-byte
// header whose sizes match the file). Returns "" or what is wrong with it.
std::string readWav(const std::string& path, Sound& sound);

// Root mean square of the samples between two times.
double rms(const Sound& sound, double from, double to);

// Hann-windowed magnitude spectrum of `size` samples (a power of two) from
// `from` seconds on.
struct Spectrum {
    std::vector<double> magnitude;
    double binHz = 0.0;
};
Spectrum spectrum(const Sound& sound, double from, std::size_t size);

// The strongest `count` local maxima between two frequencies, strongest
// first, each refined by a parabola through the log magnitudes around it.
std::vector<double> peaksHz(const Spectrum& spectrum, double fromHz, double toHz, int count);

}  // namespace pitchime::test
