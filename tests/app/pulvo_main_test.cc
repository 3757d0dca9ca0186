#include "pulvo_main.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "commands.h"
#include "tesk_version.h"
#include "test_util.h"

namespace {

std::vector<std::string> Tokens(std::string text, const std::vector<const char*>& delimiters) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  char* cursor = buffer.data();
  std::vector<std::string> tokens;
  for (const char* d : delimiters) {
    char* token = NextToken(cursor, d);
    tokens.push_back(token != nullptr ? token : "<none>");
  }
  return tokens;
}

TEST(NextTokenTest, FollowsTheStrtokRule) {
  EXPECT_EQ(Tokens("::send:td=1", {":", ":"}), (std::vector<std::string>{"send", "td=1"}));
  EXPECT_EQ(Tokens("a=1=2,b=3", {"=", ",", "=", ","}),
            (std::vector<std::string>{"a", "1=2", "b", "3"}));
  EXPECT_EQ(Tokens("td==20", {"=", ","}), (std::vector<std::string>{"td", "=20"}));
  EXPECT_EQ(Tokens("td=20,,lp=5", {"=", ",", "=", ","}),
            (std::vector<std::string>{"td", "20", ",lp", "5"}));
  EXPECT_EQ(Tokens(":::", {":"}), (std::vector<std::string>{"<none>"}));
  EXPECT_EQ(Tokens("", {":"}), (std::vector<std::string>{"<none>"}));
}

TEST(ParseCommandParametersTest, StoresPairsAndNamesUnknownOnes) {
  SendCmdParams params;
  char text[] = "foo=1,td=20,testduration=30,td=25,lp";
  testing::internal::CaptureStderr();
  PulvoMain().ParseCommandParameters(&params, text);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid send parameter [foo]\n");
  EXPECT_EQ(params.Text("testduration"), "25");
  EXPECT_EQ(params.Text("localport"), "49999");  // the trailing name has no value
}

TEST(ParseCommandParametersTest, ValuesMayHoldEqualsAndNamesCommas) {
  ReceiveCmdParams params;
  char text[] = "ws==20,,to=5";
  testing::internal::CaptureStderr();
  PulvoMain().ParseCommandParameters(&params, text);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid recv parameter [,to]\n");
  EXPECT_EQ(params.Text("windowsize"), "=20");
  EXPECT_EQ(params.Text("timeout"), "30");
}

