#include "record/recorder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/overlay.h"
#include "media/jpeg_maker.h"
#include "record/jpeg_size.h"
#include "support/user_dirs.h"
#include "test_support/log_capture.h"

namespace orrin {
namespace {

namespace fs = std::filesystem;

// Two senders, told apart by these addresses.
const int senderA = 0;
const int senderB = 0;
const Recorder::SenderKey A = &senderA;
const Recorder::SenderKey B = &senderB;

class RecorderTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orrin-record-" + std::to_string(::getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::shared_ptr<const ByteBuffer> Jpeg(int width, int height) {
    return std::make_shared<const ByteBuffer>(
        test::CompressJpeg(test::MakeTestImage(width, height, 7), TJSAMP_420, 85));
  }

  fs::path dir_;
  test::LogCapture log_;
};

TEST(JpegFrameSizeTest, ReadsTheFrameHeaderAndRefusesCutOrForeignBytes) {
  const ByteBuffer jpeg = test::CompressJpeg(test::MakeTestImage(321, 123, 1), TJSAMP_444, 80);
  int width = 0;
  int height = 0;
  ASSERT_TRUE(JpegFrameSize(jpeg.data(), jpeg.size(), width, height));
  EXPECT_EQ(width, 321);
  EXPECT_EQ(height, 123);
  EXPECT_FALSE(JpegFrameSize(jpeg.data(), 40, width, height));  // cut inside the tables
  const ByteBuffer png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  EXPECT_FALSE(JpegFrameSize(png.data(), png.size(), width, height));
  const ByteBuffer lying{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF};  // a segment longer than the bytes
  EXPECT_FALSE(JpegFrameSize(lying.data(), lying.size(), width, height));
}

TEST(UserDirsTest, NamesFromTheDesktopsFileAndNumberedForms) {
  const std::string file =
      "# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"$HOME/Videos\"\nXDG_PICTURES_DIR=\"/data/pics\"\n";
  EXPECT_EQ(ParseUserDirs(file, "XDG_VIDEOS_DIR", "/home/ann"), "/home/ann/Videos");
  EXPECT_EQ(ParseUserDirs(file, "XDG_PICTURES_DIR", "/home/ann"), "/data/pics");
  EXPECT_EQ(ParseUserDirs(file, "XDG_MUSIC_DIR", "/home/ann"), "");
  EXPECT_EQ(NumberedPath("/tmp/cast.mkv", 2), "/tmp/cast-2.mkv");
  EXPECT_EQ(NumberedPath("/tmp/v1.0/cast", 3), "/tmp/v1.0/cast-3");
  EXPECT_EQ(NumberedPath("/tmp/.hidden", 2), "/tmp/.hidden-2");
}

// A disk that takes 100 ms for every write, far slower than the cast: the sender's thread
// still never waits, pictures are dropped and counted, and every bit of sound is kept.
TEST_F(RecorderTest, ASlowDiskNeverHoldsTheSenderUpAndDropsPicturesBeforeSound) {
  const std::string path = (dir_ / "slow.mkv").string();
  const auto picture = Jpeg(1080, 1920);  // a few hundred kB
  Recorder::Options options;
  options.pictureBudgetBytes = 4 * picture->size();
  options.beforeWrite = [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); };
  constexpr int FRAMES = 150;
  double slowestMs = 0;
  {
    Recorder recorder(options);
    recorder.StartToFile(path);
    recorder.OnConnection(A, true);
    const ByteBuffer sound(640, 0x11);
    int64_t ns = 1'000'000'000;
    for (int i = 0; i < FRAMES; ++i) {
      const auto start = std::chrono::steady_clock::now();
      recorder.OnPicture(A, picture, ns);
      recorder.OnSound(A, sound, ns);
      slowestMs = std::max(slowestMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                                 start).count());
      ns += 20'000'000;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GT(recorder.status().dropped, 0u);
    recorder.OnConnection(A, false);
  }  // joined: everything queued is written
  EXPECT_LT(slowestMs, 50.0);  // a write alone takes 100 ms; a loaded or sanitized run is slower
  EXPECT_TRUE(log_.Contains("Recording: the disk is not keeping up, 1 pictures dropped from the file so far"));
  ASSERT_EQ(log_.Count("Recording saved: " + path), 1);
  const int at = log_.IndexOf("Recording saved: ");
  const std::string saved = log_.Lines()[static_cast<size_t>(at)].text;
  EXPECT_NE(saved.find(" 3.0 s of sound"), std::string::npos) << saved;  // 150 x 20 ms, all of it
  EXPECT_EQ(log_.Count("sound frames dropped"), 0);
  EXPECT_GT(fs::file_size(path), 0u);
}

