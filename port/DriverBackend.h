#pragma once

#include <cstdint>
#include <memory>

#include "port/PortBackend.h"
#include "port/WindowsCalls.h"

namespace tarvex {

// The Windows version as the driver path sees it (GetVersionExA).
enum class OSKind : std::uint8_t {
    osUnknown = 0,
    osWin32s = 1,
    osWin95 = 2,
    osWin98 = 3,
    osWinNT4 = 4,
    osWinNT5 = 5,
    osWinME = 6,
    // Vista and every later NT: the VxD path cannot work there, the service path does.
    osWinNT6 = 7,
};

OSKind OSKindOf(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor);
bool TakesServicePath(OSKind kind);

// The Windows control-code rule (CTL_CODE).
constexpr std::uint32_t ControlCode(std::uint32_t deviceType, std::uint32_t function,
                                    std::uint32_t method, std::uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
inline constexpr std::uint32_t kServiceReadCode = ControlCode(0xF100, 0x901, 0, 1);
inline constexpr std::uint32_t kServiceWriteCode = ControlCode(0xF100, 0x902, 0, 2);
inline constexpr std::uint32_t kVxdReadCode = 2;
inline constexpr std::uint32_t kVxdWriteCode = 3;

// What to check when the ioport driver does not open, after the message's first line.
inline constexpr const char* kDriverFailureHint =
    "Check location of the following files:\r- Ioport.VXD for Windows 95/98/ME\r- Ioport.SYS "
    "for Windows  NT/2000\r";

// The ioport kernel driver (TARVEX_IO=driver): on the NT family installed and started as
// the service "Ioport" from Ioport.sys, on the 95 family opened as ioport.vxd. At its end
// it stops the service only when this run started it and deletes it only when this run
// created it, so the system is left as it was found.
std::unique_ptr<PortBackend> MakeDriverBackend(std::shared_ptr<WindowsCalls> calls);

}  // namespace tarvex
