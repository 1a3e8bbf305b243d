// The headless runner's step language: the input is a script as read from
// a file or --keys. Parsing must end with the steps or with one message
// naming the origin and the line; every step must be one the runner can
// carry out.
#include <string>
#include <vector>

#include "fuzz.h"
#include "host/device.h"
#include "host/headless/script.h"

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
    for (const Step& st : steps) {
        FUZZ_CHECK(st.origin == "script");
        FUZZ_CHECK(st.line >= last_line && st.line <= lines);
        last_line = st.line;
        switch (st.kind) {
        case Step::Key: {
            const u32 code = st.value & ~static_cast<u32>(KEY_SHIFT);
            FUZZ_CHECK(code >= KEY_MOD && code <= KEY_RIGHT);
            FUZZ_CHECK(st.shifted == ((st.value & KEY_SHIFT) != 0));
            break;
        }
        case Step::Shot:
            FUZZ_CHECK(st.file.size() > 4);
            FUZZ_CHECK(st.file.find('\n') == std::string::npos && st.file.find(';') == std::string::npos);
            break;
        case Step::Wait:
        case Step::Hold:
        case Step::Release:
        case Step::Off: break;
        default: FUZZ_CHECK(false);
        }
    }
    // The same text parses to the same steps again.
    std::vector<Step> again;
    FUZZ_CHECK(parse_steps(text, "script", &again, &error) && again.size() == steps.size());
    return 0;
}
