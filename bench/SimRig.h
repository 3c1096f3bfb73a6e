#pragma once

// The core on one simulated emulator at 0x378, set for an EPROM type: what the benchmarks
// measure against.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Host.h"
#include "image/ImageModel.h"
#include "link/Emulator.h"
#include "link/IoPort.h"
#include "port/SimBackend.h"

namespace tarvex {

struct SimRig {
    explicit SimRig(int epromType) {
        std::string error;
        auto backend = sim::SimBackend::Create("", "", error);
        bus = backend->SharedBus();
        port = std::make_unique<TIoPort>(std::move(backend));
        port->SetOpened(true);
        model = std::make_unique<ImageModel>();
        link = std::make_unique<EmulatorLink>(*port, *model, host);
        link->DetectEmulator();
        link->SetEpromType(epromType);
    }

    // A pattern that differs from byte to byte and from page to page.
    void FillImage() {
        for (std::size_t i = 0; i <= model->EpromEnd; ++i) {
            model->DataBuffer[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        }
    }

    // The accesses `run` makes, as the bus saw them.
    template <typename Run>
    std::vector<sim::Access> Record(Run run) {
        bus->SetTracing(true);
        bus->TakeTrace();
        run();
        auto trace = bus->TakeTrace();
        bus->SetTracing(false);
        return trace;
    }

    // The same accesses straight on the bus: the floor under any port access layer.
    void Replay(const std::vector<sim::Access>& trace) {
        for (const sim::Access& access : trace) {
            if (access.write) {
                bus->Write(access.port, access.value);
            } else {
                benchmark::DoNotOptimize(bus->Read(access.port));
            }
        }
    }

    std::shared_ptr<sim::SimBus> bus;
    std::unique_ptr<TIoPort> port;
    std::unique_ptr<ImageModel> model;
    SilentHost host;
    std::unique_ptr<EmulatorLink> link;
};

}  // namespace tarvex
