// The tree view with a large program: 200 data blocks of 500 members each
// (100 000 variables) served by the in-process simulator.
//
//   BM_BuildNodes          the UI-thread step of a load: every block node
//                          and tag node built from the browsed lists
//   BM_FilterKeystroke     one keystroke in the search box: the filter
//                          applied to every node
//   BM_Frame/collapsed     one whole frame of the headless main window
//   BM_Frame/one_block_open  the same with one block of 500 tags open
#include "MainWindow.h"
#include "Views/TreeItem.h"
#include "Views/TreeView.h"
#include "vemo/core/AssetPackage.h"
#include "vemo/core/Browse.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"

#include "Program.h"
#include "Server.h"

#include <benchmark/benchmark.h>
#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vemo/ui/ui.h"

namespace {

constexpr std::uint32_t kBlocks = 200;
constexpr std::uint32_t kMembers = 500;

std::unique_ptr<vemo::sim::Server> startSimulator() {
    vemo::sim::ServerOptions options;
    options.port = 0;
    return std::make_unique<vemo::sim::Server>(vemo::sim::Program::generated(kBlocks, kMembers), options);
}

// The whole program listed and browsed, as a load of the tree gathers it.
std::unique_ptr<vemo::Catalog> browseAll(std::uint16_t port) {
    vemo::PlcConnection connection;
    if (connection.connect("127.0.0.1", port) != S7_OK) throw std::runtime_error("connect failed");
    auto catalog = std::make_unique<vemo::Catalog>(
        vemo::listAndBrowse([&](const vemo::ClientCall& call) { connection.withClient(call); }));
    if (catalog->listCode != S7_OK) throw std::runtime_error("list failed");
    if (vemo::firstFailure(catalog->browsed) != nullptr) throw std::runtime_error("browse failed");
    return catalog;
}

// A deep copy in the library's layout (malloc, as its default hooks free).
vemo::SymbolList copyOf(const vemo::SymbolList& owned) {
    const s7_symbol_list& list = owned.get();
    s7_symbol_list copy{};
    if (list.count == 0) return vemo::SymbolList();
    copy.items = static_cast<s7_symbol*>(std::calloc(list.count, sizeof(s7_symbol)));
    copy.count = list.count;
    for (std::uint32_t i = 0; i < list.count; ++i) {
        copy.items[i].datatype = list.items[i].datatype;
        copy.items[i].name = strdup(list.items[i].name);
        if (s7_item_address_copy(&list.items[i].address, &copy.items[i].address) != 0) std::abort();
    }
    return vemo::SymbolList(copy);
}

std::vector<vemo::SymbolList> copiesOf(const vemo::Catalog& catalog) {
    std::vector<vemo::SymbolList> copies;
    for (const auto& browsed : catalog.browsed) copies.push_back(copyOf(browsed.symbols));
    return copies;
}

std::vector<std::unique_ptr<vemo::DatablockItem>> build(const vemo::Catalog& catalog,
                                                        std::vector<vemo::SymbolList> copies,
                                                        const vemo::TreeItemContext& context) {
    std::vector<std::unique_ptr<vemo::DatablockItem>> items;
    items.reserve(catalog.browsed.size());
    for (std::size_t i = 0; i < catalog.browsed.size(); ++i) {
        items.push_back(std::make_unique<vemo::DatablockItem>(catalog.browsed[i].block, std::move(copies[i]), context));
    }
    return items;
}

void BM_BuildNodes(benchmark::State& state) {
    const auto sim = startSimulator();
    const auto catalog = browseAll(sim->port());
    const vemo::TreeItemContext context;
    std::uint64_t symbols = 0;
    for (const auto& browsed : catalog->browsed) symbols += browsed.symbols.size();
    for (auto _ : state) {
        state.PauseTiming();
        auto copies = copiesOf(*catalog);
        state.ResumeTiming();
        auto items = build(*catalog, std::move(copies), context);
        benchmark::DoNotOptimize(items.data());
        state.PauseTiming();
        items.clear();
        state.ResumeTiming();
    }
    state.counters["symbols"] = static_cast<double>(symbols);
}
BENCHMARK(BM_BuildNodes)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_FilterKeystroke(benchmark::State& state) {
    const auto sim = startSimulator();
    const auto catalog = browseAll(sim->port());
    const vemo::TreeItemContext context;
    const auto items = build(*catalog, copiesOf(*catalog), context);
    // "tag12" typed after "tag1": every node is visited either way.
    const char* filters[] = {"tag1", "tag12"};
    std::size_t n = 0;
    for (auto _ : state) {
        const char* filter = filters[n++ % 2];
        for (const auto& item : items) item->applyFilter(filter);
    }
    std::size_t shown = 0;
    for (const auto& item : items) shown += item->isVisible() ? 1 : 0;
    state.counters["blocks_shown"] = static_cast<double>(shown);
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);

// The real main window, headless, connected to the simulator and loaded.
class Session {
public:
    Session() : sim_(startSimulator()) {
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
        if (service_.connect("127.0.0.1", sim_->port()) != S7_OK) throw std::runtime_error("connect failed");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (tree()->isLoading() || tree()->blockItems().empty()) {
            if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("load timed out");
            app_->runFrames(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        app_->runFrames(3);
    }
    ~Session() {
        pool_.shutdown();
        window_.reset();
        app_.reset();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    vemo::TreeView* tree() const { return window_->treeView(); }
    void frame() { app_->runFrames(1); }

    // Opens the first block with a click on its arrow.
    void openFirstBlock() {
        vemo::ui::ImGuiPanel* panel = tree()->treePanel();
        ImGuiContext* previous = ImGui::GetCurrentContext();
        ImGui::SetCurrentContext(panel->getImGuiContext());
        const float font = ImGui::GetFontSize();
        const ImVec2 padding = ImGui::GetStyle().WindowPadding;
        ImGui::SetCurrentContext(previous);
        const vemo::ui::Vec2 at = panel->getWorldPosition() +
                                  vemo::ui::Vec2{padding.x + font * 0.5f, padding.y + std::max(font, 20.0f) * 0.5f};
        const float before = tree()->contentHeight();
        window_->window()->injectClick(at.x, at.y);
        for (int i = 0; i < 10 && tree()->contentHeight() <= before; ++i) frame();
        if (tree()->contentHeight() <= before) throw std::runtime_error("the block did not open");
    }

private:
    std::unique_ptr<vemo::sim::Server> sim_;
    vemo::PlcConnection service_;
    vemo::ThreadPool pool_;
    std::unique_ptr<vemo::ui::Application> app_;
    std::unique_ptr<vemo::MainWindow> window_;
};

void BM_Frame(benchmark::State& state) {
    Session session;
    if (state.range(0) != 0) session.openFirstBlock();
    for (auto _ : state) session.frame();
    state.counters["tree_height_px"] = session.tree()->contentHeight();
}
BENCHMARK(BM_Frame)->Arg(0)->Arg(1)->ArgName("one_block_open")->Unit(benchmark::kMillisecond);

}  // namespace
