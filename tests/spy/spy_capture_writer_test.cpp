#include "spy/spy_capture_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "persistence/scratch_directory.h"

namespace quorvel {
namespace {

using testing::ReadBytes;
using testing::ScratchDirectory;

std::unique_ptr<SpyCaptureFile> OpenFile(const std::string& path) {
  auto file = std::make_unique<SpyCaptureFile>();
  EXPECT_TRUE(file->Open(path).ok) << path;
  return file;
}

TEST(SpyCaptureWriterTest, BytesGoToTheFileTheyWereGivenFor) {
  ScratchDirectory scratch;
  std::size_t released = 0;  // the writer thread reports, Finish orders it before the reads
  SpyCaptureWriter writer([&](std::size_t bytes) { released += bytes; });
  writer.Write("before any file\n");
  const std::uint64_t full = writer.Switch(OpenFile("/dev/full"));
  writer.Write("lost\n");
  writer.Write("dropped after the failure\n");
  const std::uint64_t good = writer.Switch(OpenFile((scratch / "good.dmp").string()));
  writer.Write("kept\n\n");
  writer.Switch(nullptr);
  writer.Write("after closing\n");
  writer.Finish();
  writer.Write("after finishing\n");
  EXPECT_NE(full, good);
  EXPECT_EQ(ReadBytes(scratch / "good.dmp"), "kept\r\n\r\n");
  const auto failure = writer.TakeError();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->message, "Can't write to /dev/full");
  EXPECT_EQ(failure->file, full);
  EXPECT_FALSE(writer.TakeError()) << "reported once";
  EXPECT_EQ(released, std::string("before any file\nlost\ndropped after the failure\nkept\n\nafter closing\n"
                                  "after finishing\n").size());
}

// A reused buffer must come back empty, or old bytes would be written again.
TEST(SpyCaptureWriterTest, WrittenBuffersComeBackEmptyForReuse) {
  ScratchDirectory scratch;
  SpyCaptureWriter writer([](std::size_t) {});
  writer.Switch(OpenFile((scratch / "r.dmp").string()));
  writer.Write(std::string(1000, 'x') + '\n');
  writer.WaitUntilWritten();
  const std::string spare = writer.TakeSpareBuffer();
  EXPECT_TRUE(spare.empty());
  EXPECT_GE(spare.capacity(), 1001u);
  EXPECT_EQ(writer.TakeSpareBuffer().capacity(), std::string().capacity()) << "only what was given comes back";
}

}  // namespace
}  // namespace quorvel
