#include "audio_host/process/linux/proc_stat.h"

#include <gtest/gtest.h>

#include <string>

namespace quorle::host::linux_process {
namespace {

// Fields 3 to 52 of a real /proc/N/stat line, after the command name.
std::string stat_line(const std::string& pid, const std::string& comm, const std::string& ppid,
                      const std::string& start) {
    return pid + " (" + comm + ") S " + ppid +
           " 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 " + start +
           " 10000 200 18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 1 0 0 0 0 0 1 1 1 1 1 "
           "1 0\n";
}

TEST(ParseProcStat, CountsFieldsFromTheLastParenthesis) {
    struct Row {
        std::string text;
        std::optional<std::uint32_t> parent;  // empty: rejected
        std::uint64_t start = 0;
    };
    const Row rows[] = {
        {stat_line("42", "bash", "1", "8812"), 1, 8812},
        {stat_line("42", "a b) S 9 9 (c", "77", "5"), 77, 5},
        {stat_line("42", ")", "3", "6"), 3, 6},
        {stat_line("42", "", "3", "6"), 3, 6},
        {stat_line("42", "x", "0", "18446744073709551615"), 0, 18446744073709551615ULL},
        {stat_line("42", "x", "4294967295", "1"), 4294967295u, 1},
        {"7 (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 99", 1, 99},  // no newline, field 22 last
        {stat_line("42", "x", "4294967296", "1"), std::nullopt},      // parent overflows
        {stat_line("42", "x", "-1", "1"), std::nullopt},
        {stat_line("42", "x", "1", "18446744073709551616"), std::nullopt},
        {stat_line("42", "x", "1", "+5"), std::nullopt},
        {"7 (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0", std::nullopt},  // no field 22
        {"7 (x) S 1", std::nullopt},
        {"7 (x)", std::nullopt},
        {"7 (x", std::nullopt},
        {"x (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 99", std::nullopt},
        {"(x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 99", std::nullopt},
        {"7 (x)  S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 99", std::nullopt},  // shifted fields
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const std::optional<ProcStat> stat = parse_proc_stat(row.text);
        ASSERT_EQ(stat.has_value(), row.parent.has_value());
        if (!stat) continue;
        EXPECT_EQ(stat->parent_pid, *row.parent);
        EXPECT_EQ(stat->start_ticks, row.start);
    }
}

TEST(ParseBootTime, FindsTheBtimeLine) {
    EXPECT_EQ(parse_boot_time("cpu  1 2 3\nintr 5\nbtime 1700000000\nprocesses 9\n"), 1700000000u);
    EXPECT_EQ(parse_boot_time("btime 12"), 12u);
    EXPECT_EQ(parse_boot_time("xbtime 5\nbtime 6\n"), 6u);
    EXPECT_EQ(parse_boot_time("cpu 1\n"), std::nullopt);
    EXPECT_EQ(parse_boot_time("btime \n"), std::nullopt);
    EXPECT_EQ(parse_boot_time("btime 12x\n"), std::nullopt);
}

TEST(CreationTimeSince1601, AddsBootAndStartTimeInHundredNanosecondTicks) {
    // 1970-01-01 is 116444736000000000 ticks after 1601-01-01.
    EXPECT_EQ(creation_time_since_1601(0, 0, 100), 116'444'736'000'000'000ULL);
    EXPECT_EQ(creation_time_since_1601(1'700'000'000, 12'345, 100),
              116'444'736'000'000'000ULL + 17'000'000'000'000'000ULL + 1'234'500'000ULL);
    // A rate that does not divide 10^7 rounds the fraction down once.
    EXPECT_EQ(creation_time_since_1601(0, 4, 3), 116'444'736'000'000'000ULL + 13'333'333ULL);
    EXPECT_EQ(creation_time_since_1601(0, 1, 0), std::nullopt);
    EXPECT_EQ(creation_time_since_1601(18'446'744'073'709'551'615ULL, 0, 100), std::nullopt);
    EXPECT_EQ(creation_time_since_1601(0, 18'446'744'073'709'551'615ULL, 1), std::nullopt);
}

TEST(ParsePidName, AcceptsOnlyProcessDirectories) {
    EXPECT_EQ(parse_pid_name("1"), 1u);
    EXPECT_EQ(parse_pid_name("4294967295"), 4294967295u);
    for (const char* name : {"", "0", "01", "self", "4294967296", "-1", "1a", "+1"}) {
        EXPECT_EQ(parse_pid_name(name), std::nullopt) << name;
    }
}

}  // namespace
}  // namespace quorle::host::linux_process
