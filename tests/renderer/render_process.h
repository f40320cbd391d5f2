// `velquin render` as a child process whose standard error the test reads as it comes: for
// tests that wait for its progress, signal it, or run it in a small address space.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace velquin::renderer::test {

// The sanitizers reserve terabytes of address space for their shadow memory, so a limit on the
// address space cannot be used under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif
#else
constexpr bool kUnderSanitizer = false;
#endif

class RenderProcess {
public:
    // Starts `velquin render ARGS --plugins DIR`. addressSpace: the child's RLIMIT_AS in bytes,
    // 0 for none.
    explicit RenderProcess(const std::vector<std::string>& args,
                           unsigned long long addressSpace = 0) {
        std::vector<std::string> all = {VELQUIN_PROGRAM, "render"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back("--plugins");
        all.push_back(VELQUIN_PLUGIN_DIR);
        // Everything the child needs is made before fork: after it only async-signal-safe calls.
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 2);
            int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0)
                ::dup2(null, 1);
            if (addressSpace > 0) {
                rlimit lim{static_cast<rlim_t>(addressSpace), static_cast<rlim_t>(addressSpace)};
                ::setrlimit(RLIMIT_AS, &lim);
            }
            // A test runner started in the background has SIGINT ignored, and exec keeps that.
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        fd_ = fds[0];
    }
    ~RenderProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            int st = 0;
            ::waitpid(pid_, &st, 0);
        }
        if (fd_ >= 0)
            ::close(fd_);
    }
    RenderProcess(const RenderProcess&) = delete;
    RenderProcess& operator=(const RenderProcess&) = delete;

    bool started() const { return pid_ > 0 && fd_ >= 0; }

    // Reads standard error until `text` appears after what earlier calls found; false when the
    // program closes it first or `seconds` pass (a guard against a hang, not a timing).
    bool waitFor(const std::string& text, int seconds = 300) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            std::size_t at = err_.find(text, searched_);
            if (at != std::string::npos) {
                searched_ = at + text.size();
                return true;
            }
            if (!readSome(deadline))
                return false;
        }
    }

    void signal(int sig) { ::kill(pid_, sig); }

    // Reads standard error to its end and reaps the child: its wait status, or -1 when
    // `seconds` passed first (the child is then killed).
    int finish(int seconds = 300) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (readSome(deadline)) {
        }
        if (!eof_)
            return -1;
        int st = 0;
        if (::waitpid(pid_, &st, 0) != pid_)
            return -1;
        reaped_ = true;
        return st;
    }

    const std::string& err() const { return err_; }

private:
    bool readSome(std::chrono::steady_clock::time_point deadline) {
        if (eof_ || fd_ < 0)
            return false;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            int r = ::poll(&p, 1, static_cast<int>(left.count()));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            char buf[4096];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                eof_ = true;
                return false;
            }
            err_.append(buf, static_cast<std::size_t>(n));
            return true;
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    bool eof_ = false, reaped_ = false;
    std::string err_;
    std::size_t searched_ = 0;
};

// The folder of this test program's scratch folders, removed when the program ends.
inline std::filesystem::path scratchRoot() {
    static const std::filesystem::path root = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                            ("velquin_intr_" + std::to_string(::getpid())),
                                        ec);
        });
        return std::filesystem::temp_directory_path() /
               ("velquin_intr_" + std::to_string(::getpid()));
    }();
    return root;
}

// A fresh, empty folder for one test.
inline std::filesystem::path freshDir(const std::string& name) {
    std::filesystem::path d = scratchRoot() / name;
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d;
}

// The names in a folder, sorted.
inline std::vector<std::string> namesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace velquin::renderer::test
