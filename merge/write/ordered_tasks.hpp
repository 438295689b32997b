// Tasks run on worker threads, their results taken back in the order the tasks were given,
// whichever thread ran them, so that what is written from them never depends on the number of
// threads. A task owns its input and gives back a value: it touches no file and shares no state
// but the queue; it may use its thread's own `State` (coders made once and used again). With one
// thread no worker is started and each task runs as it is given.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quillet {

// The signals that end a merge: only the thread that writes the output takes them, so that its
// handler removes the temporary file; worker threads start with them blocked.
sigset_t merge_ending_signals();

struct NoTaskState {};

template <typename Result, typename State = NoTaskState>
class OrderedTasks {
  public:
    explicit OrderedTasks(unsigned threads) : limit_(2 * std::size_t{threads}) {
        if (threads <= 1) {
            own_state_ = std::make_unique<State>();
            return;
        }
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

    // Whether the tasks in flight have reached the bound (two per thread), at which the caller
    // takes a result before it gives more: memory stays fixed.
    bool full() const { return results_.size() >= limit_; }
    bool empty() const { return results_.empty(); }

    // `task(State&)` gives a Result.
    template <typename Task>
    void give(Task&& task) {
        std::packaged_task<Result(State&)> job(std::forward<Task>(task));
        results_.push_back(job.get_future());
        if (workers_.empty()) {
            job(*own_state_);
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        ready_.notify_one();
    }

    // A result that needs no work, in its place in the order.
    void give_done(Result result) {
        std::promise<Result> done;
        done.set_value(std::move(result));
        results_.push_back(done.get_future());
    }

    // The result of the oldest task given; waits for it. Not to be called when empty().
    Result take() {
        Result r = results_.front().get();
        results_.pop_front();
        return r;
    }

  private:
    void work_loop() {
        State state;
        for (;;) {
            std::packaged_task<Result(State&)> job;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (stopping_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job(state);
        }
    }

    std::size_t limit_;
    std::unique_ptr<State> own_state_;         // without workers: the caller's thread's
    std::deque<std::future<Result>> results_;  // in the order the tasks were given
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::packaged_task<Result(State&)>> jobs_;  // given and not yet started
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace quillet
