// Stands in for the InpOut DLL in the wine tests. Ports are plain memory: a read answers
// what was last written there (0xFF if nothing was, as an empty bus). Every access is
// appended to the file named by FAKE_INPOUT_LOG as "W 0378 55" / "R 0379 FF"; with
// FAKE_INPOUT_CLOSED set, the driver reports that it did not open.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

unsigned short ports[65536];  // value + 1; 0 means never written

void Record(char kind, unsigned port, unsigned value) {
    const char* path = std::getenv("FAKE_INPOUT_LOG");
    if (!path) {
        return;
    }
    if (std::FILE* log = std::fopen(path, "a")) {
        std::fprintf(log, "%c %04X %02X\n", kind, port, value);
        std::fclose(log);
    }
}

UCHAR Read(USHORT port) {
    const UCHAR value = ports[port] ? static_cast<UCHAR>(ports[port] - 1) : 0xFF;
    Record('R', port, value);
    return value;
}

void Write(USHORT port, UCHAR value) {
    ports[port] = static_cast<unsigned short>(value + 1);
    Record('W', port, value);
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI IsInpOutDriverOpen() {
    return std::getenv("FAKE_INPOUT_CLOSED") == nullptr;
}
__declspec(dllexport) UCHAR WINAPI DlPortReadPortUchar(USHORT port) {
    return Read(port);
}
__declspec(dllexport) void WINAPI DlPortWritePortUchar(USHORT port, UCHAR value) {
    Write(port, value);
}
__declspec(dllexport) short WINAPI Inp32(short port) {
    return Read(static_cast<USHORT>(port));
}
__declspec(dllexport) void WINAPI Out32(short port, short value) {
    Write(static_cast<USHORT>(port), static_cast<UCHAR>(value));
}
}
