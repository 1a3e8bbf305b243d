#include "front/common/script.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "front/common/key_names.h"
#include "host/device.h"

namespace {

std::string trim(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ends_with(const std::string& text, const char* tail)
{
    const size_t n = std::char_traits<char>::length(tail);
    return text.size() > n && text.compare(text.size() - n, n, tail) == 0;
}

bool has_picture_extension(const std::string& f)
{
    const std::string l = lower(f);
    return ends_with(l, ".png") || ends_with(l, ".bmp");
}

bool has_animation_extension(const std::string& f)
{
    const std::string l = lower(f);
    return ends_with(l, ".png") || ends_with(l, ".apng");
}

}  // namespace

bool parse_steps(const std::string& text, const std::string& origin, std::vector<Step>* steps, std::string* error)
{
    int line = 1;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string row = text.substr(pos, end - pos);
        const size_t hash = row.find('#');
        if (hash != std::string::npos) row.resize(hash);
        size_t start = 0;
        while (start <= row.size()) {
            size_t semi = row.find(';', start);
            if (semi == std::string::npos) semi = row.size();
            const std::string item = trim(row.substr(start, semi - start));
            start = semi + 1;
            if (item.empty()) continue;
            auto fail = [&](const std::string& why) {
                if (error) *error = origin + ":" + std::to_string(line) + ": " + why;
                return false;
            };
            Step st{};
            st.origin = origin;
            st.line = line;
            const size_t space = item.find_first_of(" \t");
            const std::string word = lower(item.substr(0, space));
            const std::string arg = space == std::string::npos ? "" : trim(item.substr(space));
            u32 code = 0;
            if (word == "wait") {
                errno = 0;
                char* stop = nullptr;
                const unsigned long long ms = arg.empty() ? 0 : std::strtoull(arg.c_str(), &stop, 10);
                if (arg.empty() || !std::isdigit(static_cast<unsigned char>(arg[0])) || *stop != '\0' ||
                    errno == ERANGE || ms > 0xFFFFFFFFull)
                    return fail("'wait' needs a number of milliseconds, not '" + arg + "'");
                st.kind = Step::Wait;
                st.value = static_cast<u32>(ms);
            } else if (word == "shot") {
                if (arg.empty()) return fail("'shot' needs a file name");
                if (!has_picture_extension(arg)) return fail("shot file '" + arg + "' must end in .png or .bmp");
                st.kind = Step::Shot;
                st.file = arg;
            } else if (word == "record") {
                if (arg.empty()) return fail("'record' needs a file name");
                if (!has_animation_extension(arg))
                    return fail("recording file '" + arg + "' must end in .png or .apng");
                st.kind = Step::Record;
                st.file = arg;
            } else if (!arg.empty()) {
                return fail("step '" + word + "' takes no argument, got '" + arg + "'");
            } else if (word == "hold") {
                st.kind = Step::Hold;
            } else if (word == "release") {
                st.kind = Step::Release;
            } else if (word == "off") {
                st.kind = Step::Off;
            } else if (word == "stop-record") {
                st.kind = Step::StopRecord;
            } else if (word.rfind("shift+", 0) == 0 && key_by_name(word.substr(6), &code)) {
                st.kind = Step::Key;
                st.value = code | KEY_SHIFT;
                st.shifted = true;
            } else if (key_by_name(word, &code)) {
                st.kind = Step::Key;
                st.value = code;
            } else {
                return fail("unknown step '" + item + "'");
            }
            steps->push_back(st);
        }
        pos = end + 1;
        ++line;
    }
    return true;
}

bool check_recordings(const std::vector<Step>& steps, std::string* error)
{
    const Step* running = nullptr;
    for (const Step& st : steps) {
        auto fail = [&](const std::string& why) {
            if (error) *error = st.origin + ":" + std::to_string(st.line) + ": " + why;
            return false;
        };
        if (st.kind == Step::Record) {
            if (running)
                return fail("'record' while the recording of " + running->origin + ":" + std::to_string(running->line) +
                            " runs (stop it with 'stop-record' first)");
            running = &st;
        } else if (st.kind == Step::StopRecord) {
            if (!running) return fail("'stop-record' without a recording");
            running = nullptr;
        }
    }
    return true;
}
