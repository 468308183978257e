// Child processes through one pipe: output order and size, exit codes,
// failed starts, the working folder, and the wait limit.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "app/helpers.h"
#include "process/process.h"
#include "support/temp_dir.h"
#include "support/test_child.h"

namespace {

// Lets a waiting child go: now() from the test, or after 20 s from a
// watchdog, so that a fault shows as a failure instead of a hang.
struct Release {
    explicit Release(std::filesystem::path f) : file(std::move(f)) {
        watchdog = std::thread([this] {
            std::unique_lock lock(mutex);
            if (!cv.wait_for(lock, std::chrono::seconds(20), [this] { return done; })) {
                late = true;
                std::ofstream(file).put('1');
            }
        });
    }
    ~Release() { now(); watchdog.join(); }
    void now() {
        {
            std::lock_guard lock(mutex);
            if (!done) std::ofstream(file).put('1');
            done = true;
        }
        cv.notify_all();
    }
    bool by_watchdog() { std::lock_guard lock(mutex); return late; }

    std::filesystem::path file;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false, late = false;
    std::thread watchdog;
};

// A pipe of our own that children may inherit, as another call's (Windows:
// inheritable handles) or another library's (Linux: no close-on-exec) would.
#ifdef _WIN32
struct LoosePipe {
    HANDLE rd = nullptr, wr = nullptr;
    LoosePipe() {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        CreatePipe(&rd, &wr, &sa, 0);
    }
    void close_write() { CloseHandle(wr); }
    // True when the read reports the end of the pipe.
    bool ended() {
        char c;
        DWORD got = 0;
        bool ok = ReadFile(rd, &c, 1, &got, nullptr);
        CloseHandle(rd);
        return !ok || got == 0;
    }
};
#else
struct LoosePipe {
    int fds[2] = {-1, -1};
    LoosePipe() { (void)!pipe(fds); }
    void close_write() { close(fds[1]); }
    bool ended() {
        char c;
        bool end = read(fds[0], &c, 1) == 0;
        close(fds[0]);
        return end;
    }
};
#endif

struct Outcome {
    int code = 0;
    std::string out;
    std::vector<size_t> pieces;
};

Outcome run(std::vector<std::string> steps, const std::string& cwd = "", int wait_ms = 30000) {
    steps.insert(steps.begin(), child_exe());
    Outcome r;
    r.code = run_process(
        steps, cwd,
        [&r](const char* d, std::uint64_t n) {
            r.out.append(d, static_cast<size_t>(n));
            r.pieces.push_back(static_cast<size_t>(n));
        },
        wait_ms);
    return r;
}

TEST(RunProcess, BothStreamsArriveInOneStreamInWriteOrder) {
    EXPECT_EQ(run({"out:only stdout\n"}).out, "only stdout\n");
    EXPECT_EQ(run({"err:only stderr\n"}).out, "only stderr\n");
    Outcome mixed = run({"out:1", "err:2", "out:3\n", "err:4\n", "exit:3"});
    EXPECT_EQ(mixed.out, "123\n4\n");
    EXPECT_EQ(mixed.code, 3);

    Outcome quiet = run({"exit:0"});
    EXPECT_EQ(quiet.code, 0);
    EXPECT_TRUE(quiet.pieces.empty()) << "the callback is never called without output";
    EXPECT_EQ(run({"exit:1"}).code, 1);
}

TEST(RunProcess, LargeOutputComesWholeInPiecesOfAtMost8192Bytes) {
    Outcome r = run({"fill:200000", "out:end"});
    ASSERT_EQ(r.out.size(), 200003u);
    EXPECT_EQ(r.out.substr(0, 4), "abcd");
    EXPECT_EQ(r.out[63], '\n');
    EXPECT_EQ(r.out.substr(200000), "end");
    for (size_t n : r.pieces) {
        EXPECT_GE(n, 1u);
        EXPECT_LE(n, 8192u);
    }
}

TEST(RunProcess, FailedStartsGiveMinusOneAndNoOutput) {
    TempDir tmp;
    int calls = 0;
    auto count = [&](const char*, std::uint64_t) { ++calls; };
    EXPECT_EQ(run_process({path_to_utf8(tmp.path() / "no-such-program")}, "", count, 5000), -1);
    EXPECT_EQ(run_process({"quorvel-no-such-program-anywhere"}, "", count, 5000), -1);
    EXPECT_EQ(run_process({""}, "", count, 5000), -1);
    EXPECT_EQ(run_process({child_exe(), "out:x"}, path_to_utf8(tmp.path() / "missing"), count, 5000), -1);
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "missing")) << "the folder is not created here";
    // A NUL would cut a text short and so start something else.
    std::string cut = path_to_utf8(tmp.path()) + std::string("\0x", 2);
    EXPECT_EQ(run_process({child_exe(), "out:x"}, cut, count, 5000), -1);
    EXPECT_EQ(run_process({child_exe() + std::string("\0x", 2), "out:x"}, "", count, 5000), -1);
    EXPECT_EQ(calls, 0);
}

