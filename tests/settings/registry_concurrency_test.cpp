// Several processes sharing the registry: two writers and a reader at once,
// and a writer killed at a random moment. The workers are this program run
// again with a filter that selects one of the disabled RegistryWorker tests;
// OLVEX_TEST_WORKER_KEY names the key they work in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "platform/environment.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "tests/settings/store_sandbox.h"

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace olvex::test {
namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
namespace regtype = platform::regtype;

constexpr RegistryRoot kHKCU = RegistryRoot::kCurrentUser;
constexpr int kWritesPerWriter = 5000;
constexpr char kKeyVariable[] = "OLVEX_TEST_WORKER_KEY";

std::uint32_t Fnv(std::string_view s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

// A value that checks itself: "<writer>:<seq>:<filler>:<checksum>".
std::string Payload(char writer, int seq) {
  std::size_t length = 10 + static_cast<std::size_t>((seq * 7919) % 3000);
  std::string body = std::string(1, writer) + ":" + std::to_string(seq) + ":";
  for (std::size_t i = 0; i < length; ++i) body += static_cast<char>('a' + (seq + static_cast<int>(i)) % 26);
  char sum[16];
  std::snprintf(sum, sizeof sum, ":%08x", Fnv(body));
  return body + sum;
}

bool Valid(const std::string& value) {
  if (value.size() < 10) return false;
  std::string body = value.substr(0, value.size() - 9);
  char sum[16];
  std::snprintf(sum, sizeof sum, ":%08x", Fnv(body));
  if (value.substr(value.size() - 9) != sum) return false;
  int seq = std::atoi(value.c_str() + 2);
  return value == Payload(value[0], seq);
}

std::string NameFor(char writer, int seq) {
  // Every fourth write goes to a name both writers use.
  return seq % 4 == 0 ? "shared" + std::to_string(seq / 4 % 400) : std::string(1, writer) + std::to_string(seq);
}

std::string WorkerKey() { return platform::ReadEnv(kKeyVariable).value_or(""); }

void Write(char writer) {
  std::string key = WorkerKey();
  ASSERT_FALSE(key.empty());
  for (int seq = 0; seq < kWritesPerWriter; ++seq)
    ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key, NameFor(writer, seq), regtype::kBinary, Payload(writer, seq)),
              RegistryStatus::kOk)
        << seq;
  // Tells the reader this writer is through.
  ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key, std::string("done") + writer, regtype::kSz, "1"), RegistryStatus::kOk);
}

TEST(RegistryWorker, DISABLED_WriterA) { Write('A'); }
TEST(RegistryWorker, DISABLED_WriterB) { Write('B'); }

TEST(RegistryWorker, DISABLED_Reader) {
  std::string key = WorkerKey();
  ASSERT_FALSE(key.empty());
  std::mt19937 random(42);
  long reads = 0, found = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < deadline) {
    // A pause between reads, so that the writers get their share of the machine
    // (under Wine every call goes through the one wineserver).
#ifdef _WIN32
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
#else
    std::this_thread::sleep_for(std::chrono::microseconds(100));
#endif
    platform::RegistryData v;
    if (platform::ReadRegistryValue(kHKCU, key, "doneA", nullptr) == RegistryStatus::kOk &&
        platform::ReadRegistryValue(kHKCU, key, "doneB", nullptr) == RegistryStatus::kOk)
      break;
    char writer = random() % 2 ? 'A' : 'B';
    int seq = static_cast<int>(random() % kWritesPerWriter);
    RegistryStatus s = platform::ReadRegistryValue(kHKCU, key, NameFor(writer, seq), &v);
    ++reads;
    if (s == RegistryStatus::kNotFound) continue;
    ASSERT_EQ(s, RegistryStatus::kOk) << NameFor(writer, seq);
    ASSERT_TRUE(Valid(v.data)) << NameFor(writer, seq) << ": " << v.data.substr(0, 40);
    ++found;
  }
  std::printf("reads=%ld found=%ld\n", reads, found);
  EXPECT_GT(found, 0);
}

// Writes until it is killed: large values, so that a kill often lands mid-write.
TEST(RegistryWorker, DISABLED_Endless) {
  std::string key = WorkerKey();
  ASSERT_FALSE(key.empty());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int seq = 0; std::chrono::steady_clock::now() < deadline; ++seq) {
    std::string big = Payload('E', seq) + std::string(static_cast<std::size_t>(seq % 7) * 40000, 'Z');
    platform::WriteRegistryValue(kHKCU, key, "churn" + std::to_string(seq % 20), regtype::kBinary, big);
    platform::WriteRegistryValue(kHKCU, key + "\\Sub" + std::to_string(seq % 5), "x", regtype::kSz, "y");
    if (seq % 10 == 9) platform::DeleteRegistryKey(kHKCU, key + "\\Sub" + std::to_string(seq % 5));
  }
}

