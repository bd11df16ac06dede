#include "spy/spy_capture_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

std::unique_ptr<SpyCaptureFile> OpenFile(const std::string& path) {
  auto file = std::make_unique<SpyCaptureFile>();
  EXPECT_TRUE(file->Open(path).ok) << path;
  return file;
}

TEST(SpyCaptureWriterTest, BytesGoToTheFileTheyWereGivenFor) {
  testing::ScratchDirectory scratch;
  std::size_t released = 0;  // the writer thread reports, Finish orders it before the reads
  SpyCaptureWriter writer([&](std::size_t bytes) { released += bytes; });
  const std::string written[] = {"before any file\n", "lost\n", "dropped after the failure\n", "kept\n\n",
                                 "after closing\n", "after finishing\n"};
  writer.Write(written[0]);
  const std::uint64_t full = writer.Switch(OpenFile("/dev/full"));
  writer.Write(written[1]);
  writer.Write(written[2]);
  EXPECT_NE(writer.Switch(OpenFile((scratch / "good.dmp").string())), full);
  writer.Write(written[3]);
  writer.Switch(nullptr);
  writer.Write(written[4]);
  writer.Finish();
  writer.Write(written[5]);
  EXPECT_EQ(testing::ReadBytes(scratch / "good.dmp"), "kept\r\n\r\n");
  const auto failure = writer.TakeError();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->message, "Can't write to /dev/full");
  EXPECT_EQ(failure->file, full);
  EXPECT_FALSE(writer.TakeError()) << "reported once";
  std::size_t total = 0;
  for (const std::string& bytes : written) total += bytes.size();
  EXPECT_EQ(released, total);
}

}  // namespace
}  // namespace quorvel