TEST(RunProcess, ChildRunsInTheGivenFolder) {
    TempDir tmp;
    auto folder = tmp.path() / "Папка с пробелом";
    std::filesystem::create_directories(folder);
    Outcome r = run({"cwd"}, path_to_utf8(folder));
    ASSERT_EQ(r.code, 0) << r.out;
    std::string printed = r.out.substr(0, r.out.find('\n'));
    EXPECT_TRUE(std::filesystem::equivalent(path_from_utf8(printed), folder)) << printed;
    // A relative program path means our folder, not the child's, as on Windows.
    auto relative = std::filesystem::path(".") / std::filesystem::relative(path_from_utf8(child_exe()));
    std::string out;
    EXPECT_EQ(run_process({path_to_utf8(relative), "exit:8"}, path_to_utf8(folder),
                          [&](const char* d, std::uint64_t n) { out.append(d, n); }, 30000),
              8);
}

TEST(RunProcess, ArgumentsReachTheChildUnchanged) {
    std::vector<std::string> items = {"plain", "with space", "", "quote\"inside", "\"", "trailing\\",
                                      "space and trailing\\", "two\\\\\"", "tab\there", "line\nfeed",
                                      "Кириллица и пробел", "\\\\server\\share\\"};
    std::vector<std::string> steps = {"argshex"};
    steps.insert(steps.end(), items.begin(), items.end());
    Outcome r = run(steps);
    std::string expected;
    for (const auto& item : items) {
        char hex[3];
        for (unsigned char c : item) {
            std::snprintf(hex, sizeof hex, "%02x", c);
            expected += hex;
        }
        expected += '\n';
    }
    EXPECT_EQ(r.out, expected);
}

TEST(RunCapture, CollectsRawBytes) {
    std::string out;
    EXPECT_EQ(run_capture({child_exe(), "hex:41ff0a", "err:e"}, out, 30000), 0);
    EXPECT_EQ(out, std::string("A\xff\ne"));
    std::string none;
    EXPECT_EQ(run_capture({"quorvel-no-such-program-anywhere"}, none, 30000), -1);
    EXPECT_EQ(none, "");
}

TEST(RunProcess, ChildOutlivingItsLimitIsEndedWithTheFixedCode) {
    TempDir tmp;
    std::string never = path_to_utf8(tmp.path() / "never");
    // The output written before the limit still arrives.
    Outcome r = run({"out:started\n", "waitfile:" + never}, "", 1000);
    EXPECT_EQ(r.code, exit_code_timed_out);
    EXPECT_EQ(r.out, "started\n");
}

TEST(RunProcess, GrandchildHoldingThePipeCannotHoldTheCallPastItsLimit) {
    TempDir tmp;
    Release release(tmp.path() / "release");
    Outcome r = run({"out:x\n", "spawn:waitfile:" + path_to_utf8(release.file), "exit:5"}, "", 1500);
    EXPECT_FALSE(release.by_watchdog()) << "the call waited for the grandchild";
    release.now();
    EXPECT_EQ(r.code, 5) << "the child itself ended in time: its own code";
    EXPECT_EQ(r.out, "x\n");
}

TEST(RunProcess, ChildHoldsNoPipeOfOtherCalls) {
    LoosePipe other;
    TempDir tmp;
    Release release(tmp.path() / "release");
    std::atomic<bool> started{false};
    std::thread runner([&] {
        run_process({child_exe(), "out:ready\n", "waitfile:" + path_to_utf8(release.file)}, "",
                    [&](const char*, std::uint64_t) { started = true; }, -1);
    });
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    other.close_write();
    EXPECT_TRUE(other.ended());
    EXPECT_FALSE(release.by_watchdog()) << "the other pipe ended only with the child";
    release.now();
    runner.join();
}

TEST(RunProcess, UnlimitedWaitReadsUntilTheEnd) {
    Outcome r = run({"sleep:300", "out:late\n", "exit:4"}, "", -1);
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, "late\n");
}

TEST(BytesToUtf8, ValidTextPassesByteForByte) {
    EXPECT_EQ(bytes_to_utf8(""), "");
    EXPECT_EQ(bytes_to_utf8("plain\r\n"), "plain\r\n");
    EXPECT_EQ(bytes_to_utf8("Привет, мир \xF0\x9F\x98\x80\n"), "Привет, мир \xF0\x9F\x98\x80\n");
    // Whatever the fallback, its result is valid UTF-8 without the bad byte.
    std::string mixed = bytes_to_utf8("ok \xff end");
    EXPECT_EQ(mixed.substr(0, 3), "ok ");
    EXPECT_EQ(mixed.find('\xff'), std::string::npos);
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(mixed)), mixed);
}

}  // namespace
