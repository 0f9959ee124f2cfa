#include "Startup.h"

#include <exception>
#include <iostream>
#include <system_error>
#include <utility>
#include <vector>

#include "MainWindow.h"
#include "vemo/core/AssetPackage.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/ThreadPool.h"
#include "vemo/ui/Application.h"
#include "vemo/ui/Exceptions.h"
#include "vemo/ui/RenderContext.h"

namespace vemo {

namespace {

// Stops the pool (workers drain the queue and are joined) when the scope
// ends, also by an exception. Declared after the main window, it runs before
// the window and its views are destroyed, so no task outlives what it uses.
// At the end of the program: ends the connection first - a call against a
// stalled controller returns at once, and the tasks still queued find
// nothing to do - then stops and joins the pool.
class PoolStopper {
public:
    PoolStopper(ThreadPool& pool, PlcConnection& service) : pool_(pool), service_(service) {}
    ~PoolStopper() {
        service_.disconnect();
        pool_.shutdown();
    }
    PoolStopper(const PoolStopper&) = delete;
    PoolStopper& operator=(const PoolStopper&) = delete;

private:
    ThreadPool& pool_;
    PlcConnection& service_;
};

}  // namespace

std::filesystem::path executableDirectory() {
    std::error_code error;
    // Linux names the running executable in /proc; the link resolves to the
    // full path however the program was started.
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty()) {
        return std::filesystem::current_path();
    }
    return executable.parent_path();
}

std::filesystem::path locateAssetPackage() {
    const std::filesystem::path candidates[] = {
        executableDirectory() / kAssetPackageName,
        std::filesystem::current_path() / kAssetPackageName,
    };
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        // A missing file clears the error; anything else (no permission to
        // look into the directory) is reported.
        const bool exists = std::filesystem::exists(candidate, error);
        if (error) {
            throw std::filesystem::filesystem_error("exists", candidate, error);
        }
        if (exists) {
            return candidate;
        }
    }
    return candidates[0];
}

void runBrowser() {
    auto context = ui::RenderContext::create(ui::RenderBackend::Accelerated, kApplicationName);
    const std::vector<ui::DeviceInfo> devices = context.listDevices();
    for (const ui::DeviceInfo& device : devices) {
        std::cout << "Device ID: " << device.id << ", Name: " << device.name << std::endl;
    }
    context.selectDevice(0);
    context.initialize();

    AssetPackage::instance().load(locateAssetPackage().string());

    ThreadPool& pool = ThreadPool::instance();
    pool.init(1);

    ui::Application application(std::move(context), kApplicationName);
    ui::Application::setVSync(true);
    MainWindow mainWindow;
    const PoolStopper stopPool(pool, *PlcConnection::instance());
    application.run();
    // Leaving the scope: the pool is stopped and joined, then the main window
    // unregisters its tick, then the Application destroys the window and its
    // views (callables still posted by tasks are dropped unrun), then the
    // device list goes.
}

int browserMain() {
    try {
        runBrowser();
        return 0;
    } catch (const ui::RenderException& e) {
        std::cerr << "RenderException: " << e.getMessage() << " CODE: " << e.code() << "\n";
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
    }
    return 1;
}

}  // namespace vemo
