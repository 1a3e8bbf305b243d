#include "front/common/runner.h"

#include <cstdio>
#include <cstdlib>

#include "front/common/picture.h"
#include "host/device.h"

namespace {

// Virtual milliseconds after a key was taken before the next step.
constexpr u64 AFTER_KEY_MS = 100;
// Time the instrument code gets to unwind after the run passes --max-time.
constexpr u64 UNWIND_GRACE_MS = 60000;
// A recording looks at the screen as often as the window repaints it.
constexpr u64 RECORD_SAMPLE_MS = 100;

}  // namespace

Runner::Runner(VirtualHost& host, RunnerScreen screen, std::vector<Step> steps, std::string final_shot, u64 max_ms,
               std::string program)
    : host_(host),
      screen_(screen),
      steps_(std::move(steps)),
      final_shot_(std::move(final_shot)),
      max_ms_(max_ms),
      program_(std::move(program))
{
}

void Runner::append(std::vector<Step> steps)
{
    for (Step& s : steps) steps_.push_back(std::move(s));
}

void Runner::pump()
{
    for (;;) {
        if (phase_ == Phase::KeyPosted) {
            if (pending_key != KEY_NONE) return;
            wait_until_ = host_.elapsed_ms() + AFTER_KEY_MS;
            phase_ = Phase::Waiting;
        }
        if (phase_ == Phase::Waiting) {
            if (host_.elapsed_ms() < wait_until_) return;
            phase_ = Phase::Ready;
        }
        if (phase_ == Phase::PoweringOff) return;
        if (next_ >= steps_.size()) {
            if (hold_at_end_) return;
            stop_recording();
            save_shot(final_shot_);
            power_off_flag = 1;
            phase_ = Phase::PoweringOff;
            return;
        }
        execute(steps_[next_++]);
    }
}

void Runner::finish()
{
    while (next_ < steps_.size()) {
        const Step& st = steps_[next_++];
        if (st.kind == Step::Shot) save_shot(st.file);
        if (st.kind == Step::Record) start_recording(st.file);
        if (st.kind == Step::StopRecord) stop_recording();
    }
    stop_recording();
    if (phase_ != Phase::PoweringOff && !hold_at_end_) save_shot(final_shot_);
}

void Runner::on_ms()
{
    const u64 t = host_.elapsed_ms();
    // What the window would show: the screen as the code has yielded it.
    if (recorder_.recording() && t % RECORD_SAMPLE_MS == 0 && screen_dirty) {
        screen_dirty = 0;
        if (!recorder_.frame(screen_.pixels, t)) report(recorder_.error());
    }
    if (t > max_ms_ && !timed_out_) {
        timed_out_ = true;
        std::fprintf(stderr, "%s: gave up after %llu virtual ms (--max-time)\n", program_.c_str(),
                     static_cast<unsigned long long>(max_ms_));
        power_off_flag = 1;
    }
    if (timed_out_ && t > max_ms_ + UNWIND_GRACE_MS) {
        std::fprintf(stderr, "%s: the instrument code did not return after power-off\n", program_.c_str());
        std::fflush(stderr);
        std::_Exit(3);
    }
}

void Runner::execute(const Step& st)
{
    switch (st.kind) {
    case Step::Key:
        if (st.value == KEY_MOD || st.shifted)
            key_post(st.value);
        else
            host_.post_button(st.value);
        phase_ = Phase::KeyPosted;
        break;
    case Step::Hold: host_.set_mod_toggle(true); break;
    case Step::Release: host_.set_mod_toggle(false); break;
    case Step::Wait:
        wait_until_ = host_.elapsed_ms() + st.value;
        phase_ = Phase::Waiting;
        break;
    case Step::Shot: save_shot(st.file); break;
    case Step::Record: start_recording(st.file); break;
    case Step::StopRecord: stop_recording(); break;
    case Step::Off:
        power_off_flag = 1;
        phase_ = Phase::PoweringOff;
        break;
    }
}

void Runner::report(const std::string& what)
{
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), what.c_str());
    failed_ = true;
}

void Runner::save_shot(const std::string& file)
{
    if (file.empty()) return;
    std::string error;
    if (!picture_save(file, screen_.pixels, screen_.width, screen_.height, -1, &error)) report(error);
}

void Runner::start_recording(const std::string& file)
{
    std::string error;
    if (!recorder_.start(file, screen_.pixels, screen_.width, screen_.height, host_.elapsed_ms(), &error))
        report(error);
}

void Runner::stop_recording()
{
    if (!recorder_.recording()) return;
    std::string error;
    if (!recorder_.stop(screen_.pixels, host_.elapsed_ms(), &error)) report(error);
}
