// The store facade: initialisation, openers, typed values, handlers,
// clean-up, migration and shutdown.
#include "cask/cask_facade.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <regex>

#include "child_process.h"
#include "log.h"
#include "memory_file.h"

namespace {

using cask::facade::Cask;
using cask::facade::Data;
using cask::testing::ChildProcess;

class FacadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = cask::testing::makeTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    base_ = dir_ + "/base";
    group_ = dir_ + "/group";
    // setCaskBasePath allows one more initialisation: every test starts from
    // its own folders even when the tests share a process.
    Cask::setCaskBasePath(base_);
    Cask::initializeCask(base_, group_, std::getenv("CASK_TEST_LOG") ? cask::CaskLogInfo : cask::CaskLogError);
  }
  void TearDown() override { Cask::unregiserHandler(); }

  std::string dir_;
  std::string base_;
  std::string group_;
};

TEST_F(FacadeTest, EveryOpenerFormFindsItsStore) {
  const Data key{'k', 'e', 'y'};
  auto plain = Cask::caskWithID("opener");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain, Cask::caskWithID("opener", key));  // cached: the first key stays
  EXPECT_EQ(plain, Cask::caskWithID("opener", cask::CaskSingleProcess));
  EXPECT_EQ(plain, Cask::caskWithID("opener", base_));  // the base path is the default root
  EXPECT_FALSE(plain->cryptKey().has_value());

  auto shared = Cask::caskWithID("opener", key, cask::CaskMultiProcess);
  ASSERT_NE(shared, nullptr);
  EXPECT_NE(shared, plain);
  EXPECT_EQ(shared, Cask::caskWithID("opener", cask::CaskMultiProcess));
  EXPECT_EQ(shared->cryptKey(), key);
  EXPECT_TRUE(shared->setInt32(7, "v"));
  EXPECT_TRUE(cask::isFileExist(group_ + "/cask/opener"));

  const std::string custom = dir_ + "/custom";
  auto rooted = Cask::caskWithID("opener", key, custom);
  ASSERT_NE(rooted, nullptr);
  EXPECT_EQ(rooted, Cask::caskWithID("opener", custom));
  EXPECT_EQ(rooted, Cask::caskWithID("opener", Data(), custom, cask::CaskSingleProcess));
  EXPECT_TRUE(cask::isFileExist(custom + "/opener"));

  auto byDefault = Cask::defaultCask();
  ASSERT_NE(byDefault, nullptr);
  EXPECT_EQ(byDefault->mmapID(), "cask.default");
  EXPECT_EQ(byDefault, Cask::defaultCaskWithCryptKey(key));
  EXPECT_EQ(Cask::caskWithID(""), nullptr);
  for (auto* store : {plain.get(), shared.get(), rooted.get(), byDefault.get()}) store->close();
}

TEST_F(FacadeTest, InstanceKeyIsTheIdOrTheHashOfItsPlace) {
  EXPECT_EQ(Cask::mmapKeyWithMMapID("id", ""), "id");
  EXPECT_EQ(Cask::mmapKeyWithMMapID("id", Cask::caskBasePath()), "id");
  const std::string key = Cask::mmapKeyWithMMapID("id", "/somewhere/else");
  EXPECT_TRUE(std::regex_match(key, std::regex("[0-9a-f]{32}"))) << key;
  EXPECT_EQ(key, cask::md5Hex("/somewhere/else/id"));
}

// args: base: a process that never set a group folder.
CASK_CHILD_ROLE(noGroup) {
  Cask::initializeCask(args.at(0), cask::CaskLogNone);
  auto store = Cask::caskWithID("nogroup", cask::CaskMultiProcess);
  return store && store->setBool(true, "b") && cask::isFileExist(args.at(0) + "/nogroup") ? 0 : 1;
}

TEST_F(FacadeTest, MultiProcessStoreWithoutGroupFolderOpensUnderTheBase) {
  auto child = ChildProcess::spawn("noGroup", {dir_ + "/alone"});
  const int status = child.wait();
  EXPECT_TRUE(cask::testing::exitedCleanly(status)) << cask::testing::describeStatus(status);
}

