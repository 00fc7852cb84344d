#include <gtest/gtest.h>

#include "sim/commands.h"
#include "sim/sample_data.h"
#include "tests/sim/sim_fixture.h"

namespace trelvo::sim::testing {
namespace {

class TesterCommands : public SimTest {};
class TesterIdentity : public SimTest {};
class TesterOutput : public SimTest {};
class TesterResults : public SimTest {};

// --- Identification -----------------------------------------------------------------------

struct ModelCase {
    int model;
    const char* field_start;
};
void PrintTo(const ModelCase& c, std::ostream* out) {
    *out << "model " << c.model;
}

class TesterIdentityByModel : public SimTest, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(TesterIdentityByModel, SecondFieldBeginsWithTheModelDigits) {
    TesterConfig config;
    config.model = GetParam().model;
    start(config);
    pc_.send("\n*IDN?\n");
    std::string reply = pc_.read_for(100);
    ASSERT_EQ(reply, identity_for_model(GetParam().model) + "\r\n");
    EXPECT_EQ(model_code(reply), GetParam().model);
    EXPECT_EQ(reply.substr(reply.find(',') + 1, 7), GetParam().field_start);
}

INSTANTIATE_TEST_SUITE_P(BothModels, TesterIdentityByModel,
                         ::testing::Values(ModelCase{71, "71 KV71"}, ModelCase{72, "72 KV72"}));

TEST_F(TesterIdentity, IdnOptionIsTheWholeReply) {
    TesterConfig config;
    config.idn = "ACME,99 Box,1,2";
    start(config);
    pc_.send("\n*IDN?\n");
    EXPECT_EQ(pc_.read_line(), "ACME,99 Box,1,2");
}

TEST_F(TesterIdentity, IdnUnknownGivesAModelCodeThatIsNoKnownModel) {
    TesterConfig config;
    config.faults.add(Fault::IdnUnknown);
    start(config);
    pc_.send("\n*IDN?\n");
    std::optional<std::string> reply = pc_.read_line();
    ASSERT_TRUE(reply);
    std::optional<int> code = model_code(*reply);
    ASSERT_TRUE(code);
    EXPECT_NE(*code, 71);
    EXPECT_NE(*code, 72);
}

TEST_F(TesterIdentity, IdnTimeoutLeavesTheQueryUnansweredButOtherCommandsWork) {
    TesterConfig config;
    config.faults.add(Fault::IdnTimeout);
    start(config);
    pc_.send("\n*IDN?\n");
    EXPECT_EQ(pc_.read_for(2500), "");  // the PC waits 2 s for the answer
    pc_.send("SYSTem:DIRectory:TESTresult:STATe?\n");
    EXPECT_EQ(pc_.read_line(), "3,997");
    EXPECT_EQ(pc_.read_for(SILENT_IDENTITY_START_MS + 500), "");
}

// After an unanswered identification and a silence the tester asks for a firmware image by
// itself (the PC sends no update command then); a command that comes instead still counts.
TEST_F(TesterIdentity, IdnTimeoutAsksForFirmwareAfterTheSilenceYetTakesACommand) {
    TesterConfig config;
    config.faults.add(Fault::IdnTimeout);
    start(config);
    pc_.send("\n*IDN?\n");
    EXPECT_EQ(pc_.read_for(SILENT_IDENTITY_START_MS - 100), "");
    EXPECT_EQ(pc_.read_for(200), "C");
    EXPECT_EQ(tester().mode(), TesterMode::Receiving);
    pc_.send("SYSTem:DIRectory:TESTresult:STATe?\n");
    EXPECT_EQ(pc_.read_line(), "3,997");
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
    EXPECT_TRUE(tester().transfers().empty());
}

TEST_F(TesterIdentity, BytesThatComeWhileACommandLineIsParsedAreLost) {
    TesterConfig config;
    config.parse_ms = 30;
    start(config);
    // The empty line before the query is no command: the query right after it counts.
    pc_.send("\n*IDN?\n*IDN?\n");
    EXPECT_TRUE(pc_.read_line());
    EXPECT_EQ(pc_.read_for(100), "");
    EXPECT_EQ(tester().lost_bytes(), 6u);
    pc_.send("*IDN?\n");
    EXPECT_TRUE(pc_.read_line());
    EXPECT_EQ(tester().lost_bytes(), 6u);
}

// --- Result count and clearing ------------------------------------------------------------

struct CountCase {
    const char* name;
    std::optional<std::string> results;
    bool no_results;
    const char* reply;
};
void PrintTo(const CountCase& c, std::ostream* out) {
    *out << c.name;
}

class TesterResultCount : public SimTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(TesterResultCount, ReplyIsCountCommaFree) {
    TesterConfig config;
    config.results = GetParam().results;
    if (GetParam().no_results) config.faults.add(Fault::NoResults);
    start(config);
    pc_.send("SYSTem:DIRectory:TESTresult:STATe?\n");
    EXPECT_EQ(pc_.read_line(), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, TesterResultCount,
    ::testing::Values(CountCase{"BuiltInSample", std::nullopt, false, "3,997"},
                      CountCase{"NoResultsFault", std::nullopt, true, "0,1000"},
                      CountCase{"TwoBlocks", "A01;1\r\nA02;x\r\nA01;2\nA15;0,5\n", false, "2,998"},
                      CountCase{"A01NotAtLineStart", "A02;A01;1\r\n", false, "0,1000"},
                      CountCase{"Empty", "", false, "0,1000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TesterResults, ClearingTheResultsLeavesNoneToCountOrSend) {
    start();
    EXPECT_FALSE(tester().results_cleared());
    pc_.send("SYSTem:CLEAR:TESTresult ALL\n");
    pc_.send("SYSTem:DIRectory:TESTresult:STATe?\n");
    EXPECT_EQ(pc_.read_line(), "0,1000");
    EXPECT_TRUE(tester().results_cleared());
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\n");
    Reception reception = pc_.receive_file();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.info.size, 0u);
    EXPECT_EQ(reception.data, "");
}

// --- Command syntax -----------------------------------------------------------------------

struct KeywordCase {
    const char* word;
    const char* pattern;
    bool matches;
};
void PrintTo(const KeywordCase& c, std::ostream* out) {
    *out << c.word << " as " << c.pattern;
}

class CommandKeywordForms : public ::testing::TestWithParam<KeywordCase> {};

TEST_P(CommandKeywordForms, ShortOrLongFormInAnyCase) {
    EXPECT_EQ(keyword_matches(GetParam().word, GetParam().pattern), GetParam().matches)
        << GetParam().word << " / " << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandKeywordForms,
    ::testing::Values(KeywordCase{"SYST", "SYSTem", true}, KeywordCase{"system", "SYSTem", true},
                      KeywordCase{"SysTem", "SYSTem", true}, KeywordCase{"SYS", "SYSTem", false},
                      KeywordCase{"SYSTE", "SYSTem", false},
                      KeywordCase{"SYSTEMS", "SYSTem", false},
                      KeywordCase{"DOWN", "DOWNload", true}, KeywordCase{"CLEAR", "CLEar", true},
                      KeywordCase{"CLE", "CLEar", true}, KeywordCase{"TEST", "TESTresult", true},
                      KeywordCase{"*idn", "*IDN", true}, KeywordCase{"", "SYSTem", false}));

struct LineCase {
    const char* line;
    std::vector<CommandKind> kinds;
    uint32_t number;
};
void PrintTo(const LineCase& c, std::ostream* out) {
    *out << '"' << c.line << '"';
}

class CommandLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(CommandLines, AreRecognisedWithTheirParameter) {
    std::vector<Command> commands = parse_command_line(GetParam().line);
    std::vector<CommandKind> kinds;
    for (const Command& command : commands)
        kinds.push_back(command.kind);
    EXPECT_EQ(kinds, GetParam().kinds) << GetParam().line;
    if (!commands.empty()) {
        EXPECT_EQ(commands.front().number, GetParam().number);
    }
}

using K = CommandKind;
INSTANTIATE_TEST_SUITE_P(
    Table, CommandLines,
    ::testing::Values(LineCase{"*IDN?", {K::Identify}, 0}, LineCase{"*idn?", {K::Identify}, 0},
                      LineCase{"*IDN", {K::Unknown}, 0},
                      LineCase{"SYSTem:STATe:UPLoad:UPDate", {K::ReceiveFirmware}, 0},
                      LineCase{"SYSTem:STATe:UPLoad:SECTor", {K::ReceiveMobileList}, 0},
                      LineCase{"SYSTem:STATe:UPLoad:AUTotest 7", {K::ReceiveAutotest}, 7},
                      LineCase{"SYSTem:STATe:UPLoad:AUTotest", {K::Unknown}, 0},
                      LineCase{"SYSTem:STATe:DOWNload:SECTor", {K::SendMobileList}, 0},
                      LineCase{"SYSTem:STATe:DOWN:TEST ALL_1", {K::SendResults}, 0},
                      LineCase{"SYSTem:STATe:DOWN:TEST ALL_2", {K::Unknown}, 0},
                      LineCase{"SYSTem:DIRectory:TESTresult:STATe?", {K::ResultStatus}, 0},
                      LineCase{"SYSTem:DIRectory:TESTresult:STATe", {K::Unknown}, 0},
                      LineCase{"SYSTem:CLEAR:TESTresult ALL", {K::ClearResults}, 0},
                      LineCase{"SYSTem:DIRectory:AUTotest? 21", {K::AutotestDirectory}, 21},
                      LineCase{"SYSTem:CLEar:AUTotest 3;*idn?", {K::ClearAutotest, K::Identify}, 3},
                      LineCase{":SYST:COMM:LOCAL", {K::Local}, 0}, LineCase{"  ;  ", {}, 0},
                      LineCase{"SYST:COMM:LOCAL:NOW", {K::Unknown}, 0}));

TEST_F(TesterCommands, CarriageReturnsAndEmptyLinesAroundACommandAreIgnored) {
    start();
    pc_.send("\r\n\n*IDN?\r\n");
    EXPECT_EQ(pc_.read_line(), identity_for_model(72));
    EXPECT_EQ(tester().commands(), std::vector<std::string>{"*IDN?"});
}

TEST_F(TesterCommands, UnknownCommandsAreCountedAndUnanswered) {
    start();
    pc_.send("SYSTem:FOO?\nMEAS:POW?\n");
    EXPECT_EQ(pc_.read_for(500), "");
    EXPECT_EQ(tester().unknown_commands(), 2);
}

TEST_F(TesterCommands, ReturnsToLocalAndRecordsEveryCommandInOrder) {
    start();
    pc_.send("\n*IDN?\n");
    ASSERT_TRUE(pc_.read_line());
    EXPECT_TRUE(tester().remote());
    pc_.send("\nSYST:COMM:LOCAL\n");
    pc_.read_for(10);
    EXPECT_FALSE(tester().remote());
    EXPECT_EQ(tester().local_count(), 1);
    EXPECT_EQ(tester().commands(), (std::vector<std::string>{"*IDN?", "SYST:COMM:LOCAL"}));
}

TEST_F(TesterCommands, AnOverlongLineIsDroppedWhole) {
    start();
    pc_.send(std::string(MAX_COMMAND_LINE + 10, 'X') + "*IDN?\n*IDN?\n");
    EXPECT_EQ(pc_.read_line(), identity_for_model(72));
    EXPECT_EQ(pc_.read_for(100), "");
}

TEST_F(TesterOutput, XoffFromThePcHoldsTheReplyUntilXon) {
    start();
    pc_.send("\x13\n*IDN?\n");
    EXPECT_EQ(pc_.read_for(500), "");
    pc_.send("\x11");
    EXPECT_EQ(pc_.read_line(), identity_for_model(72));
}

// --- Output pacing and trace --------------------------------------------------------------

TEST_F(TesterOutput, BaudOptionPacesRequestsAndRepliesToTenBitsAByte) {
    TesterConfig config;
    config.baud = 9600;  // 1.04 ms a byte
    start(config);
    const std::string request = "\n*IDN?\n";
    const std::string expected = identity_for_model(72) + "\r\n";
    uint32_t sent = clock_.now_ms();
    pc_.send(request);
    ASSERT_TRUE(pc_.read_line());
    uint32_t took = clock_.now_ms() - sent;
    // The request takes its wire time to come in, the reply its own to go out.
    uint32_t wire = static_cast<uint32_t>((request.size() + expected.size()) * 10'000 / 9600);
    EXPECT_GE(took, wire);
    EXPECT_LE(took, wire + 3);
}

TEST_F(TesterOutput, TraceRecordsBytesInAndOutWithTheirTimes) {
    start();
    std::vector<std::tuple<TraceDirection, uint32_t, std::string>> seen;
    tester().set_trace(
        [&seen](TraceDirection direction, uint32_t ms, std::span<const uint8_t> bytes) {
            seen.emplace_back(direction, ms, std::string(bytes.begin(), bytes.end()));
        });
    clock_.advance(250);
    pc_.send("\n*IDN?\n");
    ASSERT_TRUE(pc_.read_line());
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(std::get<0>(seen[0]), TraceDirection::In);
    EXPECT_EQ(std::get<2>(seen[0]), "\n*IDN?\n");
    EXPECT_EQ(std::get<0>(seen[1]), TraceDirection::Out);
    EXPECT_EQ(std::get<2>(seen[1]), identity_for_model(72) + "\r\n");
    EXPECT_GE(std::get<1>(seen[0]), 1250u);
}

TEST(TraceFormat, ShowsSecondsDirectionHexAndText) {
    const uint8_t bytes[] = {0x0A, '*', 'I', 'D', 'N', '?', 0x0A};
    EXPECT_EQ(format_trace(TraceDirection::In, 1250, bytes),
              "     1.250 in  0a 2a 49 44 4e 3f 0a" + std::string(9 * 3, ' ') + "  |.*IDN?.|\n");
    std::vector<uint8_t> long_run(20, 0x41);
    std::string text = format_trace(TraceDirection::Out, 5, long_run);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.substr(0, 14), "     0.005 out");
    // Read back: each direction's bytes, whole across lines, the text column ignored.
    std::string in = format_trace(TraceDirection::In, 7, bytes);
    EXPECT_EQ(traced_bytes(in + text + in, TraceDirection::In), "\n*IDN?\n\n*IDN?\n");
    EXPECT_EQ(traced_bytes(in + text, TraceDirection::Out), std::string(20, 'A'));
}

}  // namespace
}  // namespace trelvo::sim::testing
