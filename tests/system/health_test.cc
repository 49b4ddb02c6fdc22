// arkctl health against the real service of a simulated host after one
// backup, then a change: per row the exit code, the JSON answer and the
// Prometheus file, both parsed. Ages are made by dating the backup's report
// back, never by waiting.
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <sstream>

#include "tests/system/system_host.h"

namespace ark::systest {

namespace {

namespace fs = std::filesystem;

struct HealthRow {
  std::string name;
  int exitCode;
  std::string result;    // of the last backup
  std::string verdict;   // of the newest snapshot
  std::string problem;   // a problem named ("" : none)
  std::map<std::string, std::string> metrics;  // Prometheus samples expected
};

class HealthTest : public ::testing::TestWithParam<HealthRow> {};

// "name{labels} value" lines, by name and labels.
std::map<std::string, std::string> Samples(const std::string& text) {
  std::map<std::string, std::string> samples;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::size_t blank = line.rfind(' ');
    if (line.empty() || line[0] == '#' || blank == std::string::npos) continue;
    samples[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return samples;
}

void Change(SystemHost& host, const std::string& row) {
  if (row == "old_backup") {
    const auto twoDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const auto& report : fs::directory_iterator(host.root() + "/Reports/Backup"))
      fs::last_write_time(report.path(), twoDaysAgo);
  } else if (row == "broken_snapshot") {
    for (const auto& ledger : fs::directory_iterator(host.ServerLedger()))
      if (ledger.is_directory()) fs::remove(ledger.path() / "disabled_databases");
  } else if (row == "failed_backup") {
    host.SetFailOn("create");
    EXPECT_EQ(host.Backup().exitCode, 1);
  }
}

TEST_P(HealthTest, JudgesTheLastBackupAndTheNewestSnapshot) {
  const HealthRow& row = GetParam();
  SystemHost host;
  Shape shape;
  shape.databases = 3, shape.sizeMib = "1";
  ASSERT_TRUE(host.Install(shape));
  ASSERT_TRUE(Ok(host.Backup()));
  Change(host, row.name);

  const std::string prom = host.root() + "/ark.prom";
  const Result run = host.Ctl({"--json", "health", "--prometheus", prom});
  ASSERT_EQ(run.exitCode, row.exitCode) << run.out;
  const std::size_t json = run.out.find("{\"healthy\"");
  ASSERT_NE(json, std::string::npos) << run.out;
  const nlohmann::json answer = nlohmann::json::parse(run.out.substr(json, run.out.find('\n', json) - json));
  EXPECT_EQ(answer["healthy"], row.exitCode == 0);
  EXPECT_EQ(answer["maxAgeSeconds"], 26 * 3600);
  ASSERT_EQ(answer["servers"].size(), 1u) << run.out;
  const nlohmann::json& srv1 = answer["servers"][0];
  EXPECT_EQ(srv1["server"], "srv1/Org");
  EXPECT_EQ(srv1["lastBackup"]["result"], row.result);
  EXPECT_EQ(srv1["snapshots"], 1);
  EXPECT_EQ(srv1["newestRestorable"], row.verdict);
  EXPECT_EQ(srv1["ledgerDrive"], "L:");
  EXPECT_GT(srv1["ledgerFreeMiB"].get<std::uint64_t>(), 0u);
  const std::string problems = srv1["problems"].dump();
  EXPECT_TRUE(row.problem.empty() ? srv1["problems"].empty() : problems.find(row.problem) != std::string::npos)
      << problems;

  const std::map<std::string, std::string> samples = Samples(ReadHostFile(prom));
  for (const auto& [sample, value] : row.metrics) {
    ASSERT_EQ(samples.count(sample), 1u) << sample << "\n" << ReadHostFile(prom);
    EXPECT_EQ(samples.at(sample), value) << sample;
  }
  EXPECT_GT(std::stoll(samples.at("ark_ledger_free_bytes{server=\"srv1/Org\",drive=\"L:\"}")), 0);
  EXPECT_FALSE(fs::exists(prom + ".ark-writing"));
  if (row.name == "old_backup") {
    EXPECT_GE(std::stoll(samples.at("ark_backup_age_seconds{server=\"srv1/Org\"}")), 48 * 3600);
  }
}

const char kOk[] = "ark_health_ok";
const char kHealthy[] = "ark_server_healthy{server=\"srv1/Org\"}";
const char kSuccess[] = "ark_backup_last_success{server=\"srv1/Org\"}";
const char kRestorable[] = "ark_snapshot_newest_restorable{server=\"srv1/Org\"}";

INSTANTIATE_TEST_SUITE_P(
    Hosts, HealthTest,
    ::testing::Values(
        HealthRow{"fresh_backup", 0, "completed", "up to the minute", "",
                  {{kOk, "1"}, {kHealthy, "1"}, {kSuccess, "1"}, {kRestorable, "1"}, {"ark_snapshots{server=\"srv1/Org\"}", "1"}}},
        HealthRow{"old_backup", 1, "completed", "up to the minute", "old, more than 1d 2h",
                  {{kOk, "0"}, {kHealthy, "0"}, {kSuccess, "1"}, {kRestorable, "1"}}},
        HealthRow{"broken_snapshot", 1, "completed", "NOT restorable", "the newest snapshot is NOT restorable",
                  {{kOk, "0"}, {kHealthy, "0"}, {kRestorable, "0"}}},
        HealthRow{"failed_backup", 1, "failed", "up to the minute", "the last backup failed: Could not create snapshot",
                  {{kOk, "0"}, {kSuccess, "0"}}}),
    [](const auto& info) { return info.param.name; });

TEST(HealthUsage, RefusesAnUnknownServerAndABadDuration) {
  SystemHost host;
  Shape shape;
  shape.databases = 1, shape.sizeMib = "1";
  ASSERT_TRUE(host.Install(shape));
  const Result unknown = host.Ctl({"health", "srv9"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Says(unknown.out, {"no Domino server named srv9", "srv1/Org"}));
  const Result duration = host.Ctl({"health", "--max-age", "26x"});
  EXPECT_EQ(duration.exitCode, 2);
  EXPECT_TRUE(Says(duration.out, {"--max-age takes a duration"}));
}

}  // namespace

}  // namespace ark::systest
