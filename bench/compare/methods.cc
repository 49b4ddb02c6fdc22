#include "bench/compare/methods.h"

#include "bench/compare/timed_command.h"

namespace ark {

std::vector<ToolMethod> ToolMethods() {
  // Every backup and restore ends with sync -f of its target: a copy counts
  // once it is on disk, as a snapshot does (the snapshot component flushes).
  return {
      {"cp -a (cold copy)", "cp", "rm -rf {WORK}/copy", "cp -a {DATA} {WORK}/copy && sync -f {WORK}/copy",
       "rm -rf {WORK}/restore", "cp -a {WORK}/copy {WORK}/restore && sync -f {WORK}/restore"},
      {"tar", "tar", "rm -f {WORK}/data.tar",
       "tar -cf {WORK}/data.tar -C {PARENT} {NAME} && sync -f {WORK}/data.tar",
       "rm -rf {WORK}/restore && mkdir -p {WORK}/restore",
       "tar -xf {WORK}/data.tar -C {WORK}/restore && sync -f {WORK}/restore"},
      {"rsync", "rsync", "rm -rf {WORK}/copy", "rsync -a {DATA}/ {WORK}/copy/ && sync -f {WORK}/copy",
       "rm -rf {WORK}/restore", "rsync -a {WORK}/copy/ {WORK}/restore/ && sync -f {WORK}/restore"},
      {"restic", "restic",
       "rm -rf {WORK}/repo && RESTIC_PASSWORD=bench restic init -q --repo {WORK}/repo",
       "RESTIC_PASSWORD=bench restic backup -q --no-cache --repo {WORK}/repo {DATA} && sync -f {WORK}/repo",
       "rm -rf {WORK}/restore",
       "RESTIC_PASSWORD=bench restic restore -q --no-cache --repo {WORK}/repo latest --target {WORK}/restore"
       " && sync -f {WORK}/restore"},
      {"borgbackup", "borg",
       "rm -rf {WORK}/repo {WORK}/base && BORG_BASE_DIR={WORK}/base borg init -e none {WORK}/repo",
       "cd {PARENT} && BORG_BASE_DIR={WORK}/base borg create {WORK}/repo::data {NAME} && sync -f {WORK}/repo",
       "rm -rf {WORK}/restore && mkdir -p {WORK}/restore",
       "cd {WORK}/restore && BORG_BASE_DIR={WORK}/base borg extract {WORK}/repo::data && sync -f {WORK}/restore"},
  };
}

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string Expand(std::string command, const std::string& data, const std::string& work) {
  const std::size_t slash = data.find_last_of('/');
  ReplaceAll(command, "{DATA}", Quote(data));
  ReplaceAll(command, "{PARENT}", Quote(data.substr(0, slash)));
  ReplaceAll(command, "{NAME}", Quote(data.substr(slash + 1)));
  ReplaceAll(command, "{WORK}", Quote(work));
  return command;
}

}  // namespace ark
