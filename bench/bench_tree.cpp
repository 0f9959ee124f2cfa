// The tree over programs of every shape that matters: 200 data blocks of 500
// flat members (100 000 variables), one array of 1 000 000 elements, and
// 100 000 variables nested 10 structures deep.
//
//   BM_BuildModel/<shape>   what the load task does on the worker after the
//                           browse: the model built from the symbol lists;
//                           bytes per symbol of the tree alone and with the
//                           library's symbol lists it keeps
//   BM_FilterKeystroke/<shape>  one whole filter pass, and how many frames
//                           it is spread over at the view's budget
//   BM_Rows/<shape>         the rows laid out again with everything open
//                           (what a frame does after opening a node)
//   BM_Frame/<shape>        the real main window, headless, against the
//                           in-process simulator: the longest frame while
//                           the program loads, while a filter keystroke is
//                           worked off, and when the largest node opens,
//                           then one ordinary frame
#include "MainWindow.h"
#include "Views/TreeModel.h"
#include "Views/TreeView.h"
#include "vemo/core/AssetPackage.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"

#include "Program.h"
#include "Server.h"
#include "test_symbols.h"

#include <benchmark/benchmark.h>
#include <SDL.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vemo/ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;

// ------------------------------------------------------------ model alone

enum Shape : int { kFlat = 0, kArray = 1, kDeep = 2 };
const char* const kShapeNames[] = {"flat_200x500", "array_1000000", "deep_100000_x10"};

// The symbol names of one shape, as a browse names them.
vemo::test::TestBlocks namesOf(Shape shape) {
    vemo::test::TestBlocks blocks;
    switch (shape) {
    case kFlat:
        for (int b = 1; b <= 200; ++b) {
            const std::string block = "GenDB" + std::to_string(b);
            std::vector<vemo::test::TestSymbol> symbols;
            for (int i = 1; i <= 500; ++i) symbols.push_back({block + ".Tag" + std::to_string(i), 7});
            blocks.emplace_back(block, std::move(symbols));
        }
        break;
    case kArray: {
        std::vector<vemo::test::TestSymbol> symbols;
        symbols.reserve(1000000);
        for (int i = 0; i < 1000000; ++i) symbols.push_back({"Big.Values[" + std::to_string(i) + "]", 7});
        blocks.emplace_back("Big", std::move(symbols));
        break;
    }
    case kDeep: {
        // Nine levels of an array of two structures, 195 members at the
        // bottom: 2^9 x 195 = 99 840 variables, each 10 structures deep.
        std::vector<vemo::test::TestSymbol> symbols;
        for (int path = 0; path < 512; ++path) {
            std::string prefix = "Deep";
            for (int level = 0; level < 9; ++level) {
                prefix += ".Level" + std::to_string(level) + "[" + std::to_string((path >> level) & 1) + "]";
            }
            for (int i = 0; i < 195; ++i) symbols.push_back({prefix + ".Tag" + std::to_string(i), 7});
        }
        blocks.emplace_back("Deep", std::move(symbols));
        break;
    }
    }
    return blocks;
}

std::size_t heapInUse() { return mallinfo2().uordblks; }

void BM_BuildModel(benchmark::State& state) {
    const auto shape = static_cast<Shape>(state.range(0));
    state.SetLabel(kShapeNames[shape]);
    const vemo::test::TestBlocks names = namesOf(shape);
    std::size_t symbols = 0;
    double treeBytes = 0;
    double allBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = heapInUse();
        vemo::Catalog catalog = vemo::test::makeCatalog(names);
        const std::size_t listed = heapInUse();
        state.ResumeTiming();
        auto model = std::make_unique<vemo::TreeModel>(std::move(catalog));
        benchmark::DoNotOptimize(model.get());
        state.PauseTiming();
        symbols = model->symbolCount();
        treeBytes = static_cast<double>(model->nodeBytes()) / static_cast<double>(symbols);
        allBytes = static_cast<double>(heapInUse() - before) / static_cast<double>(symbols);
        (void)listed;
        model.reset();
        state.ResumeTiming();
    }
    state.counters["symbols"] = static_cast<double>(symbols);
    state.counters["tree_bytes_per_symbol"] = treeBytes;
    state.counters["with_symbol_lists_bytes_per_symbol"] = allBytes;
}
BENCHMARK(BM_BuildModel)->DenseRange(kFlat, kDeep)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FilterKeystroke(benchmark::State& state) {
    const auto shape = static_cast<Shape>(state.range(0));
    state.SetLabel(kShapeNames[shape]);
    const vemo::TreeModel model(vemo::test::makeCatalog(namesOf(shape)));
    // "tag12" typed after "tag1" (and the like): every node is visited.
    const char* filters[] = {"9]", "99]"};
    std::size_t n = 0;
    for (auto _ : state) {
        auto visible = vemo::TreeFilter::visibleFor(model, filters[n++ % 2]);
        benchmark::DoNotOptimize(visible.data());
    }
    vemo::TreeFilter sliced;
    sliced.start(model, "99]");
    int frames = 1;
    while (!sliced.run(std::chrono::nanoseconds(vemo::TreeView::kFilterBudgetNs))) ++frames;
    state.counters["nodes"] = model.size();
    state.counters["frames_at_budget"] = frames;
}
BENCHMARK(BM_FilterKeystroke)->DenseRange(kFlat, kDeep)->Unit(benchmark::kMillisecond);

