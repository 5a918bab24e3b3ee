#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "json/json_reader.h"
#include "json/json_value.h"
#include "json_test_text.h"

namespace {

struct Case {
  std::string input;
  std::string members;  // the root afterwards, as Text() writes it
};

TEST(JsonReaderDialect, ReadsEveryCorner) {
  const Case cases[] = {
      {"t:\"12:30\",auto:1", R"("auto":"1","t":"12:30")"},
      {"a:{b:1}", R"("a":{"b":"1"})"},
      {"a:1,", R"("":"","a":"1")"},
      {"a:1", R"("a":"1")"},
      {"a:1,a:2", R"("a":"2")"},
      {"a:[x,y]", R"("a":["x":"","y":""])"},
      {"a:[],b:{}", R"("a":[],"b":{})"},
      {"a:[,]", R"("a":["":"","":""])"},
      {"a:[k:1,k:2]", R"("a":["k":"1","k":"2"])"},
      {"a:'x,y'", R"("a":"x,y")"},
      {"a:\"x,y\"", R"("a":"x,y")"},
      {"a:x\\,y", R"("a":"x,y")"},
      {"a:'it\"s',b:\"it's\"", R"("a":"it\"s","b":"it's")"},
      {"a:\"q\\\"q\\\\\"", R"("a":"q\"q\\")"},
      {"a:\\n", R"("a":"n")"},
      {"'k 1':v", R"("k 1":"v")"},
      {"a: b", R"("a":" b")"},
      {" \t a:1", R"("a":"1")"},
      {"a :b", R"("a ":"b")"},
      {"a:x\ny,b:1", R"("a":"x","b":"1")"},
      {"a:x\r\ny,\r\nb:1\r\n", R"("a":"x","b":"1")"},
      {"a:x\n'y',b:1", R"("a":"xy","b":"1")"},
      {"a:\"x\r\ny\"", "\"a\":\"x\r\ny\""},
      {"a:x\\\ny", "\"a\":\"x\ny\""},
      {"a:\xe4\xb8\xad\xff", "\"a\":\"\xe4\xb8\xad\xff\""},
      {std::string("a:x\0y,b:\0", 9), std::string("\"a\":\"x\0y\",\"b\":\"\0\"", 17)},
      {"a:x{b:1}", R"("a":{"xb":"1"})"},
      {"a:{b:1}zz,c:2", R"("a":{"b":"1"},"zzc":"2")"},
      {"a:{b:1}zz", R"("a":{"b":"1"})"},
      {"paths:[\n\"\":[\"x.dll\":{\"l\":\"9\",\"v\":\"1\"}],\n]",
       R"("paths":["":["x.dll":{"l":"9","v":"1"}],"":""])"},
      {" \r\n\t\n", ""},
  };
  for (const Case& c : cases) {
    JsonObject root;
    int line = -1;
    EXPECT_TRUE(root.parse(c.input, false, &line)) << c.input;
    EXPECT_EQ(line, -1) << "success leaves the position alone";
    EXPECT_EQ(Text(root), c.members) << c.input;
  }
}

TEST(JsonReaderDialect, ArrayRootReadsTheSameMembersAndKeepsDuplicates) {
  JsonArray root;
  EXPECT_TRUE(root.parse("x,y:1,y:{z:2}", false));
  EXPECT_EQ(Text(root), R"("x":"","y":"1","y":{"z":"2"})");
  EXPECT_FALSE(root.parse("a:1}", false)) << "an array root closes with ']' only";
}

struct Failure {
  std::string input;
  int line;
  int column;
  std::string kept;  // the root afterwards
  size_t stoppedAt;  // the byte the reader stopped at; the text's size when it ended too soon
};

TEST(JsonReaderFailure, ReportsPositionAndKeepsCompletedMembers) {
  const Failure failures[] = {
      {"", 1, 0, "", 0},
      {"t:12:30,auto:1", 1, 5, "", 4},
      {"{a:1}", 1, 1, "", 0},
      {"[a]", 1, 1, "", 0},
      {"a:x\nb:1", 2, 2, "", 5},
      {"a:1,\nb:x:y", 2, 4, R"("a":"1")", 8},
      {"a:1,\r\nb:x:y", 2, 4, R"("a":"1")", 9},
      {"a:\"x\ny\",b:x:y", 1, 12, "\"a\":\"x\ny\"", 11},
      {"a:1}", 1, 4, R"("a":"1")", 3},
      {"a:1]", 1, 4, R"("a":"1")", 3},
      {"a:[1}", 1, 5, "", 4},
      {"a:{b:1}\"", 1, 8, R"("a":{"b":"1"})", 7},
      {"a:{b:1}\\", 1, 8, R"("a":{"b":"1"})", 7},
      {"a:{b:1}:", 1, 8, R"("a":{"b":"1"})", 7},
      {"a:b{", 1, 4, "", 4},
      {"a:1,b:{c:1,d:[e:2", 1, 17, R"("a":"1")", 17},
      {"a:1,b:\"x", 1, 8, R"("a":"1")", 8},
      {"a:1\n,b:x\\", 2, 5, R"("a":"1")", 9},
  };
  for (const Failure& f : failures) {
    JsonObject root;
    root.add("old", std::make_unique<JsonString>("gone"));
    int line = -1;
    int column = -1;
    size_t stoppedAt = 99;
    EXPECT_FALSE(root.parse(f.input, false, &line, &column, &stoppedAt)) << f.input;
    EXPECT_EQ(stoppedAt, f.stoppedAt) << f.input;
    EXPECT_EQ(line, f.line) << f.input;
    EXPECT_EQ(column, f.column) << f.input;
    EXPECT_EQ(Text(root), f.kept) << f.input;
  }
}

TEST(JsonReaderMerge, JoinsExistingMembers) {
  JsonObject root;
  ASSERT_TRUE(root.parse("a:1,b:2", false));
  ASSERT_TRUE(root.parse("a:3,c:4", true));
  EXPECT_EQ(Text(root), R"("a":"3","b":"2","c":"4")");
  // A blank text adds nothing, even to a root that already has members.
  ASSERT_TRUE(root.parse(" \n", true));
  EXPECT_EQ(Text(root), R"("a":"3","b":"2","c":"4")");
  ASSERT_TRUE(root.parse("d:5", false));
  EXPECT_EQ(Text(root), R"("d":"5")");

  JsonArray list;
  ASSERT_TRUE(list.parse("a:1", false));
  ASSERT_TRUE(list.parse("a:2", true));
  EXPECT_EQ(Text(list), R"("a":"1","a":"2")");
}

TEST(JsonReaderReuse, ParsesAfterAFailureThatLeftContainersOpen) {
  JsonReader* reader = JsonReaderRegistry::instance().current();
  EXPECT_EQ(reader, JsonReaderRegistry::instance().current());
  JsonObject root;
  EXPECT_FALSE(root.parse("a:{b:{c:[d:1,e:{", false));
  EXPECT_TRUE(root.parse("x:{y:1}", false));
  EXPECT_EQ(Text(root), R"("x":{"y":"1"})");
  EXPECT_FALSE(root.parse("a:1}", false)) << "the root itself was popped";
  EXPECT_TRUE(root.parse("z:2", false));
  EXPECT_EQ(Text(root), R"("z":"2")");
}

TEST(JsonReaderReuse, KeepsAtMostAHundredSpareNodes) {
  std::string deep;
  for (int i = 0; i < 300; ++i) {
    deep += "k:{";
  }
  deep += "v:1";
  deep.append(300, '}');
  JsonReader reader;
  JsonObject root;
  ASSERT_TRUE(reader.parse(root, deep, false, nullptr, nullptr));
  EXPECT_EQ(reader.spareKeyNodes(), 100u);
  EXPECT_EQ(reader.spareContainerNodes(), 100u);
}

TEST(JsonReaderReuse, DestroysAnyNestingDepthWithoutRecursing) {
  std::string deep;
  for (int i = 0; i < 300000; ++i) {
    deep += "a:[";
  }
  JsonObject root;
  EXPECT_FALSE(root.parse(deep, false)) << "left open: destroyed by the reader";
  deep.append(300000, ']');
  EXPECT_TRUE(root.parse(deep, false));
  root.clear();
}

// Each thread parses its own documents with its own reader, failures included.
TEST(JsonReaderThreads, ThreadsParseAtOnceAndLeaveNoReaderBehind) {
  JsonReaderRegistry& registry = JsonReaderRegistry::instance();
  registry.current();
  const size_t before = registry.readerCount();
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &good] {
      for (int i = 0; i < 300; ++i) {
        const std::string n = std::to_string(t * 1000 + i);
        JsonObject root;
        JsonObject broken;
        broken.parse("x:{y:[" + n, false);
        if (root.parse("n:" + n + ",list:[a:" + n + "],o:{b:'" + n + "'}", false) &&
            Text(root) ==
                "\"list\":[\"a\":\"" + n + "\"],\"n\":\"" + n + "\",\"o\":{\"b\":\"" + n + "\"}") {
          ++good[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(good, std::vector<int>(4, 300));
  EXPECT_EQ(registry.readerCount(), before);
}

TEST(JsonReaderThreads, ThreadsEndingOneAfterAnotherEachGetAReader) {
  // Ended threads' ids come back to new threads; each must still get a working reader.
  const size_t before = JsonReaderRegistry::instance().readerCount();
  for (int i = 0; i < 50; ++i) {
    bool ok = false;
    std::thread([&ok] {
      JsonObject root;
      ok = root.parse("a:1", false) && Text(root) == R"("a":"1")";
    }).join();
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(JsonReaderRegistry::instance().readerCount(), before);
}

}  // namespace
