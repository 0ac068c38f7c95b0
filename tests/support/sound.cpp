#include "support/sound.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <fstream>
#include <iterator>
#include <numbers>

namespace pitchime::test {

std::string readWav(const std::string& path, Sound& sound) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open " + path;
    const std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    if (b.size() < 44) return "no WAV header in " + path;
    const auto le = [&](std::size_t at, int bytes) {
        std::uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[at + i];
        return value;
    };
    const auto tag = [&](std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); };
    if (tag(0) != "RIFF" || tag(8) != "WAVE" || tag(12) != "fmt " || tag(36) != "data" || le(16, 4) != 16)
        return "not a WAV file laid out as expected";
    if (le(4, 4) != b.size() - 8) return "RIFF size does not match the file";
    if (le(40, 4) != b.size() - 44) return "data size does not match the file";
    if (le(20, 2) != 1 || le(22, 2) != 1 || le(34, 2) != 16) return "not 16-bit mono PCM";
    sound.rate = static_cast<int>(le(24, 4));
    if (le(28, 4) != le(24, 4) * 2 || le(32, 2) != 2) return "byte rate or block size is wrong";
    sound.samples.resize((b.size() - 44) / 2);
    for (std::size_t n = 0; n < sound.samples.size(); ++n)
        sound.samples[n] = static_cast<std::int16_t>(le(44 + 2 * n, 2));
    return "";
}

double rms(const Sound& sound, double from, double to) {
    const std::size_t end = std::min(sound.at(to), sound.samples.size());
    const std::size_t begin = std::min(sound.at(from), end);
    if (begin == end) return 0.0;
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i) sum += static_cast<double>(sound.samples[i]) * sound.samples[i];
    return std::sqrt(sum / static_cast<double>(end - begin));
}

Spectrum spectrum(const Sound& sound, double from, std::size_t size) {
    std::vector<std::complex<double>> a(size);
    const std::size_t start = sound.at(from);
    for (std::size_t i = 0; i < size && start + i < sound.samples.size(); ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / size);
        a[i] = window * sound.samples[start + i];
    }
    for (std::size_t i = 1, j = 0; i < size; ++i) {
        std::size_t bit = size >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= size; len <<= 1) {
        const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi / len);
        for (std::size_t i = 0; i < size; i += len) {
            std::complex<double> w = 1.0;
            for (std::size_t j = 0; j < len / 2; ++j, w *= turn) {
                const std::complex<double> u = a[i + j];
                const std::complex<double> v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
            }
        }
    }
    Spectrum s{std::vector<double>(size / 2), static_cast<double>(sound.rate) / size};
    for (std::size_t k = 0; k < size / 2; ++k) s.magnitude[k] = std::abs(a[k]);
    return s;
}

std::vector<double> peaksHz(const Spectrum& s, double fromHz, double toHz, int count) {
    std::vector<std::size_t> bins;
    const auto first = std::max<std::size_t>(1, static_cast<std::size_t>(fromHz / s.binHz));
    const auto last = std::min(static_cast<std::size_t>(toHz / s.binHz), s.magnitude.size() - 1);
    for (std::size_t k = first; k < last; ++k) {
        if (s.magnitude[k] > s.magnitude[k - 1] && s.magnitude[k] >= s.magnitude[k + 1]) bins.push_back(k);
    }
    std::sort(bins.begin(), bins.end(),
              [&](std::size_t a, std::size_t b) { return s.magnitude[a] > s.magnitude[b]; });
    std::vector<double> peaks;
    for (std::size_t i = 0; i < bins.size() && static_cast<int>(i) < count; ++i) {
        const std::size_t k = bins[i];
        const double a = std::log(s.magnitude[k - 1]);
        const double b = std::log(s.magnitude[k]);
        const double c = std::log(s.magnitude[k + 1]);
        peaks.push_back((static_cast<double>(k) + 0.5 * (a - c) / (a - 2.0 * b + c)) * s.binHz);
    }
    return peaks;
}

}  // namespace pitchime::test
