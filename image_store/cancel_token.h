#pragma once

#include <atomic>
#include <memory>

namespace image_store {

// Handed to work on the share: once cancelled, whoever waited for the work
// has given up on it, so it must not put its result in place. Copies share
// one flag.
class CancelToken {
public:
    bool cancelled() const { return m_flag->load(); }
    void cancel() const { m_flag->store(true); }

private:
    std::shared_ptr<std::atomic<bool>> m_flag = std::make_shared<std::atomic<bool>>(false);
};

} // namespace image_store
