// The FT245R session of a run: the only user of the D2XX calls. Every
// operation takes the BoardPort it works on, as every call of a device
// library takes its handle. The operations on one port are serialised by
// its lock, so the interrupt release can rest and close the device from its
// own thread while the player writes: a frame always goes out whole, none
// comes between the resting idle pattern and the close, and nothing reaches
// the device after the close.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "board/write_frame.h"
#include "d2xx/d2xx.h"

namespace pitchime {

struct DeviceDetails {
    std::uint32_t Flags = 0;
    std::uint32_t Type = 0;
    std::uint32_t ID = 0;
    std::uint32_t LocId = 0;
    char serialNumber[d2xx::serialNumberSize] = {};
    char Description[d2xx::descriptionSize] = {};
    FT_HANDLE ftHandle = nullptr;
};

// The most register writes one batch carries: three counters, each with its
// control word and two count bytes, with room to spare.
inline constexpr int batchFrames = 16;

struct BoardPort {
    std::mutex lock;  // held by every operation below while it uses the fields
    FT_HANDLE handle = nullptr;
    std::uint32_t deviceStatus = 0;  // the status of the last D2XX call that has one to keep
    std::uint32_t bytesWritten = 0;
    std::uint32_t deviceCount = 0;
    DeviceDetails details;
    bool isOpen = false;
    // Set by close, for good: later opens, writes and closes reach no device.
    bool released = false;
    // The next register write, encoded (encodeWriteFrame) before it is sent.
    // Only the playing thread encodes and sends frames.
    WriteFrame frame{};
    // The register writes of one instant (a chord, a bend on three voices),
    // encoded one after another (queueRegister) and sent in one device write
    // (sendBatch): on a real board every device write is a USB transfer.
    // Only the playing thread fills and sends it.
    std::array<std::uint8_t, batchFrames * writeFrameSize> batch{};
    std::size_t batchBytes = 0;
    // Status of the first device write that failed, 0 while none has; and
    // whether the user has been told.
    std::uint32_t writeFailure = 0;
    bool writeFailureReported = false;
};

namespace board {
inline constexpr std::uint32_t baudRate = 3000000;
inline constexpr unsigned char directionMask = 0xFF;
inline constexpr unsigned char bitBangMode = 1;

// Back to never opened. Not while another thread may use the port.
void resetPort(BoardPort& port);
// FT_Open of device 0; returns the status (0: open).
std::uint32_t open(BoardPort& port);
// Lists and reports the device, sets baud rate and bit-bang mode, rests the lines.
void configure(BoardPort& port);
// Sends port.frame in one device write.
void sendFrame(BoardPort& port);
// Sends the batch, when it holds any register write, in one device write,
// and empties it.
void sendBatch(BoardPort& port);
// Sends the idle pattern in one device write.
void writeIdle(BoardPort& port);
// Closes the device, for good; on a port that is not open reaches no
// device and returns FT_INVALID_HANDLE. Later operations reach no device.
std::uint32_t close(BoardPort& port);
// Tells the user, once, on standard error, that the device stopped taking
// writes, if it has: while the row of `scoreLine` played, or before the
// tune for 0. Nothing else is printed or waited for.
void reportWriteFailure(BoardPort& port, std::size_t scoreLine);
// writeIdle then close as one step: no other write can come between them.
// Returns the status of the close.
std::uint32_t restAndClose(BoardPort& port);
}  // namespace board

// A register write: encodes the port's frame, then sends it.
void writeRegister(BoardPort& port, std::int32_t value, int address);

// A register write added to the port's batch; a full batch is sent first.
void queueRegister(BoardPort& port, std::int32_t value, int address);

// Puts the three counters into square-wave mode (their run control words),
// as every run does before it plays.
void startCounters(BoardPort& port);

}  // namespace pitchime
