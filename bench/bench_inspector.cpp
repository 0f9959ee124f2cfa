// The inspector with a huge watch table: the real main window, headless,
// against the in-process simulator serving one DINT array, whose elements
// are all added to the inspector as "Add to inspector" on the array does.
//
//   BM_Inspector/<rows>  per size, in milliseconds:
//     add_ms                  the confirmed add itself (one call on the UI thread)
//     longest_frame_add_ms    the longest frame of the first seconds after it,
//                             while the refresh runs
//     longest_frame_sort_ms   the longest frame from a click on the Name
//                             header until the rows are shown sorted
//     longest_frame_clear_ms  the longest frame from a confirmed "Clear all"
//                             until the table is empty
//     longest_frame_cpu_*_ms  the same frames' processor time on the UI
//                             thread, which other work on the machine does
//                             not stretch
//     heap_bytes_per_row      what the rows took, heap in use after minus
//                             before the add, per row; rss_bytes_per_row the
//                             same by the resident set
//     rows_read_per_round     how many rows the last whole refresh round read
//   then one ordinary frame per iteration.
#include "MainWindow.h"
#include "Views/InspectorView.h"
#include "Views/TreeModel.h"
#include "Views/TreeView.h"
#include "vemo/core/AssetPackage.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ThreadPool.h"

#include "Program.h"
#include "Server.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include <time.h>

#include "vemo/ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;

// Both the heap's own chunks and the large blocks it maps on their own.
double heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// The UI thread's own processor time: on a machine shared with other work a
// frame's wall time also counts the time the thread waited for a core.
double threadMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double residentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Session {
public:
    explicit Session(std::uint32_t elements) {
        vemo::sim::ServerOptions options;
        options.port = 0;
        sim_ = std::make_unique<vemo::sim::Server>(vemo::sim::Program::generatedArray(elements), options);
        ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
        static const bool loaded = [] {
            vemo::AssetPackage::instance().load(VEMO_ASSET_PACKAGE);
            return true;
        }();
        (void)loaded;
        auto context = vemo::ui::RenderContext::create(vemo::ui::RenderBackend::Software, "bench-inspector");
        context.selectDevice(0);
        context.initialize();
        app_ = std::make_unique<vemo::ui::Application>(std::move(context), "bench-inspector");
        pool_.init(1);
        window_ = std::make_unique<vemo::MainWindow>(service_, pool_);
    }
    ~Session() {
        pool_.shutdown();
        window_.reset();
        app_.reset();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    vemo::TreeView* tree() const { return window_->treeView(); }
    vemo::InspectorView* view() const { return window_->inspectorView(); }
    vemo::TagInspector& inspector() const { return *tree()->inspector(); }

    // One frame's wall time; its processor time is kept in longestCpu.
    double frame() {
        const auto start = Clock::now();
        const double cpu = threadMilliseconds();
        app_->runFrames(1);
        longestCpu = std::max(longestCpu, threadMilliseconds() - cpu);
        return millisecondsSince(start);
    }
    double longestCpu = 0;

    // Frames until `done`, the longest one in milliseconds.
    double longestFrameUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(300)) {
        double longest = 0;
        const auto deadline = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > deadline) throw std::runtime_error("timed out");
            longest = std::max(longest, frame());
            // The worker gets the second core.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return longest;
    }

    // Frames for `duration`, the longest one.
    double longestFrameFor(Clock::duration duration) {
        double longest = 0;
        const auto end = Clock::now() + duration;
        while (Clock::now() < end) {
            longest = std::max(longest, frame());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return longest;
    }

    void connectAndLoad() {
        for (int i = 0; i < 5; ++i) frame();
        if (service_.connect("127.0.0.1", sim_->port()) != S7_OK) throw std::runtime_error("connect failed");
        longestFrameUntil([&] { return !tree()->isLoading() && tree()->model() != nullptr; });
        for (int i = 0; i < 3; ++i) frame();
    }

    // "Add to inspector" on the array, confirmed: how long the add took.
    double addArray() {
        const vemo::TreeModel& model = *tree()->model();
        const std::uint32_t root = model.roots().front();
        std::uint32_t largest = root;
        std::size_t most = 0;
        for (std::uint32_t child : model.children(root)) {
            if (model.children(child).size() > most) {
                most = model.children(child).size();
                largest = child;
            }
        }
        tree()->addToInspector(largest);
        const auto start = Clock::now();
        tree()->confirmAdd(true);
        return millisecondsSince(start);
    }

private:
    std::unique_ptr<vemo::sim::Server> sim_;
    vemo::PlcConnection service_;
    vemo::ThreadPool pool_;
    std::unique_ptr<vemo::ui::Application> app_;
    std::unique_ptr<vemo::MainWindow> window_;
};

void BM_Inspector(benchmark::State& state) {
    const auto elements = static_cast<std::uint32_t>(state.range(0));
    Session session(elements);
    session.connectAndLoad();
    session.frame();
    malloc_trim(0);
    const double heapBefore = heapInUse();
    const double rssBefore = residentBytes();

    const double add = session.addArray();
    session.longestCpu = 0;
    const std::size_t rows = session.inspector().rows().size();
    const double afterAdd = session.longestFrameFor(std::chrono::seconds(3));
    const std::size_t roundRead = session.inspector().lastRound().read;
    malloc_trim(0);
    state.counters["heap_bytes_per_row"] = (heapInUse() - heapBefore) / static_cast<double>(rows);
    state.counters["rss_bytes_per_row"] = (residentBytes() - rssBefore) / static_cast<double>(rows);

    const double afterAddCpu = std::exchange(session.longestCpu, 0);
    session.view()->table().setSort({vemo::InspectorTable::SortKey::Name, true});
    const double sort = session.longestFrameFor(std::chrono::seconds(3));
    const double sortCpu = std::exchange(session.longestCpu, 0);

    const auto clearStart = Clock::now();
    session.view()->clearAll();
    session.view()->confirmRemoval(true);
    double clear = millisecondsSince(clearStart);
    clear = std::max(clear, session.longestFrameUntil([&] { return session.inspector().rows().empty(); }));
    clear = std::max(clear, session.longestFrameFor(std::chrono::milliseconds(500)));
    const double clearCpu = std::exchange(session.longestCpu, 0);

    for (auto _ : state) session.frame();
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["add_ms"] = add;
    state.counters["longest_frame_add_ms"] = afterAdd;
    state.counters["longest_frame_sort_ms"] = sort;
    state.counters["longest_frame_clear_ms"] = clear;
    state.counters["longest_frame_cpu_add_ms"] = afterAddCpu;
    state.counters["longest_frame_cpu_sort_ms"] = sortCpu;
    state.counters["longest_frame_cpu_clear_ms"] = clearCpu;
    state.counters["rows_read_per_round"] = static_cast<double>(roundRead);
}
BENCHMARK(BM_Inspector)->Arg(20000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
