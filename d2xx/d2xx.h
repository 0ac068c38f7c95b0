// The seven calls of FTDI's D2XX driver library that the board link uses,
// declared from the library's public programmer's guide. BoardPort is their
// only caller; which implementation answers them is chosen when linking:
// the vendor's FTD2XX.dll on Windows, the libftdi1 adapter on Linux and
// macOS, or the virtual tone board.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define PITCHIME_D2XX_CALL __stdcall
#else
#define PITCHIME_D2XX_CALL
#endif

extern "C" {

// DWORD and ULONG of the documented signatures are 32-bit unsigned on every
// platform the library exists for; they are spelled std::uint32_t here so this
// header never clashes with <windows.h>.
typedef void* FT_HANDLE;
typedef std::uint32_t FT_STATUS;

FT_STATUS PITCHIME_D2XX_CALL FT_Open(int deviceNumber, FT_HANDLE* pHandle);
FT_STATUS PITCHIME_D2XX_CALL FT_CreateDeviceInfoList(std::uint32_t* lpdwNumDevs);
FT_STATUS PITCHIME_D2XX_CALL FT_GetDeviceInfoDetail(std::uint32_t dwIndex, std::uint32_t* lpdwFlags,
                                                    std::uint32_t* lpdwType, std::uint32_t* lpdwID,
                                                    std::uint32_t* lpdwLocId, void* lpSerialNumber,
                                                    void* lpDescription, FT_HANDLE* pftHandle);
FT_STATUS PITCHIME_D2XX_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t dwBaudRate);
FT_STATUS PITCHIME_D2XX_CALL FT_SetBitMode(FT_HANDLE ftHandle, unsigned char ucMask, unsigned char ucEnable);
FT_STATUS PITCHIME_D2XX_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                                      std::uint32_t* lpdwBytesWritten);
FT_STATUS PITCHIME_D2XX_CALL FT_Close(FT_HANDLE ftHandle);

}  // extern "C"

namespace pitchime::d2xx {

// Status codes of the library, as documented.
inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;

// Device type of the R series (FT232R, FT245R) in FT_GetDeviceInfoDetail.
inline constexpr std::uint32_t FT_DEVICE_232R = 5;
// Flags bit set while the device is open.
inline constexpr std::uint32_t FT_FLAGS_OPENED = 1;

// Sizes of the text buffers FT_GetDeviceInfoDetail fills.
inline constexpr int serialNumberSize = 16;
inline constexpr int descriptionSize = 64;

// What a failed FT_Open's status means with the implementation linked in,
// and what the user can try: one line of text without a line end. Every
// implementation of the calls provides it.
const char* openFailureReason(FT_STATUS status);

}  // namespace pitchime::d2xx
