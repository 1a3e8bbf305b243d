// A fuzz target as a test program: every file of its seed corpus
// (corpus/<target>/) and of its saved reproducers (reproducers/<target>/)
// is one test that runs the target on it, under the sanitizers of the
// build. A reproducer of a fixed fault thus stays a test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz.h"

namespace {

class Replay : public ::testing::Test {
public:
    explicit Replay(std::string path) : path_(std::move(path)) {}
    void TestBody() override
    {
        const std::vector<u8> input = fuzz_read_file(path_);
        ASSERT_FALSE(input.empty() && std::filesystem::file_size(path_) != 0) << path_;
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }

private:
    std::string path_;
};

// A test name from a file name: letters, digits and '_' only.
std::string test_name(const std::string& file)
{
    std::string name = file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

void register_folder(const char* kind)
{
    const std::filesystem::path folder = std::filesystem::path(TARVIK2_FUZZ_DATA) / kind / TARVIK2_FUZZ_TARGET;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        const std::string path = f.string();
        ::testing::RegisterTest(("Fuzz_" TARVIK2_FUZZ_TARGET "_" + std::string(kind)).c_str(),
                                test_name(f.filename().string()).c_str(), nullptr, nullptr, __FILE__, __LINE__,
                                [path]() -> ::testing::Test* { return new Replay(path); });
    }
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    register_folder("corpus");
    register_folder("reproducers");
    return RUN_ALL_TESTS();
}
