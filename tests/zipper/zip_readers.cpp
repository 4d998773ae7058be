#include "zip_readers.h"

#include "platform/process.h"
#include "platform/unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iostream>

namespace zip_test {

namespace {

std::string to_hex(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

bool non_ascii(std::string_view s)
{
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::uint64_t splitmix(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

constexpr std::size_t lfsr_period = 32767;

// c[i]: bits 5i .. 5i+4 (mod the period) of the sequence of x^15 + x^14 + 1.
const std::array<std::uint8_t, lfsr_period>& lfsr_symbols()
{
    static const auto table = [] {
        std::array<std::uint8_t, lfsr_period> bits{};
        unsigned state = 1;
        for (auto& b : bits) {
            b = state & 1;
            const unsigned feedback = (state ^ (state >> 1)) & 1;
            state = (state >> 1) | (feedback << 14);
        }
        std::array<std::uint8_t, lfsr_period> symbols{};
        for (std::size_t i = 0; i < lfsr_period; ++i) {
            unsigned v = 0;
            for (std::size_t k = 0; k < 5; ++k)
                v = (v << 1) | bits[(5 * i + k) % lfsr_period];
            symbols[i] = static_cast<std::uint8_t>(v);
        }
        return symbols;
    }();
    return table;
}

void fill_incompressible(char* out, std::size_t size, std::uint64_t first_index, std::uint64_t& rng)
{
    const auto& symbols = lfsr_symbols();
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (i % 21 == 0)
            bits = splitmix(rng);
        out[i] = static_cast<char>((symbols[(first_index + i) % lfsr_period] << 3) | (bits & 7));
        bits >>= 3;
    }
}

platform::ProcessSpec spec_of(const std::string& program, const std::vector<std::string>& args)
{
    platform::ProcessSpec spec;
    spec.program = program;
    spec.args = args;
    return spec;
}

} // namespace

bool readers_available()
{
    static const bool available = [] {
        auto py = platform::run(spec_of("python3", {"-c", "import zipfile"}));
        auto uz = platform::run(spec_of("unzip", {"-v"}));
        const bool ok = py && py->exit_code == 0 && uz && uz->exit_code == 0;
        if (!ok)
            std::cout << "[ note ] python3 or unzip cannot run here: real-reader checks skipped\n";
        return ok;
    }();
    return available;
}

std::optional<ToolRun> run_tool(const std::string& program, const std::vector<std::string>& args)
{
    auto ran = platform::run(spec_of(program, args));
    if (!ran || !ran->exit_code)
        return std::nullopt;
    return ToolRun{*ran->exit_code, ran->stdout_bytes + ran->stderr_bytes};
}

std::optional<nlohmann::json> python_report(const std::filesystem::path& archive, std::size_t max_data)
{
    if (!readers_available())
        return std::nullopt;
    const std::string script = VANO_SOURCE_DIR "/tests/zipper/zip_report.py";
    auto ran = platform::run(spec_of("python3", {script, platform::path_to_utf8(archive), std::to_string(max_data)}));
    if (!ran || ran->exit_code != 0) {
        ADD_FAILURE() << "zipfile could not read " << archive << ": " << (ran ? ran->stderr_bytes : ran.error());
        return std::nullopt;
    }
    return nlohmann::json::parse(ran->stdout_bytes);
}

void expect_archive(const std::filesystem::path& archive, std::vector<ExpectedEntry> expected, Order order)
{
    auto report = python_report(archive);
    if (!report)
        return;
    const auto& entries = (*report)["entries"];
    ASSERT_EQ(entries.size(), expected.size()) << report->dump();

    std::vector<nlohmann::json> got(entries.begin(), entries.end());
    if (order == Order::any) {
        std::sort(expected.begin(), expected.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        std::sort(got.begin(), got.end(), [](const auto& a, const auto& b) {
            return a["name"].template get<std::string>() < b["name"].template get<std::string>();
        });
    }
    for (std::size_t i = 0; i < got.size(); ++i) {
        const auto& e = got[i];
        const auto& want = expected[i];
        SCOPED_TRACE(want.name);
        const std::uint16_t flags = non_ascii(want.name) ? 0x0800 : 0;
        EXPECT_EQ(e["name"], want.name);
        EXPECT_EQ(e["name_hex"], to_hex(want.name));
        EXPECT_EQ(e["file_size"], want.content.size());
        EXPECT_EQ(e["read_length"], want.content.size());
        EXPECT_EQ(e["read_crc"], e["crc"]);
        if (!e["data_hex"].is_null()) {
            EXPECT_EQ(e["data_hex"], to_hex(want.content));
        }
        EXPECT_EQ(e["compress_type"], 8);
        EXPECT_EQ(e["create_system"], 3);
        EXPECT_EQ(e["create_version"], 46);
        EXPECT_EQ(e["extract_version"], 20);
        EXPECT_EQ(e["flag_bits"], flags);
        EXPECT_EQ(e["date_time"], nlohmann::json::array({1980, 1, 1, 0, 0, 0}));
        EXPECT_EQ(e["external_attr"], 0x81A40000u);
        EXPECT_EQ(e["internal_attr"], 0);
        EXPECT_EQ(e["extra_len"], 0);
        EXPECT_EQ(e["comment_len"], 0);
        // The local header matches the central one, its CRC and sizes filled in afterwards.
        const auto& local = e["local"];
        EXPECT_EQ(local["signature"], 0x04034b50u);
        EXPECT_EQ(local["version"], 20);
        EXPECT_EQ(local["flags"], flags);
        EXPECT_EQ(local["method"], 8);
        EXPECT_EQ(local["time"], 0);
        EXPECT_EQ(local["date"], 0x21);
        EXPECT_EQ(local["crc"], e["crc"]);
        EXPECT_EQ(local["compressed"], e["compress_size"]);
        EXPECT_EQ(local["uncompressed"], e["file_size"]);
        EXPECT_EQ(local["name_hex"], e["name_hex"]);
        EXPECT_EQ(local["extra_len"], 0);
    }
    const auto& end = (*report)["end"];
    EXPECT_EQ(end["signature"], 0x06054b50u);
    EXPECT_EQ(end["total"], expected.size());
    EXPECT_EQ(end["on_disk"], expected.size());
    EXPECT_EQ(end["comment_len"], 0);
    EXPECT_EQ(end["cd_offset"].get<std::uint64_t>() + end["cd_size"].get<std::uint64_t>() + 22,
              (*report)["size"].get<std::uint64_t>());

    auto tested = run_tool("unzip", {"-t", platform::path_to_utf8(archive)});
    ASSERT_TRUE(tested);
    if (expected.empty()) {
        EXPECT_EQ(tested->exit_code, 1) << tested->output;
        EXPECT_NE(tested->output.find("zipfile is empty"), std::string::npos) << tested->output;
    } else {
        EXPECT_EQ(tested->exit_code, 0) << tested->output;
        EXPECT_NE(tested->output.find("No errors detected"), std::string::npos) << tested->output;
    }
}

std::string incompressible_bytes(std::size_t size, std::uint64_t seed)
{
    std::string out(size, '\0');
    fill_incompressible(out.data(), size, 0, seed);
    return out;
}

void write_incompressible_file(const std::filesystem::path& path, std::uint64_t size, std::uint64_t seed)
{
    std::ofstream out(path, std::ios::binary);
    std::string piece(1 << 20, '\0');
    for (std::uint64_t done = 0; done < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - done));
        fill_incompressible(piece.data(), n, done, seed);
        out.write(piece.data(), static_cast<std::streamsize>(n));
        done += n;
    }
    ASSERT_TRUE(out.good()) << path;
}

std::string read_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

} // namespace zip_test
