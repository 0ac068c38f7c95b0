// The one FT245R session of the run: the only user of the D2XX calls.
// The operations are serialised by a lock, so the interrupt release can rest
// and close the device from its own thread while the player writes: a frame
// always goes out whole, none comes between the resting IdlePattern and the
// close, and nothing reaches the device after the close.
#pragma once

#include <cstddef>
#include <cstdint>

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

struct BoardPort {
    FT_HANDLE handle = nullptr;
    std::uint32_t deviceStatus = 0;
    std::uint32_t bytesWritten = 0;
    std::uint32_t deviceCount = 0;
    DeviceDetails details;
    bool isOpen = false;
    // Set by close, for good: later opens, writes and closes reach no device.
    bool released = false;
    // Status of the first device write that failed, 0 while none has; and
    // whether the user has been told.
    std::uint32_t writeFailure = 0;
    bool writeFailureReported = false;
};

extern BoardPort boardPort;

namespace board {
inline constexpr std::uint32_t baudRate = 3000000;
inline constexpr unsigned char directionMask = 0xFF;
inline constexpr unsigned char bitBangMode = 1;

// FT_Open of device 0; returns the status (0: open).
std::uint32_t open();
// Lists and reports the device, sets baud rate and bit-bang mode, rests the lines.
void configure();
// Sends writeFrame in one device write.
void writeFrame();
// Sends the idle pattern in one device write.
void writeIdle();
// Closes the device, for good; on a session that is not open reaches no
// device and returns FT_INVALID_HANDLE. Later operations reach no device.
std::uint32_t close();
// Tells the user, once, on standard error, that the device stopped taking
// writes, if it has: while the row of `scoreLine` played, or before the
// tune for 0. Nothing else is printed or waited for.
void reportWriteFailure(std::size_t scoreLine);
// writeIdle then close as one step: no other write can come between them.
// Returns the status of the close.
std::uint32_t restAndClose();
}  // namespace board

// A register write: encodeWriteFrame then board::writeFrame, as one step.
void writeRegister(std::int32_t value, int address);

// Puts the three counters into square-wave mode (their run control words),
// as every run does before it plays.
void startCounters();

}  // namespace pitchime
