#pragma once
// Checks of an archive by independent readers: Info-ZIP's unzip and zipinfo, and
// Python's zipfile (tests/zipper/zip_report.py). Where those cannot run (the Windows build
// under wine), a small reader of the test's own (records field by field, data inflated by
// zlib) gives the same report, and unzip's checks are skipped.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zip_test {

struct ExpectedEntry {
    std::string name;    // UTF-8 as it must appear in the archive
    std::string content; // the source bytes
};

enum class Order { as_given, any };

// True when python3 and unzip can be started from here.
bool readers_available();

// zip_report.py's JSON (or the stand-in reader's), or nothing with a test failure.
std::optional<nlohmann::json> archive_report(const std::filesystem::path& archive, std::size_t max_data = 4096);

struct ToolRun {
    int exit_code = -1;
    std::string output; // standard output and error
};

// Runs an Info-ZIP tool (unzip, zipinfo) with `args`; nothing when it cannot start.
std::optional<ToolRun> run_tool(const std::string& program, const std::vector<std::string>& args);

// Every header field of every entry as the archive builder writes it, the entries'
// names and contents, the end record, and `unzip -t`.
void expect_archive(const std::filesystem::path& archive, std::vector<ExpectedEntry> expected, Order order);

// Bytes that zlib cannot shrink: a 15-bit maximal-length LFSR sequence taken five bits per
// byte, so no three consecutive bytes repeat within 32,767 positions and DEFLATE finds no
// match at all, plus three pseudo-random low bits per byte for an even byte spread. Level
// 6 then stores every 16,383 bytes as one stored block with a 5-byte header.
std::string incompressible_bytes(std::size_t size, std::uint64_t seed);
void write_incompressible_file(const std::filesystem::path& path, std::uint64_t size, std::uint64_t seed);

std::string read_bytes(const std::filesystem::path& path);
void write_bytes(const std::filesystem::path& path, std::string_view bytes);

} // namespace zip_test
