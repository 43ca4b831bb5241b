// Time from a socket device appearing to its arrival callback, with and without the
// hot-plug wake (without it the 2000 ms scan finds the device).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "hid/hid.h"
#include "socket_device_fixture.h"
#include "socket_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Plugs {
    std::mutex mutex;
    std::condition_variable changed;
    int arrivals = 0;
    int removals = 0;
    Clock::time_point arrivedAt;
};

void onArrive(HidDeviceEntry*, void* context) {
    auto* plugs = static_cast<Plugs*>(context);
    std::lock_guard<std::mutex> lock(plugs->mutex);
    plugs->arrivedAt = Clock::now();
    ++plugs->arrivals;
    plugs->changed.notify_all();
}

void onRemove(HidDeviceEntry*, void* context) {
    auto* plugs = static_cast<Plugs*>(context);
    std::lock_guard<std::mutex> lock(plugs->mutex);
    ++plugs->removals;
    plugs->changed.notify_all();
}

void onReport(HidDeviceEntry*, const uint8_t*, int32_t, void*) {}

void BM_HidArrivalLatency(benchmark::State& state) {
    const HidDeviceFilter filters[] = {{0x1a61, 0x3650}, {0, 0}};
    HidTimingsForTest().hotplugWake = state.range(0) != 0;
    Plugs plugs;
    hidInterface* hid = OpenHidInterface(filters, onReport, onArrive, onRemove, &plugs);
    std::vector<double> samples;
    for (auto _ : state) {
        SocketDeviceFixture device;
        const Clock::time_point plugged = Clock::now();
        device.listen(BenchSocketFolder().path(), "bench-vid_1a61&pid_3650");
        std::unique_lock<std::mutex> lock(plugs.mutex);
        plugs.changed.wait(lock, [&] { return plugs.arrivals > int(samples.size()); });
        const std::chrono::duration<double> latency = plugs.arrivedAt - plugged;
        samples.push_back(latency.count());
        state.SetIterationTime(latency.count());
        lock.unlock();
        device.unplug();
        lock.lock();
        plugs.changed.wait(lock, [&] { return plugs.removals == plugs.arrivals; });
    }
    CloseHidInterface(hid);
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2] * 1000;
    state.counters["max_ms"] = samples.back() * 1000;
    HidTimingsForTest() = HidTimings();
}
BENCHMARK(BM_HidArrivalLatency)
    ->ArgName("wake")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
