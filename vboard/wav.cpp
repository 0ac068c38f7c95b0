#include "vboard/wav.h"

#include <array>

namespace pitchime::audio {

namespace {

constexpr std::size_t headerBytes = 44;
constexpr long riffSizeOffset = 4;
constexpr long dataSizeOffset = 40;
// The RIFF size field counts everything after itself and must fit 32 bits.
constexpr std::uint32_t dataLimit = 0xFFFFFFFFu - (headerBytes - 8);

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void writeBytes(WavWriter& writer, const std::uint8_t* bytes, std::size_t count) {
    if (std::fwrite(bytes, 1, count, writer.file) != count) writer.failed = true;
}

void writeSize(WavWriter& writer, long offset, std::uint32_t value) {
    std::array<std::uint8_t, 4> bytes{};
    put32(bytes.data(), value);
    if (std::fseek(writer.file, offset, SEEK_SET) != 0) {
        writer.failed = true;
        return;
    }
    writeBytes(writer, bytes.data(), bytes.size());
}

}  // namespace

void wavStart(WavWriter& writer, std::FILE* file, std::uint32_t sampleRate) {
    writer = WavWriter{file, 0, false};
    std::array<std::uint8_t, headerBytes> header{'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                                                 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0,   0};
    put16(&header[20], 1);  // PCM
    put16(&header[22], 1);  // mono
    put32(&header[24], sampleRate);
    put32(&header[28], sampleRate * 2);  // bytes per second
    put16(&header[32], 2);               // bytes per sample frame
    put16(&header[34], 16);              // bits per sample
    header[36] = 'd';
    header[37] = 'a';
    header[38] = 't';
    header[39] = 'a';
    put32(&header[riffSizeOffset], headerBytes - 8);
    writeBytes(writer, header.data(), header.size());
}

void wavAppend(WavWriter& writer, const std::int16_t* samples, std::size_t count) {
    if (writer.file == nullptr) return;
    std::array<std::uint8_t, 2048> bytes{};
    while (count > 0) {
        std::size_t chunk = count < bytes.size() / 2 ? count : bytes.size() / 2;
        const std::uint32_t room = (dataLimit - writer.dataBytes) / 2;
        if (chunk > room) {
            chunk = room;
            writer.failed = true;
            if (chunk == 0) return;
        }
        for (std::size_t i = 0; i < chunk; ++i) put16(&bytes[2 * i], static_cast<std::uint16_t>(samples[i]));
        writeBytes(writer, bytes.data(), 2 * chunk);
        writer.dataBytes += static_cast<std::uint32_t>(2 * chunk);
        samples += chunk;
        count -= chunk;
    }
}

bool wavFinish(WavWriter& writer) {
    if (writer.file == nullptr) return false;
    writeSize(writer, riffSizeOffset, writer.dataBytes + (headerBytes - 8));
    writeSize(writer, dataSizeOffset, writer.dataBytes);
    if (std::fseek(writer.file, 0, SEEK_END) != 0 || std::fflush(writer.file) != 0) writer.failed = true;
    return !writer.failed;
}

}  // namespace pitchime::audio
