// Who holds and who waits for the write lock of each database, so that a session can wait for a
// lock as Sybase's sessions do and a cycle of waits can be broken. SQLite holds the real locks
// (one writer per database file); this table only mirrors them for the waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace sampleserver {

class LockTable {
 public:
  using Clock = std::chrono::steady_clock;

  // The databases whose write lock `spid` holds now (empty when it holds none); waiters wake
  // when one is released.
  void Hold(int spid, const std::set<std::string>& databases);

  // Grows with every release. Read before trying a lock and passed to Wait, so that a release
  // in between is not slept through.
  uint64_t Releases() const;

  enum class WaitResult { Woken, Deadlock };
  // Records that `spid` waits for the lock of `database` (empty: of a database it cannot name,
  // so for every other holder) and sleeps until a release after `seen`, or until `until`; the
  // record goes when it wakes. Deadlock: this wait closes a cycle of waits; `spid` does not
  // sleep and is the victim, so each cycle has exactly one.
  WaitResult Wait(int spid, const std::string& database, uint64_t seen, Clock::time_point until);
  // Queues `spid` for the lock of `database`; it keeps its place while it waits, until Unqueue.
  void Queue(int spid, const std::string& database);
  void Unqueue(int spid);
  // Whether `spid` may try the lock of `database` now: nobody queued for it goes first.
  // Sessions that hold locks go first, as others may be waiting for them (a deadlock otherwise
  // claims victim after victim), then sessions in order of arrival.
  bool MayTry(int spid, const std::string& database) const;
  // The session that holds the lock of `database`, 0 when none does.
  int Holder(const std::string& database) const;

 private:
  bool ClosesCycle(int spid) const;
  std::set<int> Blockers(int spid) const;

  mutable std::mutex mutex_;
  std::condition_variable released_;
  uint64_t releases_ = 0;
  std::map<std::string, int> holders_;                      // database -> spid
  std::map<int, std::set<std::string>> held_;               // spid -> databases
  std::map<int, std::string> waits_;                        // spid -> database waited for
  std::map<int, std::pair<std::string, uint64_t>> queued_;  // spid -> database, arrival
  uint64_t arrivals_ = 0;
};

}  // namespace sampleserver
