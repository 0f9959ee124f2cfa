// The browser's one window: 1200 by 800, "VEMO S7 Browser", with a root stack
// that fills it. The stack holds the top bar above the content row: the tree
// view (at most 600 wide), a 4-wide divider and the inspector view.
//
// Widgets and the window are owned by the toolkit (the window by the
// Application, widgets by their parents); MainWindow keeps plain pointers and
// owns only its tick-callback registration.
#pragma once

#include "vemo/ui/Stack.h"
#include "vemo/ui/Window.h"

namespace vemo {

class InspectorView;
class PlcConnection;
class ThreadPool;
class MessageBarView;
class TopBarView;
class TreeView;

class MainWindow {
public:
    static constexpr int kWidth = 1200;
    static constexpr int kHeight = 800;
    static constexpr int kMinHeight = 400;
    static constexpr float kTopBarHeight = 50.0f;
    static constexpr float kTreeMaxWidth = 600.0f;
    static constexpr float kDividerWidth = 4.0f;

    // Builds the window with the process-wide connection service and pool.
    // Needs a running Application; the first use of the theme loads the fonts
    // (std::runtime_error when the asset package lacks them).
    MainWindow();
    // The same with the given service and pool, which must outlive the
    // window's views. Either way the window makes the one tag inspector its
    // views share, over the same service and pool, and gives it the
    // toolkit's way to the UI thread.
    MainWindow(PlcConnection& service, ThreadPool& pool);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Every frame: the root stack follows the window's size.
    void onTick() noexcept;

    ui::Window* window() const { return window_; }
    ui::Stack* rootStack() const { return rootStack_; }
    TopBarView* topBar() const { return topBar_; }
    MessageBarView* messageBar() const { return messageBar_; }
    TreeView* treeView() const { return treeView_; }
    InspectorView* inspectorView() const { return inspectorView_; }

private:
    ui::Window* window_ = nullptr;
    ui::Stack* rootStack_ = nullptr;
    TopBarView* topBar_ = nullptr;
    MessageBarView* messageBar_ = nullptr;
    TreeView* treeView_ = nullptr;
    InspectorView* inspectorView_ = nullptr;
};

}  // namespace vemo