TEST_F(FacadeTest, TypedValuesRoundTripWithTheirDefaults) {
  auto store = Cask::caskWithID("typed");
  ASSERT_NE(store, nullptr);
  EXPECT_TRUE(store->setBool(true, "bool"));
  EXPECT_TRUE(store->setInt32(-1, "int32"));
  EXPECT_TRUE(store->setUInt32(4000000000u, "uint32"));
  EXPECT_TRUE(store->setInt64(-5000000000, "int64"));
  EXPECT_TRUE(store->setUInt64(UINT64_MAX, "uint64"));
  EXPECT_TRUE(store->setFloat(1.5f, "float"));
  EXPECT_TRUE(store->setDouble(2.25, "double"));
  EXPECT_TRUE(store->setString("文字", "string"));
  EXPECT_TRUE(store->setDate(1700000000.5, "date"));
  EXPECT_TRUE(store->setData(Data{0, 1, 2}, "data"));
  EXPECT_FALSE(store->setInt32(1, ""));

  EXPECT_TRUE(store->getBool("bool"));
  EXPECT_EQ(store->getInt32("int32"), -1);
  EXPECT_EQ(store->getValueSizeForKey("int32", false), 10u);  // sign-extended varint
  EXPECT_EQ(store->getUInt32("uint32"), 4000000000u);
  EXPECT_EQ(store->getInt64("int64"), -5000000000);
  EXPECT_EQ(store->getUInt64("uint64"), UINT64_MAX);
  EXPECT_EQ(store->getFloat("float"), 1.5f);
  EXPECT_EQ(store->getDouble("double"), 2.25);
  EXPECT_EQ(store->getString("string"), "文字");
  EXPECT_EQ(store->getDate("date"), 1700000000.5);
  EXPECT_EQ(store->getData("data"), (Data{0, 1, 2}));
  EXPECT_EQ(store->getObjectOfClass<cask::facade::Date>("date")->timeIntervalSince1970, 1700000000.5);

  bool has = true;
  EXPECT_EQ(store->getInt64("missing", 9, &has), 9);
  EXPECT_FALSE(has);
  has = true;
  EXPECT_EQ(store->getString("missing", "fallback", &has), "fallback");
  EXPECT_FALSE(has);
  has = true;
  EXPECT_EQ(store->getString("", "fallback", &has), "fallback");
  EXPECT_TRUE(has);  // an empty key leaves it alone
  has = true;
  EXPECT_EQ(store->getString("string", "fallback", &has), "文字");
  EXPECT_TRUE(has);
  EXPECT_EQ(store->getString("missing"), std::nullopt);

  std::vector<uint8_t> buffer(8);
  EXPECT_EQ(store->writeValueForKey("string", buffer), 6);
  EXPECT_EQ(std::memcmp(buffer.data(), "文字", 6), 0);
  EXPECT_EQ(store->writeValueForKey("string", std::span<uint8_t>(buffer).first(2)), -1);

  EXPECT_TRUE(store->setString(std::nullopt, "string"));
  EXPECT_TRUE(store->setData(std::nullopt, "data"));
  EXPECT_FALSE(store->containsKey("string"));
  EXPECT_FALSE(store->containsKey("data"));
  EXPECT_EQ(store->count(), 8u);
  store->close();
}

struct Point final : cask::facade::Archivable {
  int32_t x = 0;
  int32_t y = 0;
  Point() = default;
  Point(int32_t px, int32_t py) : x(px), y(py) {}
  Data archive() const override {
    Data bytes(8);
    std::memcpy(bytes.data(), &x, 4);
    std::memcpy(bytes.data() + 4, &y, 4);
    return bytes;
  }
  static std::optional<Point> unarchive(std::span<const uint8_t> bytes) {
    if (bytes.size() != 8) throw std::runtime_error("not a point");
    Point p;
    std::memcpy(&p.x, bytes.data(), 4);
    std::memcpy(&p.y, bytes.data() + 4, 4);
    return p;
  }
};

struct Throwing final : cask::facade::Archivable {
  explicit Throwing(bool standard) : standard_(standard) {}
  Data archive() const override {
    if (standard_) throw std::runtime_error("cannot archive");
    throw 7;
  }
  bool standard_;
};

