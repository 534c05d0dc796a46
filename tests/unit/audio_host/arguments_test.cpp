#include "audio_host/cli/arguments.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorle::host {
namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

CaptureRequest system_capture(std::uint32_t excluded) {
    return CaptureRequest{SystemTarget{}, excluded, std::nullopt, std::nullopt};
}

CaptureRequest process_capture(std::uint32_t pid, std::uint32_t excluded, std::string exe,
                               std::uint64_t start) {
    return CaptureRequest{ProcessTarget{pid}, excluded, std::move(exe), start};
}

struct Row {
    std::vector<std::string> args;
    Result<RunRequest> expected;
};

const std::string kPairs = "arguments must be flag/value pairs";
const std::string kUnknown = "unknown or duplicate argument";
const std::string kExMissing = "one excluded parent PID is required";
const std::string kExInvalid = "exactly one positive excluded PID is required";
const std::string kTargetMissing = "target is required";
const std::string kTarget = "target must be system or pid:N";
const std::string kIdentity = "process identity is not valid for system capture";
const std::string kExe = "expected executable is required";
const std::string kStart = "expected process creation time is required";

TEST(ParseArguments, EveryRuleAndMessage) {
    const std::vector<Row> rows = {
        {{}, fail(kExMissing)},
        {{"--list"}, RunRequest{ListApplications{}}},
        {{"--list", "x"}, fail(kUnknown)},
        {{"--list", "a", "b"}, fail(kPairs)},
        {{"--help"}, fail(kPairs)},
        {{""}, fail(kPairs)},
        {{"--LIST"}, fail(kPairs)},
        {words("--target system --exclude-pids"), fail(kPairs)},
        {words("--target system --exclude-pids 4000"), RunRequest{system_capture(4000)}},
        {words("--exclude-pids 4000 --target system"), RunRequest{system_capture(4000)}},
        {words("--target system --target system --exclude-pids 4000"), fail(kUnknown)},
        {words("--target system --target system --exclude-pids 4000 --x y"), fail(kUnknown)},
        {words("--target system --target system --exclude-pids 4000 --exclude-pids 5"),
         fail(kUnknown)},
        {words("--Target system --exclude-pids 4000"), fail(kUnknown)},
        {words("--target system --exclude-pids +4000"), RunRequest{system_capture(4000)}},
        {words("--target system --exclude-pids 0004000"), RunRequest{system_capture(4000)}},
        {words("--target system --exclude-pids 4294967295"),
         RunRequest{system_capture(4294967295u)}},
        {words("--target system --exclude-pids 0"), fail(kExInvalid)},
        {words("--target system --exclude-pids -4"), fail(kExInvalid)},
        {words("--target system --exclude-pids 4294967296"), fail(kExInvalid)},
        {words("--target system --exclude-pids 4000,5000"), fail(kExInvalid)},
        {words("--target system --exclude-pids +"), fail(kExInvalid)},
        {words("--target system --exclude-pids ++4"), fail(kExInvalid)},
        {words("--target system --exclude-pids 0x10"), fail(kExInvalid)},
        {{"--target", "system", "--exclude-pids", ""}, fail(kExInvalid)},
        {{"--target", "system", "--exclude-pids", " 4000"}, fail(kExInvalid)},
        {words("--target bogus"), fail(kExMissing)},
        {words("--exclude-pids 4000"), fail(kTargetMissing)},
        {words("--exclude-pids 4000 --expected-exe x"), fail(kTargetMissing)},
        {words("--target system --exclude-pids 4000 --expected-start 5"), fail(kIdentity)},
        {{"--target", "system", "--exclude-pids", "4000", "--expected-exe", ""}, fail(kIdentity)},
        {words("--target System --exclude-pids 4000"), fail(kTarget)},
        {words("--target pid: --exclude-pids 4000"), fail(kTarget)},
        {words("--target pid:0 --exclude-pids 4000"), fail(kTarget)},
        {words("--target pid:-4 --exclude-pids 4000"), fail(kTarget)},
        {{"--target", "pid: 4", "--exclude-pids", "4000"}, fail(kTarget)},
        {words("--target PID:12 --exclude-pids 4000"), fail(kTarget)},
        {words("--target pid:x --exclude-pids 4000"), fail(kTarget)},
        {words("--target pid:4294967296 --exclude-pids 4000 --expected-exe a --expected-start 1"),
         fail(kTarget)},
        {words("--target pid:12 --exclude-pids 4000"), fail(kExe)},
        {{"--target", "pid:12", "--exclude-pids", "4000", "--expected-exe", ""}, fail(kExe)},
        {words("--target pid:12 --exclude-pids 4000 --expected-exe C:\\A.exe"), fail(kStart)},
        {words("--target pid:12 --exclude-pids 4000 --expected-exe C:\\A.exe --expected-start 0"),
         fail(kStart)},
        {words("--target pid:12 --exclude-pids 4000 --expected-exe C:\\A.exe --expected-start x"),
         fail(kStart)},
        {words("--target pid:12 --exclude-pids 4000 --expected-exe a "
               "--expected-start 18446744073709551616"),
         fail(kStart)},
        {words("--target pid:+12 --exclude-pids 4000 --expected-exe C:\\A.exe "
               "--expected-start 18446744073709551615"),
         RunRequest{process_capture(12, 4000, "C:\\A.exe", 18446744073709551615ull)}},
        {{"--expected-start", "+0133", "--expected-exe", " C:\\Program Files\\A.EXE ", "--target",
          "pid:4312", "--exclude-pids", "4000"},
         RunRequest{process_capture(4312, 4000, " C:\\Program Files\\A.EXE ", 133)}},
        {{"--target", "pid:12", "--exclude-pids", "4000", "--expected-exe", "--target",
          "--expected-start", "9"},
         RunRequest{process_capture(12, 4000, "--target", 9)}},
    };
    for (const Row& row : rows) {
        std::string shown;
        for (const auto& a : row.args)
            shown += "[" + a + "] ";
        EXPECT_EQ(parse_arguments(row.args), row.expected) << shown;
    }
}

TEST(ParseNumbers, SyntaxAndLimits) {
    EXPECT_EQ(parse_u32("0"), 0u);
    EXPECT_EQ(parse_u32("+007"), 7u);
    EXPECT_EQ(parse_u32("4294967295"), 4294967295u);
    EXPECT_EQ(parse_u32("4294967296"), std::nullopt);
    EXPECT_EQ(parse_u32("99999999999999999999999"), std::nullopt);
    EXPECT_EQ(parse_u32("-0"), std::nullopt);
    EXPECT_EQ(parse_u32("1 "), std::nullopt);
    EXPECT_EQ(parse_u32("\xd9\xa3"), std::nullopt);  // a non-ASCII digit
    EXPECT_EQ(parse_u64("18446744073709551615"), 18446744073709551615ull);
    EXPECT_EQ(parse_u64("18446744073709551616"), std::nullopt);
    EXPECT_EQ(parse_u64("+"), std::nullopt);
    EXPECT_EQ(parse_u64(""), std::nullopt);
}

}  // namespace
}  // namespace quorle::host
