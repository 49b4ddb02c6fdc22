#include <string>

#include "dominosim/install.h"

namespace dominosim {

std::vector<PlannedDatabase> PlanDatabases(int count, int unlogged) {
  // A server's usual set first, then mail files and applications in
  // nested folders; the last `unlogged` of those are scratch databases
  // without transaction logging.
  static const PlannedDatabase kBase[] = {
      {"names.nsf", true, "Directory"},     {"log.nsf", true, "Server Log"},
      {"mail.box", true, "Mail Router"},    {"mail.ntf", true, "Mail Template"},
      {"apps\\discussion.ntf", true, "Discussion Template"},
  };
  std::vector<PlannedDatabase> out;
  for (int i = 0; i < count && i < int(std::size(kBase)); ++i) out.push_back(kBase[i]);
  int extra = count - int(out.size());
  for (int k = 0; k < extra; ++k) {
    bool scratch = k >= extra - unlogged;
    int n = k / 3 + 1;
    PlannedDatabase db;
    if (scratch) {
      db.relativePath = "apps\\scratch\\tmp" + std::to_string(k + 1) + ".nsf";
      db.logged = false;
      db.title = "Scratch " + std::to_string(k + 1);
    } else if (k % 3 == 0) {
      db.relativePath = "mail\\user" + std::to_string(n) + ".nsf";
      db.title = "Mail of user " + std::to_string(n);
    } else if (k % 3 == 1) {
      db.relativePath = "apps\\app" + std::to_string(n) + ".nsf";
      db.title = "Application " + std::to_string(n);
    } else {
      db.relativePath = "apps\\archive\\" + std::to_string(2000 + n) + "\\old" + std::to_string(n) + ".nsf";
      db.title = "Archive " + std::to_string(n);
    }
    out.push_back(db);
  }
  return out;
}

}  // namespace dominosim