// The newer commands refuse what send and recv note or reinterpret: an
// unknown name, a name without a value, a number that is not whole.
TEST(ParseCommandParametersTest, TheNewerCommandsRefuseWhatTheyCannotRead) {
  const struct {
    const char* command;
    const char* text;
    std::string error;  // empty: accepted
  } cases[] = {
      {"call", "ra=::1,td=20,dscp=0", ""},
      {"call", "remoteadr=1.2.3.4", "call has no parameter [remoteadr]; pulvo help call lists them"},
      {"call", "td=20,ra", "call parameter [ra] has no value"},
      {"call", "td=2.9", "testduration 2.9 is not a whole number from 2 to 86400"},
      {"call", "tid=-1", "testid -1 is not a whole number from 0 to 2000000000"},
      {"reflect", "rt=-5", "rate -5 is not a whole number from 0 to 1000000"},
      {"reflect", "du=", "reflect parameter [du] has no value"},
      {"reflect", "du=99999999999999999999", "duration 99999999999999999999 is not a whole number from 0 to 2000000"},
      {"analyze", "st=1e3", "stream 1e3 is not a whole number from 0 to 2000000000"},
      {"analyze", "po=70000", "port 70000 is out of its range 0 - 65535"},
      // Checked in the order of the descriptors.
      {"analyze", "to=99,ws=99", "windowsize 99 is out of its range 2 - 20"},
      {"call", "ws=21,to=61", "timeout 61 is out of its range 1 - 60"},
      {"probe", "du=5s", "duration 5s is not a whole number from 0 to 2000000"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<CmdParamSetBase> params = FindCommand(c.command)->makeParams();
    std::vector<char> text(c.text, c.text + std::strlen(c.text) + 1);
    std::vector<std::string> refused;
    PulvoMain().ParseCommandParameters(params.get(), text.data(), &refused);
    const std::string error = refused.empty() ? params->FirstValueOutOfRange() : refused.front();
    EXPECT_EQ(error, c.error) << c.command << ":" << c.text;
  }
}

// The help is written from the descriptors: a row for each, once, in their
// order; no two parameters of a command answer to the same name.
TEST(CommandTableTest, TheHelpListsEveryDescriptorOnce) {
  for (const Command& command : Commands()) {
    EXPECT_EQ(&command.params, &ParamDescriptors(command.name));
    const std::vector<std::string> lines = Lines(CommandHelp(command));
    ASSERT_EQ(lines.size(), command.params.size() + 1) << command.name;
    std::set<std::string> names;
    for (size_t i = 0; i < command.params.size(); ++i) {
      const ParamDescriptor& p = command.params[i];
      EXPECT_EQ(lines[i + 1].rfind(std::string("  ") + p.longName + " ", 0), 0u) << lines[i + 1];
      EXPECT_TRUE(names.insert(p.longName).second) << command.name << " " << p.longName;
      if (std::string(p.shortName) != p.longName) {
        EXPECT_TRUE(names.insert(p.shortName).second) << command.name << " " << p.shortName;
      }
    }
  }
  EXPECT_EQ(FindCommand("help"), nullptr);
  EXPECT_EQ(IgnoredOptionLines(*FindCommand("probe"), kEModel | kOneWayDelay),
            (std::vector<std::string>{
                "pulvo: probe ignores --emodel: only recv, analyze and call take it",
                "pulvo: probe ignores --one-way-delay: only recv and analyze take it"}));
  EXPECT_TRUE(IgnoredOptionLines(*FindCommand("recv"), kEModel | kJsonLines).empty());
}

TEST(UsageTextTest, HasItsFixedRowsAndColumns) {
  std::vector<std::string> lines = Lines(UsageText());
  ASSERT_EQ(lines.size(), 59u);
  EXPECT_EQ(lines[0], "Pulvo Command Tool - MOS Library version " TESK_VERSION);
  EXPECT_EQ(lines[10],
            "  testid         | tid (1)        Test Id                                       "
            "range limit: 0 - 2000000000");
  EXPECT_EQ(lines[18], "  codec          | co (G711)      Stream codec. Possible values: G711, GSM0610");
  EXPECT_EQ(lines[19],
            "  fec            | fe (none)      Stream fec.   Possible values: none, gsmpiggyback1, "
            "gsmpiggyback2, gsmpiggyback3");
  EXPECT_EQ(lines[22], lines[10]);
  EXPECT_EQ(lines[25],
            "  timeout        | to (3)         Receive timeout value in seconds.             "
            "range limit: 1 - 60");
  EXPECT_EQ(lines[53], "Examples: ");
  EXPECT_EQ(lines[56],
            "pulvo recv:la=198.51.100.3,lp=50000,timeout=3,ws=10,sampleinterval=5,dj=120 -t -v");
  EXPECT_EQ(lines[57], "");
  EXPECT_EQ(lines[58], "");
  // Rows 10-19 are send's, 22-28 recv's; a number's range, n/a for an
  // address, none for a codec or FEC name.
  const char* const kRanges[] = {"0 - 2000000000", "n/a", "10000 - 65535", "n/a",
                                 "10000 - 65535", "10 - 600", "1 - 10", "20 - 30", "", "",
                                 "0 - 2000000000", "n/a", "10000 - 65535", "1 - 60", "2 - 20",
                                 "1 - 10", "10 - 200"};
  const char* const* range = kRanges;
  for (int row = 10; row < 29; ++row) {
    if (row == 20 || row == 21) continue;
    EXPECT_EQ(lines[row].substr(17, 2), "| ") << row;
    const size_t at = lines[row].find("range limit: ");
    EXPECT_EQ(at == std::string::npos ? "" : lines[row].substr(at + 13), *range++) << row;
    if (at != std::string::npos) {
      EXPECT_EQ(at, 80u) << row;
    }
  }
}

TEST(NormalizeErrorCodeTest, MakesLibraryResultsPositive) {
  PulvoMain m;
  EXPECT_EQ(m.normalizeErrorCode(-4), 4);
  EXPECT_EQ(m.normalizeErrorCode(0), 0);
  EXPECT_EQ(m.normalizeErrorCode(3), 3);
}

}  // namespace
