// The composition rule of chained catalogue texts, with the real catalogue and with test tables
// that reach the limits the real one never does.
#include "ui/message_chain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "resources/catalogue.h"

namespace {

using Table = std::map<unsigned, std::string>;

int LoadFromTable(unsigned id, char* piece, int capacity, void* context) {
  const Table& table = *static_cast<const Table*>(context);
  auto found = table.find(id);
  if (found == table.end() || found->second.empty()) return 0;
  std::string text = found->second.substr(0, capacity - 1);
  std::memcpy(piece, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size());
}

const Table kCatalogue = {
    {1039, MSG_TEXT_1039}, {1040, MSG_TEXT_1040}, {1041, MSG_TEXT_1041}, {1042, MSG_TEXT_1042},
    {1044, MSG_TEXT_1044}, {1045, MSG_TEXT_1045}, {1046, MSG_TEXT_1046}, {1047, MSG_TEXT_1047},
    {1048, MSG_TEXT_1048}, {1052, MSG_TEXT_1052},
};

struct Composed {
  ChainOutcome outcome;
  std::string text;
};

Composed Compose(const Table& table, unsigned id) {
  char result[kComposedChars + 1];
  ChainOutcome outcome = ComposeChain(id, LoadFromTable, const_cast<Table*>(&table), result);
  return {outcome, result};
}

TEST(MessageChain, ChainsOfTheCatalogue) {
  Composed shellExtension = Compose(kCatalogue, 1039);
  EXPECT_EQ(shellExtension.outcome.status, ChainStatus::kComplete);
  EXPECT_EQ(shellExtension.text.size(), 402u);
  EXPECT_EQ(shellExtension.text.rfind("Setup can not close", 0), 0u);
  EXPECT_EQ(shellExtension.text.find('!'), std::string::npos);
  EXPECT_EQ(shellExtension.text.substr(shellExtension.text.size() - 18), "version of Kestra.");

  EXPECT_EQ(Compose(kCatalogue, 1046).text[0], '\n');
  EXPECT_EQ(Compose(kCatalogue, 1052).text, MSG_TEXT_1052);
  EXPECT_EQ(Compose(kCatalogue, 1044).text, std::string(MSG_TEXT_1044 + 1) + MSG_TEXT_1045);
}

TEST(MessageChain, MissingTexts) {
  Composed missing = Compose(kCatalogue, 1043);
  EXPECT_EQ(missing.outcome.status, ChainStatus::kNotFound);
  EXPECT_EQ(missing.outcome.failedId, 1043u);
  EXPECT_EQ(missing.text, "");

  Table brokenChain = {{10, "!first "}, {11, "!second "}};
  Composed cut = Compose(brokenChain, 10);
  EXPECT_EQ(cut.outcome.status, ChainStatus::kNotFound);
  EXPECT_EQ(cut.outcome.failedId, 12u);
  EXPECT_EQ(cut.text, "first second ");
}

TEST(MessageChain, TheFiveHundredTwelveCharacterLimit) {
  // 300 + 212 = 512 exactly: accepted. One more character on either side: refused.
  std::string head = "!" + std::string(300, 'a');
  struct Case {
    std::string tail;
    ChainStatus status;
    std::string text;
  } cases[] = {
      {std::string(212, 'b'), ChainStatus::kComplete,
       std::string(300, 'a') + std::string(212, 'b')},
      {std::string(213, 'b'), ChainStatus::kTooLong, std::string(300, 'a')},
      // A continuation counts its "!": 300 + "!" + 212 is refused although 300 + 212 fit.
      {"!" + std::string(212, 'b'), ChainStatus::kTooLong, std::string(300, 'a')},
  };
  for (const Case& c : cases) {
    Table table = {{20, head}, {21, c.tail}, {22, "end"}};
    Composed composed = Compose(table, 20);
    EXPECT_EQ(composed.outcome.status, c.status) << c.tail.size();
    EXPECT_EQ(composed.text, c.text);
    if (c.status == ChainStatus::kTooLong) {
      EXPECT_EQ(composed.outcome.failedId, 21u);
    }
  }
  Table single = {{30, std::string(512, 'x')}, {31, std::string(513, 'y')}};
  EXPECT_EQ(Compose(single, 30).outcome.status, ChainStatus::kComplete);
  EXPECT_EQ(Compose(single, 31).outcome.status, ChainStatus::kTooLong);
}

}  // namespace