// Changes what the other side read: rewrites a value, deletes one, adds one.
void ChangeWhatTheOtherRead() {
  std::string key = WorkerKey();
  ASSERT_FALSE(key.empty());
  ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key, "rewritten", regtype::kSz, "new"), RegistryStatus::kOk);
  ASSERT_EQ(platform::DeleteRegistryValue(kHKCU, key, "deleted"), RegistryStatus::kOk);
  ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key, "added", regtype::kSz, "new"), RegistryStatus::kOk);
  ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key, "written back", regtype::kSz, "new"), RegistryStatus::kOk);
}

TEST(RegistryWorker, DISABLED_ChangeWhatTheOtherRead) { ChangeWhatTheOtherRead(); }

#ifndef _WIN32
// Transactions of many pages each (a large value, a key tree rewritten and
// deleted) back to back; "ready" on standard output once the first is through.
TEST(RegistryWorker, DISABLED_Transactions) {
  std::string key = WorkerKey();
  ASSERT_FALSE(key.empty());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int seq = 0; std::chrono::steady_clock::now() < deadline; ++seq) {
    platform::WriteRegistryValue(kHKCU, key, "big", regtype::kBinary, Payload('T', seq) + std::string(200000, 'T'));
    for (int i = 0; i < 20; ++i)
      platform::WriteRegistryValue(kHKCU, key + "\\Tree\\K" + std::to_string(i), "v", regtype::kSz, Payload('T', i));
    platform::DeleteRegistryKey(kHKCU, key + "\\Tree");
    if (seq == 0) {
      std::printf("ready\n");
      std::fflush(stdout);
    }
  }
}
#endif

ChildResult RunWorker(const std::string& test, std::chrono::milliseconds timeout) {
  return RunChild({platform::ModulePath(), "--gtest_filter=RegistryWorker.DISABLED_" + test,
                   "--gtest_also_run_disabled_tests"},
                  timeout);
}

class RegistryConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = "SOFTWARE\\" + box_.key() + "\\Shared";
    platform::WriteEnv(kKeyVariable, key_);
  }
  void TearDown() override { platform::RemoveEnv(kKeyVariable); }
  std::optional<std::string> Value(const std::string& name) const { return StoredData(key_, name); }
  // Values "keep0"... that no worker touches.
  void WriteKept(int count) const {
    for (int i = 0; i < count; ++i) {
      const std::string name = "keep" + std::to_string(i);
      ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key_, name, regtype::kBinary, Payload('K', i)), RegistryStatus::kOk);
    }
  }
  std::optional<std::string> Kept(int i) const { return Value("keep" + std::to_string(i)); }
  StoreSandbox box_;
  std::string key_;
};

TEST_F(RegistryConcurrency, TwoWritersAndAReaderSeeNoTornValue) {
  ChildResult a, b, reader;
  std::thread reading([&] { reader = RunWorker("Reader", std::chrono::seconds(180)); });
  std::thread writing_a([&] { a = RunWorker("WriterA", std::chrono::seconds(180)); });
  std::thread writing_b([&] { b = RunWorker("WriterB", std::chrono::seconds(180)); });
  // Each child may hold the others' output pipes, so nobody waits on one
  // child before all are done: the reader stops when both writers are through.
  writing_a.join();
  writing_b.join();
  reading.join();
  EXPECT_EQ(a.exit_code, 0) << a.out << a.err;
  EXPECT_EQ(b.exit_code, 0) << b.out << b.err;
  EXPECT_EQ(reader.exit_code, 0) << reader.out << reader.err;
  EXPECT_NE(reader.out.find("reads="), std::string::npos) << reader.out;

  // Afterwards: every value whole, each writer's own names hold its last write.
  std::vector<std::string> names;
  ASSERT_EQ(platform::ListRegistryValues(kHKCU, key_, &names), RegistryStatus::kOk);
  EXPECT_EQ(names.size(), 2u + 400u + 2u * (kWritesPerWriter - kWritesPerWriter / 4));
  for (const auto& name : names) {
    if (name.rfind("done", 0) == 0) continue;
    const std::optional<std::string> v = Value(name);
    ASSERT_TRUE(v && Valid(*v)) << name;
    if (name[0] == 'A' || name[0] == 'B') {
      EXPECT_EQ(v, Payload(name[0], std::atoi(name.c_str() + 1))) << name;
    }
  }
}

