// The seven D2XX calls answered by libftdi1, so that the programs drive a
// real FT245R on Linux and macOS with BoardPort and everything above it
// unchanged. A device is opened by its place in the listing, at most one
// at a time: the handle names that one session.
//
// BoardPort serialises its five operations; the mutex here only keeps the
// adapter's own state whole if a caller does not.

#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "d2xx/d2xx.h"

namespace {

using namespace pitchime::d2xx;

// D2XX device types (FT_GetDeviceInfoDetail's Type).
constexpr std::uint32_t deviceBm = 0;
constexpr std::uint32_t deviceAm = 1;
constexpr std::uint32_t deviceUnknown = 3;
constexpr std::uint32_t device2232C = 4;
constexpr std::uint32_t device2232H = 6;
constexpr std::uint32_t device4232H = 7;
constexpr std::uint32_t device232H = 8;
constexpr std::uint32_t deviceXSeries = 9;

// The listing keeps this many devices; FT_GetDeviceInfoDetail answers for them.
constexpr int listCapacity = 8;

struct ListedDevice {
    std::uint32_t flags = 0;
    std::uint32_t type = 0;
    std::uint32_t id = 0;
    std::uint32_t locId = 0;
    char serialNumber[serialNumberSize] = {};
    char description[descriptionSize] = {};
    FT_HANDLE handle = nullptr;
};

struct Session {
    std::mutex lock;
    // One libftdi context (and with it one libusb context) for listing and
    // for the open device; created when first needed, freed by FT_Close.
    ftdi_context* context = nullptr;
    bool open = false;
    std::uint32_t deviceCount = 0;
    std::array<ListedDevice, listCapacity> devices;
};

Session session;

// The handle is a token, never dereferenced. A fixed value keeps the device
// report the same from run to run.
FT_HANDLE sessionHandle() { return reinterpret_cast<FT_HANDLE>(std::uintptr_t{1}); }

bool isOpenHandle(FT_HANDLE handle) { return handle == sessionHandle() && session.open; }

bool ensureContext() {
    if (session.context == nullptr) {
        session.context = ftdi_new();
    }
    return session.context != nullptr;
}

void releaseContextIfIdle() {
    if (!session.open && session.context != nullptr) {
        ftdi_free(session.context);
        session.context = nullptr;
    }
}

// libftdi's chip type for a device that is not open, guessed from bcdDevice
// the same way ftdi_usb_open_dev does once it is open.
ftdi_chip_type chipTypeOf(const libusb_device_descriptor& descriptor, bool& known) {
    known = true;
    switch (descriptor.bcdDevice) {
        case 0x200:
            return descriptor.iSerialNumber == 0 ? TYPE_BM : TYPE_AM;
        case 0x400:
            return TYPE_BM;
        case 0x500:
            return TYPE_2232C;
        case 0x600:
            return TYPE_R;
        case 0x700:
            return TYPE_2232H;
        case 0x800:
            return TYPE_4232H;
        case 0x900:
            return TYPE_232H;
        case 0x1000:
            return TYPE_230X;
        default:
            known = false;
            return TYPE_BM;
    }
}

std::uint32_t d2xxTypeOf(ftdi_chip_type type) {
    switch (type) {
        case TYPE_AM:
            return deviceAm;
        case TYPE_BM:
            return deviceBm;
        case TYPE_2232C:
            return device2232C;
        case TYPE_R:
            return FT_DEVICE_232R;
        case TYPE_2232H:
            return device2232H;
        case TYPE_4232H:
            return device4232H;
        case TYPE_232H:
            return device232H;
        case TYPE_230X:
            return deviceXSeries;
    }
    return deviceUnknown;
}

// The location as macOS writes a USB locationID: the bus number in the top
// byte, then one hexadecimal digit per hub port from the root down (up to six
// levels; a port above 15 is written as 15). It is stable for a board left in
// the same socket, and readable in the device report: bus 1, port 2 of the
// root hub, port 3 of the hub behind it is 0x1230000.
std::uint32_t locationOf(libusb_device* device) {
    std::uint8_t ports[7] = {};
    const int depth = libusb_get_port_numbers(device, ports, static_cast<int>(sizeof ports));
    std::uint32_t location = static_cast<std::uint32_t>(libusb_get_bus_number(device)) << 24;
    for (int level = 0; level < depth && level < 6; ++level) {
        const std::uint32_t port = ports[level] > 15 ? 15 : ports[level];
        location |= port << (20 - 4 * level);
    }
    return location;
}

void copyText(char* destination, std::size_t size, const char* text) {
    std::snprintf(destination, size, "%s", text);
}

// Reads string descriptor `index` into `destination`; false when the device
// has no such string or it cannot be read.
bool readString(libusb_device_handle* handle, std::uint8_t index, char* destination, int size) {
    if (handle == nullptr || index == 0) {
        return false;
    }
    unsigned char text[256] = {};
    const int length = libusb_get_string_descriptor_ascii(handle, index, text, static_cast<int>(sizeof text));
    if (length <= 0) {
        return false;
    }
    copyText(destination, static_cast<std::size_t>(size), reinterpret_cast<const char*>(text));
    return true;
}

void describe(libusb_device* device, ListedDevice& entry) {
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);

