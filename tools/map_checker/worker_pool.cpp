#include "worker_pool.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "pipe_lines.h"
#include "worker_protocol.h"

namespace MapChecker {
namespace {

// One argument quoted as the C runtime splits a command line.
std::string Quote(const std::string& argument)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string HexCode(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::string DescribeExit(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "exception " + HexCode(code) + ", access violation";
    case EXCEPTION_STACK_OVERFLOW: return "exception " + HexCode(code) + ", stack overflow";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "exception " + HexCode(code) + ", division by zero";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "exception " + HexCode(code) + ", illegal instruction";
    default: return "exit code " + HexCode(code);
    }
}

// Child processes are started one at a time, with only their own pipe
// ends inheritable for that moment: a worker that inherited another's pipe
// would keep it open, and that worker's crash would go unnoticed.
std::mutex ProcessStartLock;

class WorkerProcess {
public:
    explicit WorkerProcess(const std::string& commandLine)
    {
        SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
        HANDLE childInput = nullptr, childOutput = nullptr;
        if (!CreatePipe(&childInput, &toWorker_, &plain, 0)) throw std::runtime_error("cannot create a pipe");
        if (!CreatePipe(&fromWorker_, &childOutput, &plain, 0)) {
            CloseHandle(childInput);
            throw std::runtime_error("cannot create a pipe");
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = InheritableStandardError();
        PROCESS_INFORMATION info{};
        BOOL started;
        {
            std::lock_guard<std::mutex> guard(ProcessStartLock);
            SetHandleInformation(childInput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
            SetHandleInformation(childOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
            std::string mutableLine = commandLine;
            started = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &startup, &info);
            CloseHandle(childInput);
            CloseHandle(childOutput);
        }
        if (!started) {
            throw std::runtime_error("cannot start an import worker (" + commandLine +
                                     "), error " + std::to_string(GetLastError()));
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        reader_ = std::make_unique<PipeLineReader>(fromWorker_);
    }

    ~WorkerProcess()
    {
        CloseHandle(toWorker_);  // the worker's input ends: it finishes
        if (WaitForSingleObject(process_, 2000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
        CloseHandle(fromWorker_);
        CloseHandle(process_);
    }

    bool Send(const std::string& text) { return WriteAll(toWorker_, text); }
    bool ReadLine(std::string& line) { return reader_->ReadLine(line); }
    void Kill() { TerminateProcess(process_, 1); }

    DWORD ExitCode()
    {
        WaitForSingleObject(process_, 5000);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    static HANDLE InheritableStandardError()
    {
        static HANDLE handle = [] {
            HANDLE duplicate = nullptr;
            HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
            if (own && own != INVALID_HANDLE_VALUE) {
                DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &duplicate, 0, TRUE,
                                DUPLICATE_SAME_ACCESS);
            }
            return duplicate;
        }();
        return handle;
    }

    HANDLE toWorker_ = nullptr;
    HANDLE fromWorker_ = nullptr;
    HANDLE process_ = nullptr;
    std::unique_ptr<PipeLineReader> reader_;
};

std::uint64_t NowMs() { return GetTickCount64(); }

// One worker and the job it has in flight, watched for the time limit.
struct Slot {
    std::mutex lock;
    std::unique_ptr<WorkerProcess> worker;
    std::atomic<std::uint64_t> deadline{0};  // 0 while nothing is in flight
    std::atomic<bool> timedOut{false};
};

class Pool {
public:
    Pool(const std::vector<ImportJob>& jobs, const WorkerPoolOptions& options, const ImportProgress& progress)
        : jobs_(jobs), options_(options), progress_(progress), results_(jobs.size())
    {
        commandLine_ = Quote(options.program) + " --worker " + Quote(options.gameDirectory);
        for (const std::string& argument : options.extraArguments) commandLine_ += " " + Quote(argument);
    }

    std::vector<ImportResult> Run()
    {
        unsigned count = options_.workers ? options_.workers : std::max(1u, std::thread::hardware_concurrency());
        count = static_cast<unsigned>(std::min<std::size_t>(count, jobs_.size()));
        std::vector<std::unique_ptr<Slot>> slots;
        for (unsigned i = 0; i < count; ++i) slots.push_back(std::make_unique<Slot>());
        std::vector<std::thread> threads;
        for (auto& slot : slots) threads.emplace_back([this, &slot] { Drive(*slot); });
        std::thread watchdog([this, &slots] { Watch(slots); });
        for (std::thread& thread : threads) thread.join();
        finished_ = true;
        watchdog.join();
        for (auto& slot : slots) slot->worker.reset();
        if (!failure_.empty()) throw std::runtime_error(failure_);
        return std::move(results_);
    }

private:
    void Drive(Slot& slot)
    {
        try {
            for (;;) {
                if (failed_) return;
                std::size_t index = next_.fetch_add(1);
                if (index >= jobs_.size()) return;
                Report(jobs_[index].path);
                results_[index] = ImportOne(slot, jobs_[index]);
                ++done_;
                Report(jobs_[index].path);
            }
        } catch (const std::exception& error) {
            std::lock_guard<std::mutex> guard(reportLock_);
            if (failure_.empty()) failure_ = error.what();
            failed_ = true;
        }
    }

    // Starts a worker and waits for it to have read the settings.
    void StartWorker(Slot& slot)
    {
        slot.timedOut = false;
        slot.deadline = NowMs() + 1000ull * options_.timeoutSeconds;
        {
            std::lock_guard<std::mutex> guard(slot.lock);
            slot.worker = std::make_unique<WorkerProcess>(commandLine_);
        }
        std::string line;
        bool ready = slot.worker->ReadLine(line) && line == "ready";
        slot.deadline = 0;
        if (!ready) {
            DWORD code = slot.worker->ExitCode();
            throw std::runtime_error("an import worker did not start (" + DescribeExit(code) + ")");
        }
    }

    ImportResult ImportOne(Slot& slot, const ImportJob& job)
    {
        if (!slot.worker) StartWorker(slot);
        slot.timedOut = false;
        slot.deadline = NowMs() + 1000ull * options_.timeoutSeconds;
        ResultDecoder decoder;
        bool complete = false;
        if (slot.worker->Send(EncodeJob(job))) {
            std::string line;
            while (!complete && slot.worker->ReadLine(line)) complete = decoder.Take(line);
        }
        slot.deadline = 0;
        if (complete) {
            if (slot.timedOut) {  // ended by the watchdog just as it answered
                std::lock_guard<std::mutex> guard(slot.lock);
                slot.worker.reset();
            }
            return std::move(decoder.Result());
        }

        // The worker is gone: it crashed, or the watchdog ended it.
        ImportResult lost;
        if (slot.timedOut) {
            lost.findings.push_back({Severity::Fatal, "importer-timeout",
                                     "the import did not finish within " + std::to_string(options_.timeoutSeconds) +
                                         " s: the importer hangs on this file, and in the game the loading would never end"});
        } else {
            DWORD code = slot.worker->ExitCode();
            lost.findings.push_back({Severity::Fatal, "importer-crash",
                                     "the importer crashed on this file (" + DescribeExit(code) +
                                         "): in the game this takes the host down"});
        }
        std::lock_guard<std::mutex> guard(slot.lock);
        slot.worker.reset();  // a fresh one starts with the next file
        return lost;
    }

    void Watch(std::vector<std::unique_ptr<Slot>>& slots)
    {
        while (!finished_) {
            Sleep(50);
            const std::uint64_t now = NowMs();
            for (auto& slot : slots) {
                std::uint64_t deadline = slot->deadline;
                if (deadline == 0 || now < deadline || slot->timedOut) continue;
                std::lock_guard<std::mutex> guard(slot->lock);
                if (!slot->worker || slot->deadline == 0) continue;
                slot->timedOut = true;
                slot->worker->Kill();
            }
        }
    }

    void Report(const std::string& current)
    {
        if (!progress_) return;
        std::lock_guard<std::mutex> guard(reportLock_);
        progress_(done_, jobs_.size(), current);
    }

    const std::vector<ImportJob>& jobs_;
    const WorkerPoolOptions& options_;
    const ImportProgress& progress_;
    std::vector<ImportResult> results_;
    std::string commandLine_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> done_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> failed_{false};
    std::mutex reportLock_;
    std::string failure_;
};

}  // namespace

std::vector<ImportResult> ImportInWorkers(const std::vector<ImportJob>& jobs, const WorkerPoolOptions& options,
                                          const ImportProgress& progress)
{
    if (jobs.empty()) return {};
    return Pool(jobs, options, progress).Run();
}

}  // namespace MapChecker