TEST_F(RegistryConcurrency, AWriterKilledMidwayHarmsNoOtherValue) {
  WriteKept(200);
  std::mt19937 random(std::random_device{}());
#ifdef _WIN32
  int base_ms = 1500;  // a Wine process takes a while to start
#else
  int base_ms = 300;
#endif
  // Three kills at random moments; more (and later ones) when a slow start
  // kept the writer from writing anything yet.
  for (int round = 0; round < 8; ++round) {
    auto timeout = std::chrono::milliseconds(base_ms + static_cast<int>(random() % 500));
    ChildResult killed = RunWorker("Endless", timeout);
    EXPECT_TRUE(killed.timed_out) << killed.out << killed.err;
    bool wrote = platform::CountRegistrySubkeys(kHKCU, key_).value_or(0) > 0;
    if (round >= 2 && wrote) break;
    if (!wrote) base_ms *= 2;
  }
  std::vector<std::string> names;
  ASSERT_EQ(platform::ListRegistryValues(kHKCU, key_, &names), RegistryStatus::kOk);
  int churn = 0;
  for (const auto& name : names) {
    const std::optional<std::string> v = Value(name);
    ASSERT_TRUE(v) << name;
    if (name.rfind("churn", 0) == 0) {
      ++churn;
      EXPECT_TRUE(Valid(v->substr(0, v->find('Z')))) << name;
    }
  }
  EXPECT_GT(churn, 0) << "the writer never got to write";
  for (int i = 0; i < 200; ++i) EXPECT_EQ(Kept(i), Payload('K', i));
  // The store still takes writes, sub-keys included.
  EXPECT_EQ(platform::WriteRegistryValue(kHKCU, key_ + "\\Sub1", "after", regtype::kSz, "ok"), RegistryStatus::kOk);
}

// A process keeps the values it read; what another process (or another
// thread, with a connection of its own) changes afterwards is read anew.
TEST_F(RegistryConcurrency, ValuesChangedElsewhereAreReadAnew) {
  auto read = [&](const char* name) {
    platform::RegistryData v;
    const RegistryStatus status = platform::ReadRegistryValue(kHKCU, key_, name, &v);
    if (status != RegistryStatus::kOk) return std::string(status == RegistryStatus::kNotFound ? "(none)" : "(failed)");
    if (!v.data.empty() && v.data.back() == '\0') v.data.pop_back();  // the Windows registry keeps a text's end
    return v.data;
  };
  for (const bool other_process : {true, false}) {
    SCOPED_TRACE(other_process ? "another process" : "another thread");
    ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key_, "rewritten", regtype::kSz, "old"), RegistryStatus::kOk);
    ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key_, "deleted", regtype::kSz, "old"), RegistryStatus::kOk);
    ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key_, "written back", regtype::kSz, "old"), RegistryStatus::kOk);
    platform::DeleteRegistryValue(kHKCU, key_, "added");
    for (int twice = 0; twice < 2; ++twice) {
      EXPECT_EQ(read("written back"), "old");
      EXPECT_EQ(read("rewritten"), "old");
      EXPECT_EQ(read("deleted"), "old");
      EXPECT_EQ(read("added"), "(none)");
    }
    const std::optional<platform::RegistryNamesMark> mark = platform::CurrentRegistryNamesMark();
    if (other_process) {
      const ChildResult child = RunWorker("ChangeWhatTheOtherRead", std::chrono::seconds(60));
      ASSERT_EQ(child.exit_code, 0) << child.out << child.err;
    } else {
      std::thread(ChangeWhatTheOtherRead).join();
    }
    // This side kept "old", the store holds "new" now: writing "old" again is no idle write.
    ASSERT_EQ(platform::WriteRegistryValue(kHKCU, key_, "written back", regtype::kSz, "old"), RegistryStatus::kOk);
    EXPECT_EQ(read("written back"), "old");
    EXPECT_EQ(read("rewritten"), "new");
    EXPECT_EQ(read("deleted"), "(none)");
    EXPECT_EQ(read("added"), "new");
    if (mark) {
      EXPECT_NE(platform::CurrentRegistryNamesMark(), mark);
    }
  }
}

#ifndef _WIN32
// Starts the Transactions worker, kills it at a random moment after its first
// transaction, and waits for it.
void KillWorkerMidway(std::mt19937& random) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const std::string self = platform::ModulePath();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    ::execl(self.c_str(), self.c_str(), "--gtest_filter=RegistryWorker.DISABLED_Transactions",
            "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string seen;
  char buf[256];
  pollfd p{out[0], POLLIN, 0};
  while (seen.find("ready") == std::string::npos && ::poll(&p, 1, 20000) > 0) {
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(out[0]);
  EXPECT_NE(seen.find("ready"), std::string::npos) << seen;
}

std::string IntegrityOf(const std::string& file) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
  }
  sqlite3_close_v2(db);
  return result;
}

TEST_F(RegistryConcurrency, WritersKilledMidTransactionLeaveTheDatabaseWhole) {
  WriteKept(50);
  const std::string db = box_.dir().File("registry") + "/registry.db";
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 200; ++round) {
    KillWorkerMidway(random);
    ASSERT_EQ(IntegrityOf(db), "ok") << "round " << round;
    ASSERT_EQ(Kept(round % 50), Payload('K', round % 50));
    // The large value is the old one or the new one, whole.
    if (const std::optional<std::string> big = Value("big")) {
      ASSERT_TRUE(Valid(big->substr(0, big->find('T', 1)))) << round;
    }
  }
}
#endif

}  // namespace
}  // namespace olvex::test
