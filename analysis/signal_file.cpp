#include "analysis/signal_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "base/text.h"

namespace {

// Largest relative deviation of one time step of a CSV table from the mean step.
constexpr double TIME_STEP_TOLERANCE = 0.01;

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The fields of one line: split at the first of ',', ';' or tab that the
// line holds, else at runs of blanks.
std::vector<std::string> split_fields(const std::string& line)
{
    std::vector<std::string> fields;
    const size_t sep_at = line.find_first_of(",;\t");
    if (sep_at != std::string::npos) {
        const char sep = line[sep_at];
        size_t start = 0;
        for (;;) {
            const size_t end = line.find(sep, start);
            fields.push_back(trim(line.substr(start, end == std::string::npos ? std::string::npos : end - start)));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        return fields;
    }
    std::istringstream in(line);
    for (std::string f; in >> f;) fields.push_back(f);
    return fields;
}

// Reads one number, the whole field; false when it is not one.
bool parse_number(const std::string& field, double* out)
{
    const char* b = field.data();
    const char* e = b + field.size();
    if (b != e && *b == '+') ++b;
    const char* stop = nullptr;
    return b != e && text_to_double(b, e, out, &stop) && stop == e && std::isfinite(*out);
}

}  // namespace

bool signal_file_is_table(const std::string& path)
{
    const std::string l = lower(path);
    auto ends = [&l](const char* ext) { return l.size() >= 4 && l.compare(l.size() - 4, 4, ext) == 0; };
    return ends(".csv") || ends(".txt");
}

std::string signal_table_parse(const std::string& text, const std::string& name, double rate, SignalRecording* out)
{
    *out = SignalRecording{};
    std::vector<double> times;
    std::vector<float> values;
    size_t columns = 0;
    u32 line_no = 0, first_data_line = 0;
    bool seen_line = false;
    std::istringstream in(text);
    for (std::string raw; std::getline(in, raw);) {
        ++line_no;
        const std::string line = trim(raw);
        if (line.empty()) continue;
        const std::vector<std::string> fields = split_fields(line);
        std::vector<double> row(fields.size());
        size_t bad = fields.size();
        for (size_t i = 0; i < fields.size() && bad == fields.size(); ++i)
            if (!parse_number(fields[i], &row[i])) bad = i;
        const bool first = !seen_line;
        seen_line = true;
        if (bad != fields.size()) {
            if (first) continue;  // a header line
            return quoted(name) + " line " + std::to_string(line_no) + ": not a number: '" + fields[bad] + "'";
        }
        if (columns == 0) {
            columns = fields.size();
            first_data_line = line_no;
        } else if (fields.size() != columns) {
            return quoted(name) + " line " + std::to_string(line_no) + ": " + std::to_string(fields.size()) +
                   " values where line " + std::to_string(first_data_line) + " has " + std::to_string(columns);
        }
        if (columns > 1) times.push_back(row[0]);
        for (size_t i = columns > 1 ? 1 : 0; i < columns; ++i) {
            // Samples are kept as floats: a value beyond their range would
            // become infinite.
            if (std::fabs(row[i]) > std::numeric_limits<float>::max())
                return quoted(name) + " line " + std::to_string(line_no) + ": '" + fields[i] +
                       "' is beyond the range of a sample";
            values.push_back(static_cast<float>(row[i]));
        }
        if (values.size() > SIGNAL_FILE_MAX_SAMPLES) return quoted(name) + " is too long";
    }
    if (values.empty()) return quoted(name) + " has no samples";
    // Filled in only when the table is taken.
    SignalRecording rec;
    rec.channels = static_cast<u32>(columns > 1 ? columns - 1 : 1);
    rec.frames = values.size() / rec.channels;
    rec.floating = true;
    if (rate > 0) {
        rec.rate = rate;
    } else if (columns == 1) {
        return quoted(name) + " has no time column: give the sample rate (--signal-rate)";
    } else if (times.size() < 2) {
        return quoted(name) + " has one time only: give the sample rate (--signal-rate)";
    } else {
        const double step = (times.back() - times.front()) / static_cast<double>(times.size() - 1);
        for (size_t i = 1; i < times.size(); ++i) {
            const double d = times[i] - times[i - 1];
            if (!(step > 0) || std::fabs(d - step) > TIME_STEP_TOLERANCE * step)
                return quoted(name) + ": the times are not evenly rising (at value " + std::to_string(i + 1) +
                       "); give the sample rate (--signal-rate)";
        }
        rec.rate = 1.0 / step;
        if (!std::isfinite(rec.rate))
            return quoted(name) + ": the times are too close together for a sample rate; give it (--signal-rate)";
    }
    rec.samples = std::move(values);
    *out = std::move(rec);
    return "";
}

std::string signal_file_read(const std::string& path, double rate, SignalRecording* out)
{
    *out = SignalRecording{};
    if (signal_file_is_table(path)) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return "cannot read " + quoted(path) + ": " + std::strerror(errno);
        std::stringstream ss;
        ss << in.rdbuf();
        if (in.bad()) return "cannot read " + quoted(path);
        return signal_table_parse(ss.str(), path, rate, out);
    }
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        return "cannot read " + quoted(path) + ": " + std::strerror(errno);
    }
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return "cannot read " + quoted(path) + ": " + sf_strerror(nullptr);
    if (info.channels <= 0 || info.frames <= 0) {
        sf_close(f);
        return quoted(path) + " has no samples";
    }
    const u64 total = static_cast<u64>(info.frames) * static_cast<u64>(info.channels);
    if (total > SIGNAL_FILE_MAX_SAMPLES) {
        sf_close(f);
        return quoted(path) + " is too long (" + std::to_string(total) + " samples, at most " +
               std::to_string(SIGNAL_FILE_MAX_SAMPLES) + ")";
    }
    const int sub = info.format & SF_FORMAT_SUBMASK;
    out->floating = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
    out->channels = static_cast<u32>(info.channels);
    out->samples.resize(total);
    const sf_count_t got = sf_readf_float(f, out->samples.data(), info.frames);
    const int err = sf_error(f);
    const std::string err_text = sf_strerror(f);
    sf_close(f);
    if (got <= 0) {
        *out = SignalRecording{};
        return err ? "cannot read " + quoted(path) + ": " + err_text : quoted(path) + " has no samples";
    }
    out->frames = static_cast<u64>(got);
    out->samples.resize(out->frames * out->channels);
    out->rate = rate > 0 ? rate : info.samplerate;
    if (!(out->rate > 0)) {
        *out = SignalRecording{};
        return quoted(path) + " gives no sample rate: give it (--signal-rate)";
    }
    for (const float v : out->samples)
        if (!std::isfinite(v)) {
            *out = SignalRecording{};
            return quoted(path) + " holds a sample that is not a finite number";
        }
    return "";
}
