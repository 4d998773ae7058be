#include "zip_readers.h"

#include "platform/process.h"
#include "platform/unicode.h"
#include "support/json_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include <zlib.h>

namespace zip_test {

namespace {

using test_support::field;

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


// A second reader for where Python cannot run: the archive's records read field by field
// (APPNOTE 4.3) and each entry's data inflated by zlib, giving zip_report.py's JSON.
class RawReader {
public:
    explicit RawReader(const std::filesystem::path& path) : m_in(path, std::ios::binary) {}

    std::string bytes(std::uint64_t at, std::size_t n)
    {
        std::string out(n, '\0');
        m_in.clear();
        m_in.seekg(static_cast<std::streamoff>(at));
        m_in.read(out.data(), static_cast<std::streamsize>(n));
        if (static_cast<std::size_t>(m_in.gcount()) != n)
            throw std::runtime_error("archive too short at " + std::to_string(at));
        return out;
    }

    std::istream& stream() { return m_in; }

private:
    std::ifstream m_in;
};

std::uint64_t le(std::string_view b, std::size_t at, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = width; i-- > 0;)
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

nlohmann::json inflate_entry(RawReader& in, std::uint64_t at, std::uint64_t compressed, std::size_t max_data)
{
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        throw std::runtime_error("inflateInit2");
    std::string data;
    std::uint64_t length = 0;
    auto crc = crc32(0, nullptr, 0);
    std::string out(1 << 16, '\0');
    int rc = Z_OK;
    for (std::uint64_t done = 0; rc != Z_STREAM_END && done < compressed;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(1 << 20, compressed - done));
        std::string piece = in.bytes(at + done, n);
        done += n;
        zs.next_in = reinterpret_cast<Bytef*>(piece.data());
        zs.avail_in = static_cast<uInt>(n);
        while (zs.avail_in > 0 && rc != Z_STREAM_END) {
            zs.next_out = reinterpret_cast<Bytef*>(out.data());
            zs.avail_out = static_cast<uInt>(out.size());
            rc = inflate(&zs, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END)
                break;
            const std::size_t got = out.size() - zs.avail_out;
            crc = crc32(crc, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(got));
            length += got;
            if (length <= max_data)
                data.append(out.data(), got);
        }
        if (rc != Z_OK && rc != Z_STREAM_END)
            break;
    }
    const bool ended = rc == Z_STREAM_END && zs.total_in == compressed;
    inflateEnd(&zs);
    if (!ended)
        throw std::runtime_error("DEFLATE data does not end where its compressed size says");
    return {{"read_crc", crc}, {"read_length", length}, {"data_hex", length <= max_data ? nlohmann::json(to_hex(data)) : nlohmann::json()}};
}

nlohmann::json raw_report(const std::filesystem::path& archive, std::size_t max_data)
{
    RawReader in(archive);
    const std::uint64_t size = std::filesystem::file_size(archive);
    const std::string end = in.bytes(size - 22, 22);
    nlohmann::json report = {
        {"size", size},
        {"comment_hex", ""},
        {"end",
         {{"signature", le(end, 0, 4)}, {"disk", le(end, 4, 2)}, {"cd_disk", le(end, 6, 2)},
          {"on_disk", le(end, 8, 2)}, {"total", le(end, 10, 2)}, {"cd_size", le(end, 12, 4)},
          {"cd_offset", le(end, 16, 4)}, {"comment_len", le(end, 20, 2)}}},
        {"entries", nlohmann::json::array()},
    };
    std::uint64_t at = le(end, 16, 4);
    for (std::uint64_t i = 0; i < le(end, 10, 2); ++i) {
        const std::string c = in.bytes(at, 46);
        if (le(c, 0, 4) != 0x02014b50)
            throw std::runtime_error("bad central header signature");
        const std::size_t name_len = le(c, 28, 2), extra_len = le(c, 30, 2), comment_len = le(c, 32, 2);
        const std::string raw_name = in.bytes(at + 46, name_len);
        const std::uint16_t flags = static_cast<std::uint16_t>(le(c, 8, 2));
        const std::uint64_t offset = le(c, 42, 4);
        const std::string l = in.bytes(offset, 30);
        const std::size_t l_name_len = le(l, 26, 2), l_extra_len = le(l, 28, 2);
        const std::uint64_t time = le(c, 12, 2), date = le(c, 14, 2);
        nlohmann::json e = {
            {"name", (flags & 0x800) || !non_ascii(raw_name) ? raw_name : "(cp437) " + to_hex(raw_name)},
            {"name_hex", to_hex(raw_name)},
            {"file_size", le(c, 24, 4)},
            {"compress_size", le(c, 20, 4)},
            {"crc", le(c, 16, 4)},
            {"compress_type", le(c, 10, 2)},
            {"create_system", le(c, 4, 2) >> 8},
            {"create_version", le(c, 4, 2) & 0xFF},
            {"extract_version", le(c, 6, 2)},
            {"flag_bits", flags},
            {"date_time", {1980 + (date >> 9), (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2}},
            {"external_attr", le(c, 38, 4)},
            {"internal_attr", le(c, 36, 2)},
            {"extra_len", extra_len},
            {"comment_len", comment_len},
            {"header_offset", offset},
            {"local",
             {{"signature", le(l, 0, 4)}, {"version", le(l, 4, 2)}, {"flags", le(l, 6, 2)}, {"method", le(l, 8, 2)},
              {"time", le(l, 10, 2)}, {"date", le(l, 12, 2)}, {"crc", le(l, 14, 4)}, {"compressed", le(l, 18, 4)},
              {"uncompressed", le(l, 22, 4)}, {"name_hex", to_hex(in.bytes(offset + 30, l_name_len))},
              {"extra_len", l_extra_len}}},
        };
        e.update(inflate_entry(in, offset + 30 + l_name_len + l_extra_len, le(c, 20, 4), max_data));
        report["entries"].push_back(std::move(e));
        at += 46 + name_len + extra_len + comment_len;
    }
    return report;
}

} // namespace

bool readers_available()
{
    static const bool available = [] {
        auto py = platform::run(spec_of("python3", {"-c", "import zipfile"}));
        auto uz = platform::run(spec_of("unzip", {"-v"}));
        const bool ok = py && py->exit_code == 0 && uz && uz->exit_code == 0;
        if (!ok)
            std::cout << "[ note ] python3 or unzip cannot run here: the test's own record reader stands in\n";
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

std::optional<nlohmann::json> archive_report(const std::filesystem::path& archive, std::size_t max_data)
{
    if (!readers_available()) {
        try {
            return raw_report(archive, max_data);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "the archive's records cannot be read: " << e.what();
            return std::nullopt;
        }
    }
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
    auto report = archive_report(archive);
    if (!report)
        return;
    const auto& entries = (*report)["entries"];
    ASSERT_EQ(entries.size(), expected.size()) << report->dump();

    std::vector<nlohmann::json> got(entries.begin(), entries.end());
    if (order == Order::any) {
        std::sort(expected.begin(), expected.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        std::sort(got.begin(), got.end(), [](const auto& a, const auto& b) {
            return field(a, "name").template get<std::string>() < field(b, "name").template get<std::string>();
        });
    }
    for (std::size_t i = 0; i < got.size(); ++i) {
        const auto& e = got[i];
        const auto& want = expected[i];
        SCOPED_TRACE(want.name);
        const std::uint16_t flags = non_ascii(want.name) ? 0x0800 : 0;
        EXPECT_EQ(field(e, "name"), want.name);
        EXPECT_EQ(field(e, "name_hex"), to_hex(want.name));
        EXPECT_EQ(field(e, "file_size"), want.content.size());
        EXPECT_EQ(field(e, "read_length"), want.content.size());
        EXPECT_EQ(field(e, "read_crc"), field(e, "crc"));
        if (!field(e, "data_hex").is_null()) {
            EXPECT_EQ(field(e, "data_hex"), to_hex(want.content));
        }
        EXPECT_EQ(field(e, "compress_type"), 8);
        EXPECT_EQ(field(e, "create_system"), 3);
        EXPECT_EQ(field(e, "create_version"), 46);
        EXPECT_EQ(field(e, "extract_version"), 20);
        EXPECT_EQ(field(e, "flag_bits"), flags);
        EXPECT_EQ(field(e, "date_time"), nlohmann::json::array({1980, 1, 1, 0, 0, 0}));
        EXPECT_EQ(field(e, "external_attr"), 0x81A40000u);
        EXPECT_EQ(field(e, "internal_attr"), 0);
        EXPECT_EQ(field(e, "extra_len"), 0);
        EXPECT_EQ(field(e, "comment_len"), 0);
        // The local header matches the central one, its CRC and sizes filled in afterwards.
        const auto& local = field(e, "local");
        EXPECT_EQ(field(local, "signature"), 0x04034b50u);
        EXPECT_EQ(field(local, "version"), 20);
        EXPECT_EQ(field(local, "flags"), flags);
        EXPECT_EQ(field(local, "method"), 8);
        EXPECT_EQ(field(local, "time"), 0);
        EXPECT_EQ(field(local, "date"), 0x21);
        EXPECT_EQ(field(local, "crc"), field(e, "crc"));
        EXPECT_EQ(field(local, "compressed"), field(e, "compress_size"));
        EXPECT_EQ(field(local, "uncompressed"), field(e, "file_size"));
        EXPECT_EQ(field(local, "name_hex"), field(e, "name_hex"));
        EXPECT_EQ(field(local, "extra_len"), 0);
    }
    const auto& end = (*report)["end"];
    EXPECT_EQ(field(end, "signature"), 0x06054b50u);
    EXPECT_EQ(field(end, "total"), expected.size());
    EXPECT_EQ(field(end, "on_disk"), expected.size());
    EXPECT_EQ(field(end, "comment_len"), 0);
    EXPECT_EQ(field(end, "cd_offset").get<std::uint64_t>() + field(end, "cd_size").get<std::uint64_t>() + 22,
              (*report)["size"].get<std::uint64_t>());

    if (!readers_available())
        return;
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
