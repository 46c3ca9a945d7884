#include "player/gst/DetachedWork.h"

#include <memory>
#include <system_error>
#include <thread>

namespace didira {

bool DetachedWork::Run(std::function<void()> work) {
    // Counted from before the thread exists, so that no check misses it.
    auto running = std::make_unique<DetachedWork>();
    try {
        std::thread([work = std::move(work), running = std::move(running)] { work(); }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace didira
