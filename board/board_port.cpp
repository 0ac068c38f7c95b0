#include "board/board_port.h"

#include <cinttypes>
#include <cstring>

#include "console/console.h"

namespace pitchime {

namespace {

// The calls below run under port.lock.

void writeLocked(BoardPort& port, const std::uint8_t* bytes, std::uint32_t size) {
    if (!port.isOpen) {
        port.deviceStatus = d2xx::FT_INVALID_HANDLE;
        return;
    }
    // The status is kept but not acted on: a board that stops taking writes
    // (unplugged mid-tune) leaves the run to go on to its end, printing every
    // row and the tempo report, and closing as usual.
    port.deviceStatus = FT_Write(port.handle, const_cast<std::uint8_t*>(bytes), size, &port.bytesWritten);
    if (port.writeFailure == 0) port.writeFailure = port.deviceStatus;
}

std::uint32_t closeLocked(BoardPort& port) {
    // Closed for good, also when the device was never open: an interrupt
    // release before the open keeps the main thread from opening it after.
    const bool wasOpen = port.isOpen;
    port.released = true;
    port.isOpen = false;
    if (!wasOpen) return port.deviceStatus = d2xx::FT_INVALID_HANDLE;
    return port.deviceStatus = FT_Close(port.handle);
}
}  // namespace

namespace board {

void resetPort(BoardPort& port) {
    std::lock_guard guard(port.lock);
    port.handle = nullptr;
    port.deviceStatus = 0;
    port.bytesWritten = 0;
    port.deviceCount = 0;
    port.details = DeviceDetails{};
    port.isOpen = false;
    port.released = false;
    port.writeFailure = 0;
    port.writeFailureReported = false;
    port.frame = {};
    port.batchBytes = 0;
}

std::uint32_t open(BoardPort& port) {
    {
        std::lock_guard guard(port.lock);
        if (port.released) return port.deviceStatus = d2xx::FT_INVALID_HANDLE;
    }
    // Opening can take long; it runs outside the lock so that a release
    // meanwhile does not wait for it: it finds no open device and closes none.
    FT_HANDLE handle = nullptr;
    const std::uint32_t status = FT_Open(0, &handle);
    std::lock_guard guard(port.lock);
    if (port.released) {
        // Released while opening: nobody would ever close this device. Its
        // status is of no use: the run is ending and reports the release's.
        if (status == d2xx::FT_OK) FT_Close(handle);
        return port.deviceStatus = d2xx::FT_INVALID_HANDLE;
    }
    port.handle = handle;
    port.isOpen = status == d2xx::FT_OK;
    return port.deviceStatus = status;
}

void configure(BoardPort& port) {
    // The statuses of the four calls below are not looked at: the programs
    // report what they were given (a failed call leaves the zeros and empty
    // texts it started with) and go on, as a board that is open takes its
    // writes whatever these answered; nothing is left open or half-done.
    {
        std::lock_guard guard(port.lock);
        if (!port.released) FT_CreateDeviceInfoList(&port.deviceCount);
    }
    console::lineUnsigned("Number of devices is ", port.deviceCount);

    DeviceDetails& d = port.details;
    {
        std::lock_guard guard(port.lock);
        if (!port.released)
            FT_GetDeviceInfoDetail(0, &d.Flags, &d.Type, &d.ID, &d.LocId, d.serialNumber, d.Description,
                                   &d.ftHandle);
    }
    // A library that fills the whole buffer leaves no terminator.
    d.Description[sizeof d.Description - 1] = '\0';
    console::format("Dev:\n");
    console::format("\tFlags\t\t=0x%" PRIx32 "\n", d.Flags);
    console::format("\tType\t\t=0x%" PRIx32 "\n", d.Type);
    console::format("\tID\t\t=0x%" PRIx32 "\n", d.ID);
    console::format("\tLocId\t\t=0x%" PRIx32 "\n", d.LocId);
    console::format("\tDescription\t=%s\n", d.Description);
    // A handle is pointer-sized: printed in full where that is wider than 32 bits.
    console::format("\tftHandle\t=0x%" PRIxPTR "\n\n", reinterpret_cast<std::uintptr_t>(d.ftHandle));

    {
        std::lock_guard guard(port.lock);
        if (port.isOpen) FT_SetBaudRate(port.handle, baudRate);
    }
    console::format("BaudRate:\t%d\n", static_cast<int>(baudRate));
    {
        std::lock_guard guard(port.lock);
        if (port.isOpen) FT_SetBitMode(port.handle, directionMask, bitBangMode);
    }
    console::format("DIRECTION:\t0x%x\n", static_cast<unsigned>(directionMask));
    console::format("MODE:\t\t0x%x\n\n", static_cast<unsigned>(bitBangMode));
    console::format("%s is READY.\n\n", d.Description);
    writeIdle(port);
}

void sendFrame(BoardPort& port) {
    std::lock_guard guard(port.lock);
    writeLocked(port, port.frame.data(), writeFrameSize);
}

void sendBatch(BoardPort& port) {
    if (port.batchBytes == 0) return;
    std::lock_guard guard(port.lock);
    writeLocked(port, port.batch.data(), static_cast<std::uint32_t>(port.batchBytes));
    port.batchBytes = 0;
}

void writeIdle(BoardPort& port) {
    std::lock_guard guard(port.lock);
    writeLocked(port, idlePattern.data(), idlePattern.size());
}

std::uint32_t close(BoardPort& port) {
    std::lock_guard guard(port.lock);
    return closeLocked(port);
}

void reportWriteFailure(BoardPort& port, std::size_t scoreLine) {
    std::uint32_t status = 0;
    {
        std::lock_guard guard(port.lock);
        if (port.writeFailureReported) return;
        status = port.writeFailure;
        port.writeFailureReported = status != 0;
    }
    // Printed outside the lock: the interrupt release takes the console
    // before the port.
    if (status == 0) return;
    if (scoreLine == 0) {
        console::note(
            "The board stopped taking writes before the tune began (status %u); the tune goes on "
            "without sound",
            static_cast<unsigned>(status));
    } else {
        console::note("The board stopped taking writes at line %" PRIu64
                      " of the score (status %u); the tune goes on without sound",
                      static_cast<std::uint64_t>(scoreLine), static_cast<unsigned>(status));
    }
}

std::uint32_t restAndClose(BoardPort& port) {
    std::lock_guard guard(port.lock);
    writeLocked(port, idlePattern.data(), idlePattern.size());
    return closeLocked(port);
}

}  // namespace board

void writeRegister(BoardPort& port, std::int32_t value, int address) {
    encodeWriteFrame(port.frame, value, address);
    board::sendFrame(port);
}

void queueRegister(BoardPort& port, std::int32_t value, int address) {
    if (port.batchBytes + writeFrameSize > port.batch.size()) board::sendBatch(port);
    WriteFrame frame;
    encodeWriteFrame(frame, value, address);
    std::memcpy(port.batch.data() + port.batchBytes, frame.data(), frame.size());
    port.batchBytes += frame.size();
}

void startCounters(BoardPort& port) {
    for (const std::int32_t word : runControlWords) writeRegister(port, word, controlWordAddress);
}

}  // namespace pitchime
