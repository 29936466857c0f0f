// Properties of the text operations that single script cases cannot show:
// every byte string comes back from scrambling, and sorting keeps the input
// order of items that compare equal.
#include "data/text_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/text.h"

namespace olvex::test {
namespace {

TEST(TextOps, EveryByteStringComesBackFromEachScrambler) {
  std::mt19937 random(7);
  auto bytes = [&](std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
  };
  std::map<std::string, std::string, std::less<>> variables;
  for (const char* method : {"ASCII", "Bit", "XOR"}) {
    for (std::size_t key_length = 1; key_length <= 300; key_length += key_length < 16 ? 1 : 37) {
      SCOPED_TRACE(std::string(method) + " key " + std::to_string(key_length));
      TextStep step;
      step.options = method;
      step.action = "Encrypt Text";
      step.text = bytes(key_length == 1 ? 1 : 1 + random() % 65536);
      step.value1 = bytes(key_length);
      const TextOutcome scrambled = RunTextOperation(step);
      ASSERT_EQ(scrambled.result, 1);
      ASSERT_EQ(scrambled.output.size(), step.text.size());
      // XOR unscrambles the stored variable the text names.
      variables["secret"] = scrambled.output;
      TextStep back = step;
      back.action = "Decrypt Text";
      back.text = scrambled.output;
      back.raw_text = "%secret";
      back.read_variable = [&](std::string_view name) -> std::optional<std::string> {
        auto it = variables.find(name);
        return it == variables.end() ? std::nullopt : std::optional<std::string>(it->second);
      };
      const TextOutcome plain = RunTextOperation(back);
      ASSERT_EQ(plain.result, 1);
      EXPECT_TRUE(plain.output == step.text);
    }
    TextStep empty;
    empty.action = "Encrypt Text";
    empty.options = method;
    empty.value1 = "key";
    EXPECT_EQ(RunTextOperation(empty).result, 0);
  }
}

TEST(TextOps, SortKeepsTheInputOrderOfEqualItems) {
  std::mt19937 random(11);
  const std::string letters = "aAbB_";
  for (const char* options : {"", "Descending", "Len Short", "Len Long"}) {
    SCOPED_TRACE(options);
    std::vector<std::string> items;
    std::string data;
    for (int i = 0; i < 400; ++i) {
      std::string item;
      for (std::size_t n = 1 + random() % 3; n > 0; --n) item += letters[random() % letters.size()];
      items.push_back(item);
      data += item + "\n";
    }
    TextStep step;
    step.action = "Sort";
    step.options = options;
    step.text = data;
    step.value1 = "\n";
    const TextOutcome sorted = RunTextOperation(step);
    std::vector<std::string> out;
    for (std::size_t at = 0; at < sorted.output.size();) {
      const std::size_t end = sorted.output.find('\n', at);
      out.push_back(sorted.output.substr(at, end - at));
      at = end + 1;
    }
    // The reference: a stable sort by the same key, ignoring case.
    const std::string_view o = options;
    const bool by_length = o.starts_with("Len"), descending = o == "Descending" || o == "Len Long";
    auto key = [&](std::string s) {
      std::transform(s.begin(), s.end(), s.begin(), AsciiLower);
      return std::make_pair(by_length ? s.size() : 0, s);
    };
    std::stable_sort(items.begin(), items.end(), [&](const std::string& a, const std::string& b) {
      return descending ? key(a) > key(b) : key(a) < key(b);
    });
    EXPECT_EQ(out, items);
  }
}

}  // namespace
}  // namespace olvex::test
