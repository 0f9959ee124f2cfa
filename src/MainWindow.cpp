#include "MainWindow.h"

#include <functional>
#include <memory>
#include <utility>

#include "Theme.h"
#include "Views/InspectorView.h"
#include "Views/MessageBarView.h"
#include "Views/TopBarView.h"
#include "Views/TreeView.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/Rectangle.h"

namespace vemo {

namespace {

constexpr int kLeftToRight = 0;
constexpr int kAlignStretch = 3;
constexpr int kDistributeFill = 6;

// The inspector's results reach the UI thread through the toolkit, which
// the core does not know.
std::shared_ptr<TagInspector> makeInspector(PlcConnection& service, ThreadPool& pool) {
    TagInspector::Hooks hooks;
    hooks.post = [](std::function<void()> fn) { ui::Application::dispatchToMainThread(std::move(fn)); };
    return std::make_shared<TagInspector>(service, pool, std::move(hooks));
}

}  // namespace

MainWindow::MainWindow() : MainWindow(*PlcConnection::instance(), ThreadPool::instance()) {}

MainWindow::MainWindow(PlcConnection& service, ThreadPool& pool) {
    const Theme& theme = Theme::instance();
    std::shared_ptr<TagInspector> inspector = makeInspector(service, pool);

    window_ = ui::Application::createWindow("VEMO S7 Browser", kWidth, kHeight, ui::WindowFlag::Default);
    window_->setClearColor(theme.windowBackgroundColor());
    window_->setMinSize(kWidth, kMinHeight);

    // Its orientation stays unset: top to bottom, the top bar above the row.
    rootStack_ = new ui::Stack(window_->getRootWidget());
    rootStack_->setPosition({0.0f, 0.0f});
    rootStack_->setPreferredSize({static_cast<float>(kWidth), static_cast<float>(kHeight)});
    rootStack_->setDistribution(kDistributeFill);
    rootStack_->setAlignment(kAlignStretch);

    topBar_ = new TopBarView(rootStack_, service, pool);
    topBar_->setPreferredSize({0.0f, kTopBarHeight});
    topBar_->setMaxSize({static_cast<float>(kWidth), kTopBarHeight});

    // Under the top bar while a connect failed or a lost connection is
    // being reconnected; hidden otherwise.
    messageBar_ = new MessageBarView(rootStack_, service);
    messageBar_->setPreferredSize({0.0f, MessageBarView::kHeight});
    messageBar_->setMaxSize({static_cast<float>(kWidth), MessageBarView::kHeight});

    // The content row: the tree view, the divider and the inspector, which
    // takes what the tree leaves.
    auto* content = new ui::Stack(rootStack_);
    content->setDistribution(kDistributeFill);
    content->setAlignment(kAlignStretch);
    content->setOrientation(kLeftToRight);

    // Both views hold the inspector: it lives as long as the later of them.
    treeView_ = new TreeView(content, service, pool, inspector);
    treeView_->setMaxSize({kTreeMaxWidth, ui::kUnbounded});

    auto* divider = new ui::Rectangle(content);
    // Its height comes from the row's stretch; an unbounded minimum height
    // would make the rectangle endless.
    divider->setMinSize({kDividerWidth, 0.0f});
    divider->setMaxSize({kDividerWidth, ui::kUnbounded});
    divider->setColor(theme.panelColor());

    inspectorView_ = new InspectorView(content, std::move(inspector));
    // Where an export went, or why it failed, is said in the message bar.
    inspectorView_->onNotice([bar = messageBar_](const std::string& headline, const std::string& advice, bool problem) {
        bar->notify(headline, advice, problem);
    });

    ui::Application::registerTickCallback(this, [this] { onTick(); });
}

MainWindow::~MainWindow() { ui::Application::unregisterTickCallback(this); }

void MainWindow::onTick() noexcept {
    const int width = window_->getWidth();
    const int height = window_->getHeight();
    rootStack_->setPreferredSize({static_cast<float>(width), static_cast<float>(height)});
    topBar_->setMaxSize({static_cast<float>(width), kTopBarHeight});
    messageBar_->setMaxSize({static_cast<float>(width), MessageBarView::kHeight});
    messageBar_->sync();
}

}  // namespace vemo