    const bool isOurs = session.open && libusb_get_device(session.context->usb_dev) == device;
    bool known = false;
    const ftdi_chip_type chip = isOurs ? session.context->type : chipTypeOf(descriptor, known);
    entry.flags = isOurs ? FT_FLAGS_OPENED : 0;
    entry.type = isOurs || known ? d2xxTypeOf(chip) : deviceUnknown;
    entry.id = static_cast<std::uint32_t>(descriptor.idVendor) << 16 | descriptor.idProduct;
    entry.locId = locationOf(device);
    entry.handle = isOurs ? sessionHandle() : nullptr;

    // The open device is asked through its own handle. ftdi_usb_get_strings2
    // is not used for it: on a failed read it closes the context's handle,
    // which would close the session under the caller.
    libusb_device_handle* handle = isOurs ? session.context->usb_dev : nullptr;
    const bool temporary = !isOurs && libusb_open(device, &handle) == 0;
    if (!readString(handle, descriptor.iProduct, entry.description, descriptionSize)) {
        std::snprintf(entry.description, sizeof entry.description, "FTDI device %04x:%04x",
                      descriptor.idVendor, descriptor.idProduct);
    }
    if (!readString(handle, descriptor.iSerialNumber, entry.serialNumber, serialNumberSize)) {
        entry.serialNumber[0] = '\0';
    }
    if (temporary) {
        libusb_close(handle);
    }
}

// Explains on standard error why the first device could not be opened, when
// the cause is one the user can fix. Standard output is left to the caller.
void hintOpenFailure(libusb_device* device, int result) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    const bool denied = result == -8 || (result == -4 && access(node, R_OK | W_OK) != 0 && errno == EACCES);
    if (denied) {
        std::fprintf(stderr,
                     "FT245R: no permission to use %s.\n"
                     "  Install udev/70-pitchime-ft245r.rules into /etc/udev/rules.d/, run\n"
                     "  'sudo udevadm control --reload-rules && sudo udevadm trigger',\n"
                     "  then unplug the board and plug it in again.\n",
                     node);
    } else if (result == -5 || result == -3) {
        std::fprintf(
            stderr,
            "FT245R: %s is in use by another program or driver.\n"
            "  Close other programs using the board; on macOS, see README, \"Playing on a real board\".\n",
            node);
    }
    std::fflush(stderr);
}

}  // namespace

extern "C" {

FT_STATUS PITCHIME_D2XX_CALL FT_CreateDeviceInfoList(std::uint32_t* lpdwNumDevs) {
    std::lock_guard<std::mutex> guard(session.lock);
    session.deviceCount = 0;
    session.devices = {};
    if (!ensureContext()) {
        return FT_INSUFFICIENT_RESOURCES;
    }
    ftdi_device_list* list = nullptr;
    const int found = ftdi_usb_find_all(session.context, &list, 0, 0);
    if (found < 0) {
        releaseContextIfIdle();
        return FT_OTHER_ERROR;
    }
    int index = 0;
    for (ftdi_device_list* item = list; item != nullptr && index < listCapacity; item = item->next, ++index) {
        describe(item->dev, session.devices[static_cast<std::size_t>(index)]);
    }
    ftdi_list_free(&list);
    session.deviceCount = static_cast<std::uint32_t>(found);
    releaseContextIfIdle();
    if (lpdwNumDevs != nullptr) {
        *lpdwNumDevs = session.deviceCount;
    }
    return FT_OK;
}

FT_STATUS PITCHIME_D2XX_CALL FT_GetDeviceInfoDetail(std::uint32_t dwIndex, std::uint32_t* lpdwFlags,
                                                    std::uint32_t* lpdwType, std::uint32_t* lpdwID,
                                                    std::uint32_t* lpdwLocId, void* lpSerialNumber,
                                                    void* lpDescription, FT_HANDLE* pftHandle) {
    std::lock_guard<std::mutex> guard(session.lock);
    if (dwIndex >= session.deviceCount || dwIndex >= static_cast<std::uint32_t>(listCapacity)) {
        return FT_DEVICE_NOT_FOUND;
    }
    const ListedDevice& entry = session.devices[dwIndex];
    if (lpdwFlags != nullptr) *lpdwFlags = entry.flags;
    if (lpdwType != nullptr) *lpdwType = entry.type;
    if (lpdwID != nullptr) *lpdwID = entry.id;
    if (lpdwLocId != nullptr) *lpdwLocId = entry.locId;
    if (lpSerialNumber != nullptr) std::memcpy(lpSerialNumber, entry.serialNumber, sizeof entry.serialNumber);
    if (lpDescription != nullptr) std::memcpy(lpDescription, entry.description, sizeof entry.description);
    if (pftHandle != nullptr) *pftHandle = entry.handle;
    return FT_OK;
}

FT_STATUS PITCHIME_D2XX_CALL FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
    std::lock_guard<std::mutex> guard(session.lock);
    if (pHandle == nullptr || deviceNumber < 0) {
        return FT_INVALID_PARAMETER;
    }
    if (session.open) {
        return FT_DEVICE_NOT_OPENED;
    }
    if (!ensureContext()) {
        return FT_INSUFFICIENT_RESOURCES;
    }
    ftdi_device_list* list = nullptr;
    const int found = ftdi_usb_find_all(session.context, &list, 0, 0);
    ftdi_device_list* item = list;
    for (int index = 0; item != nullptr && index < deviceNumber; ++index) {
        item = item->next;
    }
    FT_STATUS status = FT_DEVICE_NOT_FOUND;
    if (found > 0 && item != nullptr) {
        const int result = ftdi_usb_open_dev(session.context, item->dev);
        if (result == 0) {
            session.open = true;
            *pHandle = sessionHandle();
            status = FT_OK;
        } else {
            hintOpenFailure(item->dev, result);
            status = FT_DEVICE_NOT_OPENED;
        }
    }
    ftdi_list_free(&list);
    releaseContextIfIdle();
    return status;
}

