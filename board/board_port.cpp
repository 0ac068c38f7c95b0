#include "board/board_port.h"

#include <cinttypes>
#include <mutex>

#include "board/write_frame.h"
#include "common/console.h"

namespace pitchime {

BoardPort boardPort;

namespace {
// Serialises the operations: the interrupt release rests and closes the
// device from its own thread while the main thread may be inside writeFrame.
std::mutex portLock;

// The calls below run under portLock.

void writeLocked(const std::uint8_t* bytes, std::uint32_t size) {
    if (!boardPort.isOpen) {
        boardPort.deviceStatus = d2xx::FT_INVALID_HANDLE;
        return;
    }
    boardPort.deviceStatus =
        FT_Write(boardPort.handle, const_cast<std::uint8_t*>(bytes), size, &boardPort.bytesWritten);
    if (boardPort.writeFailure == 0) boardPort.writeFailure = boardPort.deviceStatus;
}

std::uint32_t closeLocked() {
    // Closed for good, also when the device was never open: an interrupt
    // release before the open keeps the main thread from opening it after.
    const bool wasOpen = boardPort.isOpen;
    boardPort.released = true;
    boardPort.isOpen = false;
    if (!wasOpen) return boardPort.deviceStatus = d2xx::FT_INVALID_HANDLE;
    return boardPort.deviceStatus = FT_Close(boardPort.handle);
}
}  // namespace

namespace board {

std::uint32_t open() {
    {
        std::lock_guard guard(portLock);
        if (boardPort.released) return boardPort.deviceStatus = d2xx::FT_INVALID_HANDLE;
    }
    // Opening can take long; it runs outside the lock so that a release
    // meanwhile does not wait for it: it finds no open device and closes none.
    FT_HANDLE handle = nullptr;
    const std::uint32_t status = FT_Open(0, &handle);
    std::lock_guard guard(portLock);
    if (boardPort.released) {
        // Released while opening: nobody would ever close this device.
        if (status == d2xx::FT_OK) FT_Close(handle);
        return boardPort.deviceStatus = d2xx::FT_INVALID_HANDLE;
    }
    boardPort.handle = handle;
    boardPort.isOpen = status == d2xx::FT_OK;
    return boardPort.deviceStatus = status;
}

void configure() {
    {
        std::lock_guard guard(portLock);
        if (!boardPort.released) FT_CreateDeviceInfoList(&boardPort.deviceCount);
    }
    console::lineUnsigned("Number of devices is ", boardPort.deviceCount);

    DeviceDetails& d = boardPort.details;
    {
        std::lock_guard guard(portLock);
        if (!boardPort.released)
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
        std::lock_guard guard(portLock);
        if (boardPort.isOpen) FT_SetBaudRate(boardPort.handle, baudRate);
    }
    console::format("BaudRate:\t%d\n", static_cast<int>(baudRate));
    {
        std::lock_guard guard(portLock);
        if (boardPort.isOpen) FT_SetBitMode(boardPort.handle, directionMask, bitBangMode);
    }
    console::format("DIRECTION:\t0x%x\n", static_cast<unsigned>(directionMask));
    console::format("MODE:\t\t0x%x\n\n", static_cast<unsigned>(bitBangMode));
    console::format("%s is READY.\n\n", d.Description);
    writeIdle();
}

void writeFrame() {
    std::lock_guard guard(portLock);
    writeLocked(pitchime::writeFrame.data(), writeFrameSize);
}

void writeIdle() {
    std::lock_guard guard(portLock);
    writeLocked(idlePattern.data(), idlePattern.size());
}

std::uint32_t close() {
    std::lock_guard guard(portLock);
    return closeLocked();
}

void reportWriteFailure(std::size_t scoreLine) {
    std::uint32_t status = 0;
    {
        std::lock_guard guard(portLock);
        if (boardPort.writeFailureReported) return;
        status = boardPort.writeFailure;
        boardPort.writeFailureReported = status != 0;
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

std::uint32_t restAndClose() {
    std::lock_guard guard(portLock);
    writeLocked(idlePattern.data(), idlePattern.size());
    return closeLocked();
}

}  // namespace board

void writeRegister(std::int32_t value, int address) {
    encodeWriteFrame(value, address);
    board::writeFrame();
}

void startCounters() {
    for (const std::int32_t word : runControlWords) writeRegister(word, controlWordAddress);
}

}  // namespace pitchime
