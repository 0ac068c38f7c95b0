// Why FTD2XX.dll's FT_Open failed, from the status codes its programmer's
// guide lists, with what usually helps.
#include "d2xx/d2xx.h"

namespace pitchime::d2xx {

const char* openFailureReason(FT_STATUS status) {
    switch (status) {
        case FT_DEVICE_NOT_FOUND:
            return "no FTDI device was found; plug the board in, and check that FTDI's driver is installed "
                   "(Device Manager lists the board under USB controllers)";
        case FT_DEVICE_NOT_OPENED:
            return "the device is there but could not be opened; close any program that has it open (a "
                   "terminal on its COM port, say), or unplug the board and plug it in again";
        case FT_IO_ERROR:
            return "the device did not answer; unplug the board and plug it in again";
        case FT_INSUFFICIENT_RESOURCES:
            return "the driver ran out of resources; close other programs and try again";
        case FT_INVALID_HANDLE:
        case FT_INVALID_PARAMETER:
            return "the driver refused the request; reinstall FTDI's D2XX driver";
        default:
            return "an error status of FTD2XX.dll; unplug the board, plug it in again and try again";
    }
}

}  // namespace pitchime::d2xx