TEST_F(FacadeTest, ArchivedObjectsRoundTripAndBadArchivesGiveNothing) {
  auto store = Cask::caskWithID("objects");
  const Point point(3, -4);
  EXPECT_TRUE(store->setObject(&point, "point"));
  const auto back = store->getObjectOfClass<Point>("point");
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->x, 3);
  EXPECT_EQ(back->y, -4);

  ASSERT_TRUE(store->setString("not a point", "text"));
  EXPECT_EQ(store->getObjectOfClass<Point>("text"), std::nullopt);
  EXPECT_TRUE(store->setObject(nullptr, "point"));
  EXPECT_FALSE(store->containsKey("point"));
  // An archive that throws, whatever it throws, stores nothing.
  for (const bool standard : {true, false}) {
    const Throwing thrower(standard);
    EXPECT_FALSE(store->setObject(&thrower, "thrown")) << standard;
    EXPECT_FALSE(store->containsKey("thrown"));
  }
  store->close();
}

TEST_F(FacadeTest, MigrationStoresEveryKnownTypeAndCountsIt) {
  auto store = Cask::caskWithID("migrated");
  const cask::facade::UserDefaults defaults{
      {"s", std::string("text")}, {"d", Data{9}},        {"t", cask::facade::Date{12.5}},
      {"b", true},                {"i", int32_t{-3}},    {"l", int64_t{1} << 40},
      {"f", 0.5f},                {"g", 0.25},           {"o", std::make_shared<const Point>(1, 2)},
      {"x", std::monostate{}},
  };
  EXPECT_EQ(store->migrateFromUserDefaults(defaults), 9u);
  EXPECT_EQ(store->migrateFromUserDefaults({}), 0u);
  EXPECT_EQ(store->getString("s"), "text");
  EXPECT_EQ(store->getData("d"), Data{9});
  EXPECT_EQ(store->getDate("t"), 12.5);
  EXPECT_TRUE(store->getBool("b"));
  EXPECT_EQ(store->getInt32("i"), -3);
  EXPECT_EQ(store->getInt64("l"), int64_t{1} << 40);
  EXPECT_EQ(store->getFloat("f"), 0.5f);
  EXPECT_EQ(store->getDouble("g"), 0.25);
  EXPECT_EQ(store->getObjectOfClass<Point>("o")->y, 2);
  EXPECT_FALSE(store->containsKey("x"));
  store->close();
}

TEST_F(FacadeTest, SecondInitialisationKeepsOpenStores) {
  auto store = Cask::caskWithID("kept");
  ASSERT_TRUE(store->setInt32(1, "v"));
  // Ignored: already initialised.
  EXPECT_EQ(Cask::initializeCask(dir_ + "/ignored"), base_);

  const std::string other = dir_ + "/other";
  Cask::setCaskBasePath(other);
  EXPECT_EQ(Cask::initializeCask(other, group_, cask::CaskLogError), other);
  // The store opened before is still cached under its old place and works.
  EXPECT_EQ(Cask::caskWithID("kept", base_), store);
  EXPECT_TRUE(store->setInt32(2, "v"));
  EXPECT_EQ(store->getInt32("v"), 2);
  store->close();
}

TEST_F(FacadeTest, ReopeningWhileAClosedObjectIsHeldSharesIt) {
  auto first = Cask::caskWithID("reopen");
  ASSERT_TRUE(first->setInt32(1, "v"));
  first->close();
  auto second = Cask::caskWithID("reopen");
  EXPECT_EQ(second, first);  // one owner per core store
  second.reset();
  first->close();
  first.reset();  // the last holder closes the store
  auto third = Cask::caskWithID("reopen");
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->getInt32("v"), 1);
  third->close();
}

TEST_F(FacadeTest, AutoCleanUpClosesOnlyStoresNobodyHolds) {
  auto held = Cask::caskWithID("held");
  std::weak_ptr<Cask> dropped = Cask::caskWithID("dropped");
  ASSERT_FALSE(dropped.expired());
  Cask::enableAutoCleanUp(0);  // zero minutes: everything is idle
  Cask::tryAutoCleanUpInstances();
  EXPECT_TRUE(dropped.expired());
  // Held while the clean-up ran, it stays cached when let go.
  const std::weak_ptr<Cask> watched = held;
  held.reset();
  ASSERT_FALSE(watched.expired());
  held = watched.lock();
  EXPECT_EQ(Cask::caskWithID("held"), held);
  Cask::disableAutoCleanUp();
  held->close();
}

std::mutex g_logMutex;
std::vector<std::string> g_logged;

