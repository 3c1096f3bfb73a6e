#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/ImageModel.h"
#include "link/Emulator.h"
#include "link/IoPort.h"
#include "sim/SimBackend.h"
#include "support/RecordingHost.h"

namespace tarvex::testing {

// The core wired to a simulated bus: port access, model, host and emulator link.
struct SimRig {
    explicit SimRig(const std::string& devices = "") {
        std::string error;
        auto backend = sim::SimBackend::Create(devices, "", error);
        bus = backend->SharedBus();
        port = std::make_unique<TIoPort>(std::move(backend));
        port->SetOpened(true);
        link = std::make_unique<EmulatorLink>(*port, model, host);
    }

    // The accesses since the last call, as trace lines.
    std::vector<std::string> Trace() {
        std::vector<std::string> lines;
        for (const auto& access : bus->TakeTrace()) {
            lines.push_back(sim::FormatAccess(access));
        }
        return lines;
    }

    std::shared_ptr<sim::SimBus> bus;
    std::unique_ptr<TIoPort> port;
    ImageModel model;
    RecordingHost host;
    std::unique_ptr<EmulatorLink> link;
};

}  // namespace tarvex::testing
