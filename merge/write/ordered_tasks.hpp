// Tasks run on worker threads, their results taken back in the order the tasks were given,
// whichever thread ran them, so that what is written from them never depends on the number of
// threads. A task owns its input and gives back a value: it touches no file and shares no state
// but the queue. With one thread no worker is started and each task runs as it is given.
#pragma once

#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace quillet {

// The signals that end a merge: only the thread that writes the output takes them, so that its
// handler removes the temporary file; worker threads start with them blocked.
sigset_t merge_ending_signals();

template <typename Result>
class OrderedTasks {
  public:
    explicit OrderedTasks(unsigned threads) {
        if (threads <= 1) return;
        // Workers inherit the mask of the thread that makes them, which gets its own back.
        const sigset_t blocked = merge_ending_signals();
        sigset_t previous;
        pthread_sigmask(SIG_BLOCK, &blocked, &previous);
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work_loop(); });
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    ~OrderedTasks() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread& t : workers_) t.join();
    }
    OrderedTasks(const OrderedTasks&) = delete;
    OrderedTasks& operator=(const OrderedTasks&) = delete;

    // Tasks given and not yet taken back.
    std::size_t size() const { return results_.size(); }

    void give(std::function<Result()> task) {
        std::packaged_task<Result()> job(std::move(task));
        results_.push_back(job.get_future());
        if (workers_.empty()) {
            job();
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        ready_.notify_one();
    }

    // The result of the oldest task given; waits for it. Not to be called when size() is 0.
    Result take() {
        Result r = results_.front().get();
        results_.pop_front();
        return r;
    }

  private:
    void work_loop() {
        for (;;) {
            std::packaged_task<Result()> job;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (stopping_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::deque<std::future<Result>> results_;  // in the order the tasks were given
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::packaged_task<Result()>> jobs_;  // given and not yet started
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace quillet