TEST_F(FacadeTest, HandlersReceiveLogLinesUntilUnregistered) {
  cask::facade::CaskHandler handler;
  handler.caskLogWithLevel = [](cask::CaskLogLevel, const char*, int, const char*, const std::string& message) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logged.push_back(message);
  };
  Cask::registerHandler(handler);
  Cask::setLogLevel(cask::CaskLogInfo);
  auto store = Cask::caskWithID("logged");
  store->close();
  store.reset();
  {
    std::lock_guard<std::mutex> lock(g_logMutex);
    EXPECT_NE(std::find(g_logged.begin(), g_logged.end(), "closing logged"), g_logged.end());
    g_logged.clear();
  }
  Cask::unregiserHandler();
  Cask::caskWithID("logged")->close();
  Cask::setLogLevel(cask::CaskLogError);
  std::lock_guard<std::mutex> lock(g_logMutex);
  EXPECT_TRUE(g_logged.empty());
}

// What `body` writes to stderr.
std::string stderrOf(const std::string& path, const std::function<void()>& body) {
  std::fflush(stderr);
  const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int saved = ::dup(2);
  ::dup2(file, 2);
  ::close(file);
  body();
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Without a log handler, lines go to stderr marked with their level; a
// handler that takes no log lines leaves them there.
TEST_F(FacadeTest, LogLinesWithoutALogHandlerGoToStderrWithTheirLevel) {
  struct Row {
    cask::CaskLogLevel level;
    const char* line;
  };
  const Row rows[] = {
      {cask::CaskLogDebug, "[D] <f.cpp:7::fn> x\n"}, {cask::CaskLogInfo, "[I] <f.cpp:7::fn> x\n"},
      {cask::CaskLogWarning, "[W] <f.cpp:7::fn> x\n"}, {cask::CaskLogError, "[E] <f.cpp:7::fn> x\n"},
      {cask::CaskLogNone, "[N] <f.cpp:7::fn> x\n"},
  };
  cask::facade::CaskHandler contentOnly;
  contentOnly.onCaskContentChange = [](const std::string&) {};
  Cask::setLogLevel(cask::CaskLogDebug);
  for (const bool otherHandler : {false, true}) {
    if (otherHandler) Cask::registerHandler(contentOnly);
    for (const Row& row : rows) {
      EXPECT_EQ(stderrOf(dir_ + "/stderr",
                         [&] { cask::detail::logMessage(row.level, "f.cpp", "fn", 7, "%s", "x"); }),
                row.line)
          << otherHandler;
    }
  }
  Cask::setLogLevel(cask::CaskLogError);
}

TEST_F(FacadeTest, ErrorHandlerDecidesAboutDamagedContent) {
  for (const auto strategic : {cask::CaskOnErrorDiscard, cask::CaskOnErrorRecover}) {
    const std::string id = strategic == cask::CaskOnErrorRecover ? "recovered" : "discarded";
    auto store = Cask::caskWithID(id);
    ASSERT_TRUE(store->setString("value", "a"));
    store->close();
    store.reset();
    // Damage the meta CRC: the content no longer matches it.
    const std::string meta = base_ + "/" + id + ".crc";
    std::vector<uint8_t> bytes = cask::readWholeFile(meta);
    bytes[0] ^= 0xff;
    bytes[32] ^= 0xff;  // and the last confirmed size, so no fallback applies
    FILE* file = std::fopen(meta.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);

    cask::facade::CaskHandler handler;
    handler.onCaskCRCCheckFail = [strategic](const std::string&) { return strategic; };
    Cask::registerHandler(handler);
    store = Cask::caskWithID(id);
    EXPECT_EQ(store->getString("a").has_value(), strategic == cask::CaskOnErrorRecover);
    store->close();
  }
}

// args: base: stores a value, terminates, then checks what still answers.
CASK_CHILD_ROLE(terminate) {
  Cask::setCaskBasePath(args.at(0));
  Cask::initializeCask(args.at(0), cask::CaskLogNone);
  auto store = Cask::caskWithID("terminated");
  if (!store || !store->setInt32(42, "v")) return 1;
  Cask::onAppTerminate();
  if (store->setInt32(1, "w") || store->getInt32("v", -1) != -1) return 2;
  if (Cask::caskWithID("terminated") != nullptr) return 3;
  return 0;
}

TEST_F(FacadeTest, TerminationSyncsAndDisablesEveryStore) {
  auto child = ChildProcess::spawn("terminate", {base_});
  const int status = child.wait();
  ASSERT_TRUE(cask::testing::exitedCleanly(status)) << cask::testing::describeStatus(status);
  auto store = Cask::caskWithID("terminated");
  EXPECT_EQ(store->getInt32("v"), 42);
  store->close();
}

}  // namespace
