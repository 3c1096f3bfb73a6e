#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "image/ImageModel.h"
#include "link/Emulator.h"
#include "port/SimBackend.h"
#include "support/RecordingHost.h"

namespace tarvex::testing {

// The core on an open port to simulated devices ("0x378/noreset,0x278", see SimBackend).
struct SimRig {
    explicit SimRig(const std::string& devices = "", const std::string& state = "")
        : port(std::make_unique<TIoPort>(sim::SimBackend::Create(devices, state, error))),
          bus(static_cast<sim::SimBackend*>(port->Backend())->SharedBus()) {
        port->SetOpened(true);
    }

    // The accesses since the last call, relative to `base`: "D5A" and "C0C" write data and
    // control, "S87" and "R0C" read status and control; "?" marks any other port.
    std::string Trace(std::uint16_t base = 0x378) {
        std::string text;
        for (const auto& access : bus->TakeTrace()) {
            const unsigned offset = access.port - base;
            char item[8];
            std::snprintf(item, sizeof item, " %c%02X",
                          offset < 3 ? (access.write ? "D?C" : "?SR")[offset] : '?', access.value);
            text += item;
        }
        return text.empty() ? text : text.substr(1);
    }
    sim::SimEmulator* Device(std::uint16_t base = 0x378) {
        return bus->WithDevice(base, [](sim::SimEmulator* device) { return device; });
    }

    std::string error;  // why the devices were refused
    std::unique_ptr<TIoPort> port;
    std::shared_ptr<sim::SimBus> bus;
    ImageModel model;
    RecordingHost host;
    EmulatorLink link{*port, model, host};  // after `port`, which it uses
};

// A rig whose emulator is found and set for `type` (0: none), its bus tracing from then on.
inline std::unique_ptr<SimRig> Ready(std::uint16_t type, const std::string& devices = "",
                                     bool tracing = true) {
    auto rig = std::make_unique<SimRig>(devices);
    rig->link.DetectEmulator();
    rig->link.SetEpromType(type);
    rig->bus->SetTracing(tracing);
    return rig;
}

}  // namespace tarvex::testing
