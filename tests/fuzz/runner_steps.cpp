// The headless runner's step language: the input is a script as read from
// a file or --keys. Parsing must end with the steps or with one message
// naming the origin and the line; every step must be one the runner can
// carry out, and the check of the recordings must refuse exactly the first
// `record` or `stop-record` out of place.
#include <cctype>
#include <string>
#include <vector>

#include "front/common/script.h"
#include "fuzz.h"
#include "host/device.h"

namespace {

std::string trimmed(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r\v\f");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\v\f") - b + 1);
}

// The last `n` characters of `s` (all of it when shorter), in lower case.
std::string lower_tail(const std::string& s, size_t n)
{
    std::string t = s.substr(s.size() > n ? s.size() - n : 0);
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Step> steps;
    std::string error;
    const bool ok = parse_steps(text, "script", &steps, &error);
    if (!ok) {
        FUZZ_CHECK(error.rfind("script:", 0) == 0);
        FUZZ_CHECK(error.find(": ", 7) != std::string::npos);
        return 0;
    }
    FUZZ_CHECK(error.empty());
    int lines = 1;
    for (const char c : text) lines += c == '\n';
    int last_line = 0;
    const Step* recording = nullptr;  // the `record` step running, if any
    const Step* misplaced = nullptr;  // the first step out of place in the recordings
    for (const Step& st : steps) {
        FUZZ_CHECK(st.origin == "script");
        FUZZ_CHECK(st.line >= last_line && st.line <= lines);
        last_line = st.line;
        // Every kind has its case and there is no default: a kind added to
        // the language and forgotten here fails to build (-Werror=switch).
        switch (st.kind) {
        case Step::Key: {
            const u32 code = st.value & ~static_cast<u32>(KEY_SHIFT);
            FUZZ_CHECK(code >= KEY_MOD && code <= KEY_RIGHT);
            FUZZ_CHECK(st.shifted == ((st.value & KEY_SHIFT) != 0));
            FUZZ_CHECK(st.file.empty());
            break;
        }
        case Step::Shot:
        case Step::Record: {
            FUZZ_CHECK(st.file.size() > 4);
            FUZZ_CHECK(st.file.find_first_of("\n;#") == std::string::npos);
            FUZZ_CHECK(st.file == trimmed(st.file));
            const std::string tail = lower_tail(st.file, 5);
            const bool png = tail.ends_with(".png");
            FUZZ_CHECK(st.kind == Step::Shot ? png || tail.ends_with(".bmp") : png || tail == ".apng");
            if (st.kind == Step::Record) {
                if (recording && !misplaced) misplaced = &st;
                recording = &st;
            }
            break;
        }
        case Step::StopRecord:
            FUZZ_CHECK(st.file.empty() && st.value == 0);
            if (!recording && !misplaced) misplaced = &st;
            recording = nullptr;
            break;
        case Step::Wait: FUZZ_CHECK(st.file.empty()); break;
        case Step::Hold:
        case Step::Release:
        case Step::Off: FUZZ_CHECK(st.file.empty() && st.value == 0); break;
        }
    }
    // The recordings' check refuses exactly the first step out of place,
    // naming its line.
    error.clear();
    const bool paired = check_recordings(steps, &error);
    FUZZ_CHECK(paired == (misplaced == nullptr));
    if (misplaced) FUZZ_CHECK(error.rfind("script:" + std::to_string(misplaced->line) + ": ", 0) == 0);
    // The same text parses to the same steps again.
    std::vector<Step> again;
    FUZZ_CHECK(parse_steps(text, "script", &again, &error) && again.size() == steps.size());
    return 0;
}