TEST_F(RecorderTest, AFileThatCannotBeMadeEndsTheRecordingWithOneLine) {
  Recorder recorder;
  recorder.StartToFile((dir_ / "missing" / "x.mkv").string());
  recorder.OnConnection(A, true);
  for (int i = 0; i < 5; ++i) recorder.OnPicture(A, Jpeg(64, 48), 1'000'000 * (i + 1));
  ASSERT_TRUE(log_.WaitFor("Recording stopped: cannot create"));
  EXPECT_FALSE(recorder.armed());
  EXPECT_FALSE(recorder.status().failure.empty());
  recorder.OnConnection(A, false);
  recorder.OnConnection(A, true);  // a later sender is not recorded
  recorder.OnPicture(A, Jpeg(64, 48), 9'000'000);
  recorder.OnConnection(A, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(log_.Count("Recording stopped: "), 1);
}

TEST_F(RecorderTest, FilesPerConnectionInAFolderAndNoneWhileStopped) {
  {
    Recorder recorder;
    recorder.OnConnection(A, true);
    recorder.OnPicture(A, Jpeg(64, 48), 1'000'000);  // not armed: nothing
    recorder.StartInFolder(dir_.string());      // armed while a sender is connected: it is recorded
    recorder.OnPicture(A, Jpeg(64, 48), 2'000'000);
    recorder.OnConnection(A, false);
    recorder.OnConnection(A, true);
    recorder.OnPicture(A, Jpeg(48, 64), 3'000'000);
    recorder.Stop();
    recorder.OnPicture(A, Jpeg(48, 64), 4'000'000);
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(log_.Count(" (1 pictures, 0.0 s of sound, 0 pictures dropped)"), 2);
  EXPECT_EQ(names[0].rfind("orrin-", 0), 0u);
}

TEST(OverlayTest, LinesTellTheLinkAndEachRecordingState) {
  OverlayFacts facts;
  facts.sender = "10.0.0.7:40112";
  facts.pictureWidth = 1080;
  facts.pictureHeight = 2400;
  facts.statsReady = true;
  facts.receivedPerSecond = 30;
  facts.shownPerSecond = 29;
  facts.bytesPerSecond = 3'000'000;
  facts.decodeP50Ms = 6.25;
  facts.delayP50Ms = 9.8;
  facts.soundQueuedMs = 120.4;
  std::vector<std::string> lines = OverlayLines(facts);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "Sender: 10.0.0.7:40112");
  EXPECT_EQ(lines[1], "Picture: 1080x2400");
  EXPECT_EQ(lines[2], "Pictures/s: 30 received, 29 shown");
  EXPECT_EQ(lines[3], "Decode p50: 6.2 ms, present delay p50: 9.8 ms");
  EXPECT_EQ(lines[4], "Bitrate: 24.0 Mbit/s");
  EXPECT_EQ(lines[5], "Sound queued: 120 ms");
  EXPECT_EQ(lines[6], "Recording: off (R)");
  facts.recordingArmed = true;
  EXPECT_EQ(OverlayLines(facts).back(), "Recording: waiting for a sender");
  facts.recordingWriting = true;
  facts.recordingPath = "/home/ann/Videos/orrin-20261209-015000.mkv";
  facts.recordingSeconds = 12.4;
  facts.recordingDropped = 3;
  EXPECT_EQ(OverlayLines(facts).back(), "Recording: orrin-20261209-015000.mkv, 12 s, 3 pictures dropped");
  facts = OverlayFacts{};
  facts.recordingFailure = "No space left on device";
  lines = OverlayLines(facts);
  EXPECT_EQ(lines[0], "Sender: none");
  EXPECT_EQ(lines.back(), "Recording: stopped (No space left on device)");
}

// Senders casting at once are written side by side, a file each, also when they start
// within the same second; each sender's status is its own file's, and a sender that goes
// ends only its file.
TEST_F(RecorderTest, SendersAtOnceGetAFileEach) {
  {
    Recorder recorder;
    recorder.StartInFolder(dir_.string());
    recorder.OnConnection(A, true);
    recorder.OnConnection(B, true);
    for (int i = 0; i < 3; ++i) {
      recorder.OnPicture(A, Jpeg(64, 48), 1'000'000 * (i + 1));
      if (i < 2) recorder.OnPicture(B, Jpeg(48, 64), 1'000'000 * (i + 1));
    }
    ASSERT_TRUE(log_.WaitFor("Recording to "));
    for (int i = 0; i < 100 && recorder.status(A).path == recorder.status(B).path; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(recorder.status(A).path, recorder.status(B).path);
    recorder.OnConnection(B, false);
    ASSERT_TRUE(log_.WaitFor(" (2 pictures, 0.0 s of sound, 0 pictures dropped)"));
    EXPECT_TRUE(recorder.status(A).writing);
    recorder.OnPicture(A, Jpeg(64, 48), 5'000'000);
    recorder.OnConnection(A, false);
  }
  EXPECT_EQ(log_.Count(" (4 pictures, 0.0 s of sound, 0 pictures dropped)"), 1);
  std::vector<fs::path> files(fs::directory_iterator(dir_), fs::directory_iterator{});
  ASSERT_EQ(files.size(), 2u);

  // A fixed name: the second file is numbered.
  const std::string path = (dir_ / "cast.mkv").string();
  {
    Recorder recorder;
    recorder.StartToFile(path);
    recorder.OnConnection(A, true);
    recorder.OnConnection(B, true);
    recorder.OnPicture(B, Jpeg(48, 64), 1'000'000);
    recorder.OnPicture(A, Jpeg(64, 48), 1'000'000);
  }
  EXPECT_EQ(log_.Count("Recording saved: " + path + " (1 pictures"), 1);
  EXPECT_EQ(log_.Count("Recording saved: " + (dir_ / "cast-2.mkv").string() + " (1 pictures"), 1);
}

}  // namespace
}  // namespace orrin
