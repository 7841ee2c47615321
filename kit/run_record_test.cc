#include "run_record.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

RunFacts Facts(int64_t run, const char* typed) {
  RunFacts f;
  f.session = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  f.run = run;
  f.pc = "LINE-PC-7";
  f.user = "operator";
  f.tool = "C:\\K27\\k27prog.exe";
  f.tool_sha256 = std::string(64, 'a');
  f.tool_release = "1.1.5(1)";
  f.typed = typed;
  f.start = "2025-03-04T05:06:07.089Z";
  return f;
}

RunFacts Ended(RunFacts f) {
  f.end = "2025-03-04T05:06:12.345Z";
  f.pid = 4242;
  f.status = 1;
  f.release = "1.1.5(1)";
  f.device = "Found : K27#0042 (Bench) BootV1.3";
  f.outcome = "CODE FLASH ERASE FAILED";
  f.recognised = true;
  f.erase_seconds = 0.5;
  f.transcript = "k27prog - K27 firmware programmer\r\nCODE FLASH ERASE FAILED\r\nPress space to exit\r\n";
  return f;
}

TEST(RunRecordTest, WritesEachLineWholeWithItsFields) {
  const std::string start = StartLine(Facts(3, "0042"));
  ASSERT_EQ(start.back(), '\n');
  EXPECT_EQ(start.find('\n'), start.size() - 1);
  const nlohmann::json s = nlohmann::json::parse(start);
  EXPECT_EQ(s["record"], "k27 station run");
  EXPECT_EQ(s["version"], 1);
  EXPECT_EQ(s["event"], "start");
  EXPECT_EQ(s["run"], 3);
  EXPECT_EQ(s["typed"], "0042");
  EXPECT_EQ(s["serial"], 42);
  EXPECT_EQ(s["start"], "2025-03-04T05:06:07.089Z");
  EXPECT_FALSE(s.contains("outcome"));

  const nlohmann::json e = nlohmann::json::parse(EndLine(Ended(Facts(3, "x"))));
  EXPECT_EQ(e["event"], "end");
  EXPECT_TRUE(e["serial"].is_null());
  EXPECT_EQ(e["pc"], "LINE-PC-7");  // an end line can be read alone
  EXPECT_EQ(e["status"], 1);
  EXPECT_EQ(e["erase_seconds"], 0.5);
  EXPECT_TRUE(e["program_seconds"].is_null());
  EXPECT_EQ(e["transcript"], Ended(Facts(3, "x")).transcript);
  EXPECT_FALSE(e.contains("transcript_base64"));

  // Bytes that are no UTF-8 stay whole beside the readable text.
  RunFacts ansi = Ended(Facts(4, "42"));
  ansi.transcript = "Found : K27#0042 (B\xE9nch)\r\n";
  const nlohmann::json a = nlohmann::json::parse(EndLine(ansi));
  EXPECT_EQ(a["transcript"], "Found : K27#0042 (B\xEF\xBF\xBDnch)\r\n");
  EXPECT_EQ(a["transcript_base64"], "Rm91bmQgOiBLMjcjMDA0MiAoQuluY2gpDQo=");
}

TEST(RunRecordTest, ReadsBackRunsAndSkipsWhatIsDamaged) {
  const std::string file = StartLine(Facts(1, "42")) + EndLine(Ended(Facts(1, "42"))) + "\n" +  // a blank line
                           StartLine(Facts(2, "57")) + "not json\r\n" + "{\"record\":\"other\"}\n" +
                           StartLine(Facts(3, "108")) + EndLine(Ended(Facts(1, "42"))) +
                           "{\"record\":\"k27 station run\",\"version\":2,\"event\":\"start\",\"session\":\"s\",\"run\":1}\n" +
                           StartLine(Facts(4, "9")).substr(0, 40);
  const RecordFileReading r = ReadRecordFile(file);
  ASSERT_EQ(r.runs.size(), 3u);
  EXPECT_TRUE(r.runs[0].started && r.runs[0].ended);
  EXPECT_EQ(r.runs[0].line, 1u);
  EXPECT_EQ(r.runs[0].facts.outcome, "CODE FLASH ERASE FAILED");
  EXPECT_EQ(r.runs[0].facts.pid, 4242);
  EXPECT_EQ(r.runs[0].facts.erase_seconds, 0.5);
  EXPECT_EQ(r.runs[1].facts.typed, "57");
  EXPECT_EQ(r.runs[1].line, 4u);
  EXPECT_FALSE(r.runs[1].ended);
  EXPECT_EQ(r.runs[2].facts.typed, "108");
  EXPECT_TRUE(r.torn_end);
  EXPECT_FALSE(r.foreign);
  const std::vector<std::pair<size_t, std::string>> damaged = {
      {5, "not a whole line of JSON"},
      {6, "not a station record line"},
      {8, "a second end line for run {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}/1"},
      {9, "written in version 2 of the format; this kit reads up to 1"},
      {10, "cut short: the file ends inside it"}};
  ASSERT_EQ(r.damaged.size(), damaged.size());
  for (size_t i = 0; i < damaged.size(); ++i) {
    EXPECT_EQ(r.damaged[i].line, damaged[i].first);
    EXPECT_EQ(r.damaged[i].why, damaged[i].second);
  }

  EXPECT_TRUE(ReadRecordFile("MZ\x90\0\3\0\0\0\n{\"op\":\"Start\"}\n").foreign);
  EXPECT_FALSE(ReadRecordFile("").foreign);
  EXPECT_FALSE(ReadRecordFile("").torn_end);
}

TEST(RunRecordTest, WritesUtcTimes) {
  EXPECT_EQ(UtcText(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(UtcText(951782400999), "2000-02-29T00:00:00.999Z");
  EXPECT_EQ(UtcText(4102444799001), "2099-12-31T23:59:59.001Z");
}

TEST(RunRecordTest, FindsTheProgramInTheManifest) {
  const std::string sum(64, 'b');
  const std::string upper = "ABCDEF" + std::string(58, '0');
  const std::string manifest = "k27prog release kit for 64-bit Windows\r\n\r\nFirmware release:  1.1.5(1)\r\n" + sum +
                               "  bench-kit/k27kit.exe\r\n" + upper + "  K27PROG.EXE\r\n" + sum + " *k27image.exe\n";
  EXPECT_EQ(ManifestSha256(manifest, "k27prog.exe"), "abcdef" + std::string(58, '0'));
  EXPECT_EQ(ManifestSha256(manifest, "k27image.exe"), sum);
  EXPECT_EQ(ManifestSha256(manifest, "k27kit.exe"), "");
  EXPECT_EQ(ManifestSha256(manifest, "k27prog.ex"), "");
  EXPECT_EQ(ManifestSha256(std::string(63, 'a') + "g  k27prog.exe\n", "k27prog.exe"), "");
}

}  // namespace