void BM_Rows(benchmark::State& state) {
    const auto shape = static_cast<Shape>(state.range(0));
    state.SetLabel(kShapeNames[shape]);
    const vemo::TreeModel model(vemo::test::makeCatalog(namesOf(shape)));
    const std::vector<std::uint8_t> visible(model.size(), 1);
    const std::vector<std::uint8_t> open(model.size(), 1);
    std::vector<std::uint32_t> rows;
    for (auto _ : state) {
        vemo::collectRows(model, visible, open, rows);
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["rows"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_Rows)->DenseRange(kFlat, kDeep)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------ whole window

vemo::sim::Program programOf(Shape shape) {
    switch (shape) {
    case kFlat: return vemo::sim::Program::generated(200, 500);
    case kArray: return vemo::sim::Program::generatedArray(1000000);
    case kDeep: return vemo::sim::Program::generatedDeep(100000, 10);
    }
    throw std::invalid_argument("no such shape");
}

// The real main window, headless, against the in-process simulator.
class Session {
public:
    explicit Session(Shape shape) {
        vemo::sim::ServerOptions options;
        options.port = 0;
        sim_ = std::make_unique<vemo::sim::Server>(programOf(shape), options);
        ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
        static const bool loaded = [] {
            vemo::AssetPackage::instance().load(VEMO_ASSET_PACKAGE);
            return true;
        }();
        (void)loaded;
        auto context = vemo::ui::RenderContext::create(vemo::ui::RenderBackend::Software, "bench-tree");
        context.selectDevice(0);
        context.initialize();
        app_ = std::make_unique<vemo::ui::Application>(std::move(context), "bench-tree");
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

    // Frames until `done`, the longest one in milliseconds.
    double longestFrameUntil(const std::function<bool()>& done) {
        double longest = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(300);
        while (!done()) {
            if (Clock::now() > deadline) throw std::runtime_error("timed out");
            longest = std::max(longest, frame());
            // The worker gets the second core; the UI thread would
            // otherwise spin through thousands of empty frames.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return longest;
    }

    double connectAndLoad() {
        // The first frames of a window raster its icons and fonts.
        for (int i = 0; i < 5; ++i) frame();
        if (service_.connect("127.0.0.1", sim_->port()) != S7_OK) throw std::runtime_error("connect failed");
        double longest = longestFrameUntil([&] { return !tree()->isLoading() && tree()->model() != nullptr; });
        // The search box takes a click once ImGui has laid it out.
        for (int i = 0; i < 3; ++i) longest = std::max(longest, frame());
        return longest;
    }

    double typeFilter(const std::string& text) {
        window_->window()->injectClick(tree()->headerPanel()->getWorldPosition().x + 20.0f,
                                       tree()->headerPanel()->getWorldPosition().y + 20.0f);
        frame();
        window_->window()->injectText(text);
        double longest = frame();
        longest = std::max(longest, longestFrameUntil([&] { return !tree()->isFiltering(); }));
        if (tree()->filterText() != text) {
            throw std::runtime_error("the search box did not take the text: '" + tree()->filterText() + "' visible " +
                                     std::to_string(tree()->headerPanel()->isVisible()) + " at " +
                                     std::to_string(tree()->headerPanel()->getWorldPosition().y));
        }
        return longest;
    }

    double clearFilter() {
        double longest = 0;
        // ImGui takes one key press per frame.
        while (!tree()->filterText().empty()) {
            window_->window()->injectKeyPress(SDL_SCANCODE_BACKSPACE);
            longest = std::max(longest, frame());
        }
        return std::max(longest, longestFrameUntil([&] { return !tree()->isFiltering(); }));
    }

    // Opens the block and, below it, the node with the most children.
    double openLargest() {
        const vemo::TreeModel& model = *tree()->model();
        const std::uint32_t root = model.roots().front();
        std::uint32_t largest = root;
        std::size_t most = 0;
        for (std::uint32_t child : model.children(root)) {
            const std::size_t n = model.children(child).size();
            if (n > most) {
                most = n;
                largest = child;
            }
        }
        tree()->setOpen(root, true);
        tree()->setOpen(largest, true);
        return frame();
    }

    double frame() {
        const auto start = Clock::now();
        app_->runFrames(1);
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

private:
    std::unique_ptr<vemo::sim::Server> sim_;
    vemo::PlcConnection service_;
    vemo::ThreadPool pool_;
    std::unique_ptr<vemo::ui::Application> app_;
    std::unique_ptr<vemo::MainWindow> window_;
};

void BM_Frame(benchmark::State& state) {
    const auto shape = static_cast<Shape>(state.range(0));
    state.SetLabel(kShapeNames[shape]);
    Session session(shape);
    const double load = session.connectAndLoad();
    const double filter = session.typeFilter("9]");
    const double clear = session.clearFilter();
    const double open = session.openLargest();
    for (auto _ : state) session.frame();
    state.counters["longest_frame_load_ms"] = load;
    state.counters["longest_frame_filter_ms"] = std::max(filter, clear);
    state.counters["longest_frame_open_ms"] = open;
    state.counters["rows"] = static_cast<double>(session.tree()->rows().size());
}
BENCHMARK(BM_Frame)->DenseRange(kFlat, kDeep)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace
