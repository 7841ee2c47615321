#include "transcript_reading.h"

#include <gtest/gtest.h>

namespace {

const char kListing[] =
    "k27prog - K27 firmware programmer\r\n"
    "Ready to program K27 firmware release 1.1.5(1)\r\n"
    "Found : K27#0042 (Bench NOT READY FOR CODE PROGRAMMING) BootV1.3 NOT READY FOR CODE PROGRAMMING\r\n"
    "Found : K27 #0042 (spaced family) BootV1.3 CodeV2.1.7\r\n"
    "Found : K31#0042 (other family) BootV1.3 CodeV2.1.7\r\n"
    "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7\r\n"
    "Found : K27#0042 (second of the same number) BootV1.3\r\n"
    "Found : K27#-042 (negative) BootV1.0\r\n"
    "Found : K27#123456 (wide) BootV1.0\r\n"
    "Please enter the serial number of the device you wish to program : ";

TEST(TranscriptReadingTest, ReadsTheDocumentedTexts) {
  struct Row {
    std::string transcript;
    const char* typed;
    int status;
    const char* outcome;
    const char* release;
    const char* device;
    std::optional<double> erase, program;
    RunStage stage;
  };
  const std::string listed = kListing;
  const std::string identities = "Access as Production engineer : Code programming\r\n";
  const Row rows[] = {
      {listed + " 0042\r\n" + identities +
           "Code flash erase ... erasing ... complete (1.771secs)\r\nCode flash program ... complete (12.333secs)\r\n"
           "Reset request ... accepted\r\nPROGRAMMING SUCCESSFUL\r\nPress space to exit\r\n",
       " 0042", 0, "PROGRAMMING SUCCESSFUL", "1.1.5(1)", "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7", 1.771, 12.333,
       RunStage::kReset},
      // The message completes the open progress line; the erase answered at once shows no time.
      {listed + identities + "Code flash erase ... complete\r\nCode flash program ... CODE FLASH PROGRAM FAILED\r\n"
                             "Press space to exit\r\n",
       "-42", 1, "CODE FLASH PROGRAM FAILED", "1.1.5(1)", "Found : K27#-042 (negative) BootV1.0", std::nullopt,
       std::nullopt, RunStage::kProgram},
      {listed + identities + "Code flash erase ... erasing ... CODE FLASH ERASE FAILED\r\nPress space to exit\r\n",
       "123456", 1, "CODE FLASH ERASE FAILED", "1.1.5(1)", "Found : K27#123456 (wide) BootV1.0", std::nullopt,
       std::nullopt, RunStage::kErase},
      // After the prompt's own text, and no device picked.
      {listed + "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND\r\nPress space to exit\r\n", "43", 1,
       "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND", "1.1.5(1)", "", std::nullopt, std::nullopt,
       RunStage::kListing},
      // The run ended before the prompt: no device, whatever was typed.
      {"k27prog - K27 firmware programmer\r\nReady to program K27 firmware release 1.1.5(1)\r\n"
       "Found : K27#0042 (Bench) BootV1.3\r\nNO DEVICES AVAILABLE TO PROGRAM\r\nPress space to exit\r\n",
       "42", 1, "NO DEVICES AVAILABLE TO PROGRAM", "1.1.5(1)", "", std::nullopt, std::nullopt, RunStage::kListing},
      {"k27prog - K27 firmware programmer\r\nUNKNOWN CODE HEADER Y VERSION\r\nPress space to exit\r\n", "42", 109,
       "UNKNOWN CODE HEADER Y VERSION", "", "", std::nullopt, std::nullopt, RunStage::kListing},
      // Not what the table says: a status that is not the message's, a
      // message one character off, text after the last line, a killed run.
      {"k27prog - K27 firmware programmer\r\nUNKNOWN CODE HEADER Y VERSION\r\nPress space to exit\r\n", "42", 1,
       "outcome not recognised", "", "", std::nullopt, std::nullopt, RunStage::kListing},
      {listed + "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICE FOUND\r\nPress space to exit\r\n", "43", 1,
       "outcome not recognised", "1.1.5(1)", "", std::nullopt, std::nullopt, RunStage::kListing},
      {listed + "PROGRAMMING SUCCESSFUL\r\nPress space to exit\r\nmore\r\n", "42", 0, "outcome not recognised",
       "1.1.5(1)", "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7", std::nullopt, std::nullopt, RunStage::kListing},
      {listed + identities + "Code flash erase ... erasing ... ", "42", 1, "outcome not recognised", "1.1.5(1)",
       "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7", std::nullopt, std::nullopt, RunStage::kErase},
      // A release line that is not the format's is no release.
      {"Ready to program K27 firmware release 1.1(5)\r\nNO DEVICES FOUND\r\nPress space to exit\r\n", "42", 1,
       "NO DEVICES FOUND", "", "", std::nullopt, std::nullopt, RunStage::kListing},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.transcript);
    const TranscriptReading r = ReadTranscript(row.transcript, row.typed, row.status);
    EXPECT_EQ(r.outcome, row.outcome);
    EXPECT_EQ(r.recognised, std::string(row.outcome) != "outcome not recognised");
    EXPECT_EQ(r.release, row.release);
    EXPECT_EQ(r.device_line, row.device);
    EXPECT_EQ(r.erase_seconds, row.erase);
    EXPECT_EQ(r.program_seconds, row.program);
    EXPECT_EQ(r.stage, row.stage);
  }
}

TEST(TranscriptReadingTest, ReadsSerialsAsTheToolDoes) {
  const std::pair<const char*, std::optional<int32_t>> rows[] = {
      {"42", 42},          {"0042", 42},   {"  \t42abc", 42},           {"+7", 7},
      {"-42", -42},        {"abc", {}},    {"", {}},                    {"- 4", {}},
      {"2147483647", 2147483647},          {"2147483648", {}},          {"-2147483648", INT32_MIN},
      {"-2147483649", {}}, {"99999999999999999999", {}},
  };
  for (const auto& [typed, serial] : rows) EXPECT_EQ(SerialNumberOf(typed), serial) << typed;
}

TEST(TranscriptReadingTest, FollowsARunInProgress) {
  const std::string listed = kListing;
  EXPECT_FALSE(AsksForSerial("k27prog - K27 firmware programmer\r\nFound : K27#0042 (Bench) BootV1.3\r\n"));
  EXPECT_TRUE(AsksForSerial(listed));
  EXPECT_EQ(StageOf(listed), RunStage::kListing);
  EXPECT_EQ(StageOf(listed + "Code flash erase ... "), RunStage::kErase);
  EXPECT_STREQ(StageName(StageOf(listed + "Code flash erase ... complete\r\nCode flash program ... ")), "program");
}

}  // namespace
