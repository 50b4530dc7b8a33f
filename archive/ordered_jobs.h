// Jobs done on worker threads, their results taken in the order the jobs were submitted: the work
// runs on every core, while whoever submits the jobs sees them end one by one in that order, so
// that what it makes of them does not depend on how many threads there are.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace pak {

// The threads a command uses when the user does not say: one per processor, at most 32.
inline unsigned defaultThreadCount() {
    unsigned processors = std::thread::hardware_concurrency();
    return processors < 1 ? 1 : processors > 32 ? 32 : processors;
}

template <class Result> class OrderedJobs {
  public:
    // A job as a worker runs it: worker (0 to threads - 1) says which one, for what each worker
    // keeps for all its jobs (a compressor).
    using Task = std::packaged_task<Result(unsigned worker)>;

    // With fewer than two threads none is started: each job runs on the caller's thread when
    // it is given (as worker 0), and its result waits to be taken like any other.
    explicit OrderedJobs(unsigned threads) : threads_(threads < 1 ? 1 : threads) {
        if (threads_ < 2) return;
        try {
            for (unsigned i = 0; i < threads_; ++i)
                workers_.emplace_back([this, i] { work(i); });
        } catch (...) {
            stop();
            throw;
        }
    }
    // Jobs not yet started are dropped; running ones are waited for.
    ~OrderedJobs() { stop(); }
    OrderedJobs(const OrderedJobs&) = delete;
    OrderedJobs& operator=(const OrderedJobs&) = delete;

    unsigned threads() const { return threads_; }
    // Jobs submitted whose results have not been taken: what a caller bounds to keep its memory in
    // check.
    std::size_t pending() const { return results_.size(); }

    template <class Function> void submit(Function&& function) {
        Task task(std::forward<Function>(function));
        results_.push_back(task.get_future());
        if (workers_.empty()) {
            task(0);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

    // The result of the oldest job not yet taken, once it is there; what the job threw is
    // thrown here. Only with pending() above 0.
    Result nextResult() {
        std::future<Result> oldest = std::move(results_.front());
        results_.pop_front();
        return oldest.get();
    }

  private:
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        wake_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
        workers_.clear();
    }

    void work(unsigned worker) {
        for (;;) {
            Task task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                task = std::move(queue_.front());
                queue_.pop_front();
            }
            task(worker);
        }
    }

    unsigned threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> queue_; // given, not started
    bool stopping_ = false;
    std::deque<std::future<Result>> results_; // the caller's own, in the order given
    std::vector<std::thread> workers_;
};

} // namespace pak