// The byte clock. The vendor driver sends the divisor of the rate it is
// given, in bit-bang mode as in serial mode, and an R-series chip in
// asynchronous bit-bang mode steps through the bytes at a multiple of that
// rate (FTDI's AN232R-01); FT_SetBaudRate(3000000) therefore selects the
// chip's smallest divisor, setup packet 40 03 0000 0000 0000, whether it is
// called before or after FT_SetBitMode.
//
// libftdi1 instead multiplies the rate by 4 once bit-bang mode is on (its
// ftdi_set_baudrate: "bitbang baudrates are automatically multiplied by 4"),
// so 3000000 asked after ftdi_set_bitmode becomes 12000000 and is rejected
// as out of range. Handing libftdi1 a quarter of the rate while bit-bang is
// on makes it compute and send the same divisor as the vendor driver, in
// either order of the two calls.
FT_STATUS PITCHIME_D2XX_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t dwBaudRate) {
    std::lock_guard<std::mutex> guard(session.lock);
    if (!isOpenHandle(ftHandle)) {
        return FT_INVALID_HANDLE;
    }
    if (dwBaudRate == 0 || dwBaudRate > 12000000) {
        return FT_INVALID_BAUD_RATE;
    }
    const std::uint32_t rate = session.context->bitbang_enabled ? (dwBaudRate + 2) / 4 : dwBaudRate;
    const int result = ftdi_set_baudrate(session.context, static_cast<int>(rate));
    if (result == -1) {
        return FT_INVALID_BAUD_RATE;
    }
    return result == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS PITCHIME_D2XX_CALL FT_SetBitMode(FT_HANDLE ftHandle, unsigned char ucMask, unsigned char ucEnable) {
    std::lock_guard<std::mutex> guard(session.lock);
    if (!isOpenHandle(ftHandle)) {
        return FT_INVALID_HANDLE;
    }
    return ftdi_set_bitmode(session.context, ucMask, ucEnable) == 0 ? FT_OK : FT_IO_ERROR;
}

// Sends the bytes one bulk transfer at a time, so that the count returned
// after a failed transfer is the number of bytes the chip accepted before it.
FT_STATUS PITCHIME_D2XX_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                                      std::uint32_t* lpdwBytesWritten) {
    std::lock_guard<std::mutex> guard(session.lock);
    std::uint32_t written = 0;
    FT_STATUS status = FT_OK;
    if (!isOpenHandle(ftHandle)) {
        status = FT_INVALID_HANDLE;
    } else if (lpBuffer == nullptr && dwBytesToWrite > 0) {
        status = FT_INVALID_PARAMETER;
    } else {
        unsigned int chunk = 0;
        ftdi_write_data_get_chunksize(session.context, &chunk);
        if (chunk == 0) {
            chunk = 4096;
        }
        const auto* bytes = static_cast<const unsigned char*>(lpBuffer);
        while (written < dwBytesToWrite) {
            const std::uint32_t left = dwBytesToWrite - written;
            const int size = static_cast<int>(left < chunk ? left : chunk);
            const int sent = ftdi_write_data(session.context, bytes + written, size);
            if (sent < 0) {
                status = FT_IO_ERROR;
                break;
            }
            written += static_cast<std::uint32_t>(sent);
        }
    }
    if (lpdwBytesWritten != nullptr) {
        *lpdwBytesWritten = written;
    }
    return status;
}

// Closing releases the interface; libftdi1 leaves the ftdi_sio kernel driver
// detached until the board is plugged in again.
FT_STATUS PITCHIME_D2XX_CALL FT_Close(FT_HANDLE ftHandle) {
    std::lock_guard<std::mutex> guard(session.lock);
    if (!isOpenHandle(ftHandle)) {
        return FT_INVALID_HANDLE;
    }
    const int result = ftdi_usb_close(session.context);
    session.open = false;
    releaseContextIfIdle();
    return result == 0 ? FT_OK : FT_IO_ERROR;
}

}  // extern "C"
