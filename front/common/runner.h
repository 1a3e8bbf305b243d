// The step executor of the headless runner, shared with the web page: runs
// steps of the step language (script.h) against the instrument code in
// virtual time, from inside the event pump of the device services.
#pragma once
#include <string>
#include <vector>

#include "front/common/apng.h"
#include "front/common/script.h"
#include "front/common/virtual_host.h"

// Where the runner finds the screen: the LCD's RGB565 pixels.
struct RunnerScreen {
    const u16* pixels;
    int width;
    int height;
};

class Runner {
public:
    // `program` prefixes every message on standard error.
    Runner(VirtualHost& host, RunnerScreen screen, std::vector<Step> steps, std::string final_shot, u64 max_ms,
           std::string program = "tarvik2-run");

    // Runs inside the event pump of the device services.
    void pump();
    // After the main routine has returned: the remaining steps can only save
    // pictures.
    void finish();
    // Called after every virtual millisecond.
    void on_ms();

    bool timed_out() const { return timed_out_; }
    bool failed() const { return failed_; }

    // The page's way: when the steps are done the instrument waits for more
    // (appended later) instead of being switched off, and the final shot is
    // never taken.
    void set_hold_at_end(bool hold) { hold_at_end_ = hold; }
    void append(std::vector<Step> steps);
    // True when every step given so far has been run to its end.
    bool done() const { return phase_ == Phase::Ready && next_ >= steps_.size(); }
    // Forgets a failure reported before (the page reports per call).
    void clear_failed() { failed_ = false; }

private:
    enum class Phase { Ready, KeyPosted, Waiting, PoweringOff };

    void execute(const Step& st);
    void save_shot(const std::string& file);
    void start_recording(const std::string& file);
    void stop_recording();
    void report(const std::string& what);

    VirtualHost& host_;
    RunnerScreen screen_;
    ApngRecorder recorder_;
    std::vector<Step> steps_;
    std::string final_shot_;
    u64 max_ms_;
    std::string program_;
    size_t next_ = 0;
    Phase phase_ = Phase::Ready;
    u64 wait_until_ = 0;
    bool timed_out_ = false;
    bool failed_ = false;
    bool hold_at_end_ = false;
};
