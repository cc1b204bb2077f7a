#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "tools/orrin_cast/discovery_client.h"
#include "tools/orrin_cast/options.h"
#include "tools/orrin_cast/pattern.h"
#include "tools/orrin_cast/wav.h"

namespace orrin::cast {
namespace {

Options Parse(std::vector<std::string> args) {
  ParseResult r = ParseOptions(args);
  EXPECT_TRUE(r.options.has_value()) << r.error;
  return r.options.value_or(Options{});
}

std::string ParseError(std::vector<std::string> args) {
  ParseResult r = ParseOptions(args);
  EXPECT_FALSE(r.options.has_value());
  return r.error;
}

TEST(CastOptions, HostPortAndSources) {
  Options o = Parse({"192.168.1.20", "--pattern", "1280x720", "--fps", "30", "--frames", "60"});
  EXPECT_EQ(o.mode, Options::Mode::Cast);
  EXPECT_EQ(o.host, "192.168.1.20");
  EXPECT_EQ(o.port, 9959);
  EXPECT_EQ(o.patternWidth, 1280);
  EXPECT_EQ(o.patternHeight, 720);
  EXPECT_EQ(*o.frames, 60);

  o = Parse({"localhost:12345", "--jpeg", "a.jpg", "b.jpg", "--wav", "s.wav", "--fragment", "3", "--close"});
  EXPECT_EQ(o.port, 12345);
  EXPECT_EQ(o.jpegFiles, (std::vector<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(o.wavFile, "s.wav");
  EXPECT_EQ(o.fragment, 3);
  EXPECT_TRUE(o.close);

  o = Parse({"--discover", "--probe-to", "127.0.0.1", "--tcp", "--timeout", "0.5"});
  EXPECT_EQ(o.mode, Options::Mode::Discover);
  EXPECT_EQ(o.probeTo, "127.0.0.1");
  EXPECT_TRUE(o.tcp);
  EXPECT_DOUBLE_EQ(o.timeoutSeconds, 0.5);
}

TEST(CastOptions, BadInputIsRefusedWithAReason) {
  EXPECT_NE(ParseError({"host:0", "--ping"}).find("port out of range"), std::string::npos);
  EXPECT_NE(ParseError({"host:65536", "--ping"}).find("port out of range"), std::string::npos);
  EXPECT_NE(ParseError({"host:http", "--ping"}).find("port out of range"), std::string::npos);
  EXPECT_NE(ParseError({"--pattern", "1280x720"}).find("no HOST"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--pattern", "12x720"}).find("--pattern"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--jpeg", "a.jpg", "--pattern", "64x64"}).find("choose one"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--tone", "440", "--wav", "x.wav"}).find("choose one"), std::string::npos);
  EXPECT_NE(ParseError({"h"}).find("nothing to send"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--quality", "101", "--pattern", "64x64"}).find("--quality"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--jpeg"}).find("--jpeg"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--bogus"}).find("unknown option"), std::string::npos);
  EXPECT_NE(ParseError({"--discover", "h"}).find("no HOST"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--raw-size", "8"}).find("--raw-size"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--raw-size", "1024", "--pattern", "64x64"}).find("choose one"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--jpeg", "a.jpg", "--pregenerate", "5"}).find("goes with --pattern"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--pattern", "64x64", "--pregenerate", "0"}).find("--pregenerate"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--ping", "extra"}).find("unexpected argument extra"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--pattern", "64x64", "--fps", "nan"}).find("--fps"), std::string::npos);
  EXPECT_NE(ParseError({"--discover", "--timeout", "0"}).find("--timeout"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--pattern", "64x64", "--colour", "red"}).find("--colour"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--pattern", "64x64", "--colour", "12345"}).find("--colour"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--tone", "440", "--colour", "ff0000"}).find("goes with --pattern"), std::string::npos);
}

TEST(CastOptions, NumbersAreDecimalAndHelpAndVersionWinOverTheRest) {
  Options o = Parse({"h", "--pattern", "64x64", "--quality", "010", "--duration", "1.5"});
  EXPECT_EQ(o.quality, 10);
  EXPECT_DOUBLE_EQ(*o.durationSeconds, 1.5);
  EXPECT_FALSE(o.frames);
  EXPECT_EQ(Parse({"--help"}).mode, Options::Mode::Help);
  EXPECT_EQ(Parse({"--version"}).mode, Options::Mode::Version);
  const std::string help = UsageText();
  for (const char* word : {"--discover", "--jpeg FILE", "--raw-size BYTES", "--tone HZ", "--fragment N",
                           "orrin-cast HOST[:PORT]", "exit codes"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
}

TEST(CastOptions, BenchmarkSources) {
  Options o = Parse({"h", "--raw-size", "262144", "--fps", "0"});
  EXPECT_EQ(o.rawSize, 262144u);
  EXPECT_TRUE(o.HasPictures());
  o = Parse({"h", "--pattern", "1080x2400", "--pregenerate", "30"});
  EXPECT_EQ(o.pregenerate, 30);
  o = Parse({"h", "--tone", "440", "--sound-burst", "3", "--sound-clock", "1.005"});
  EXPECT_EQ(o.soundBurst, 3);
  EXPECT_DOUBLE_EQ(o.soundClock, 1.005);
  EXPECT_NE(ParseError({"h", "--tone", "440", "--sound-burst", "0"}).find("--sound-burst"), std::string::npos);
  EXPECT_NE(ParseError({"h", "--tone", "440", "--sound-clock", "3"}).find("--sound-clock"), std::string::npos);
}

ByteBuffer Wav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const ByteBuffer& data) {
  ByteBuffer w;
  auto put = [&](const char* s) {
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(s[i]));
  };
  auto le = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) w.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put("RIFF");
  le(36 + static_cast<uint32_t>(data.size()), 4);
  put("WAVE");
  put("LIST");  // a chunk the reader must skip (odd size: padded)
  le(3, 4);
  for (uint8_t b : {1, 2, 3, 0}) w.push_back(b);
  put("fmt ");
  le(16, 4);
  le(format, 2);
  le(channels, 2);
  le(rate, 4);
  le(rate * channels * bits / 8, 4);
  le(channels * bits / 8, 2);
  le(bits, 2);
  put("data");
  le(static_cast<uint32_t>(data.size()), 4);
  for (uint8_t b : data) w.push_back(b);
  return w;
}

TEST(CastWav, AcceptsOnly16kMono16BitPcm) {
  ByteBuffer samples = {1, 2, 3, 4, 5, 6};
  WavResult ok = ParseWav(Wav(1, 1, 16000, 16, samples));
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.samples, samples);

  WavResult stereo = ParseWav(Wav(1, 2, 44100, 16, samples));
  EXPECT_NE(stereo.error.find("44100 Hz, 2 channel(s), 16-bit"), std::string::npos) << stereo.error;
  EXPECT_TRUE(stereo.samples.empty());
  EXPECT_FALSE(ParseWav(Wav(3, 1, 16000, 32, samples)).error.empty());  // float
  EXPECT_FALSE(ParseWav(Wav(1, 1, 16000, 8, samples)).error.empty());
  EXPECT_NE(ParseWav({'R', 'I', 'F', 'F'}).error.find("not a WAV"), std::string::npos);

  ByteBuffer truncated = Wav(1, 1, 16000, 16, samples);
  truncated.resize(truncated.size() - 3);  // the data chunk announces more than there is
  WavResult cut = ParseWav(truncated);
  EXPECT_EQ(cut.error, "");
  EXPECT_EQ(cut.samples, (ByteBuffer{1, 2}));  // whole samples only
}

TEST(CastDiscovery, ResponsesAreParsedFromTheRight) {
  auto r = ParseDiscoveryResponse("MIRALUX_RESPONSE:NAME=OFFICE-PC (Windows);IP=192.168.1.20;PORT=9959;TYPE=Windows;VERSION=1.0");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->name, "OFFICE-PC (Windows)");
  EXPECT_EQ(r->ip, "192.168.1.20");
  EXPECT_EQ(r->port, 9959);

  r = ParseDiscoveryResponse("MIRALUX_RESPONSE:NAME=a;b=c (Windows);IP=10.0.0.5;PORT=1;TYPE=Windows;VERSION=1.0");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->name, "a;b=c (Windows)");  // names are not escaped

  EXPECT_FALSE(ParseDiscoveryResponse("MIRALUX_DISCOVERY"));
  EXPECT_FALSE(ParseDiscoveryResponse("MIRALUX_RESPONSE:NAME=x;IP=1.2.3.4;PORT=99999;TYPE=Windows"));
  EXPECT_FALSE(ParseDiscoveryResponse("MIRALUX_RESPONSE:NAME=x;IP=1.2.3.4"));
}

TEST(CastPattern, FramesAreRealJpegsOfTheAskedSizeAndDiffer) {
  PatternEncoder encoder(321, 241, 80);  // odd sizes on purpose
  std::string error;
  ByteBuffer first = encoder.Encode(0, error);
  ByteBuffer second = encoder.Encode(1, error);
  ASSERT_FALSE(first.empty()) << error;
  EXPECT_NE(first, second);
  tjhandle h = tjInitDecompress();
  int w = 0, height = 0, subsamp = 0, colorspace = 0;
  ASSERT_EQ(tjDecompressHeader3(h, first.data(), first.size(), &w, &height, &subsamp, &colorspace), 0);
  EXPECT_EQ(w, 321);
  EXPECT_EQ(height, 241);
  EXPECT_EQ(subsamp, TJSAMP_420);
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * height * 3);
  EXPECT_EQ(tjDecompress2(h, first.data(), first.size(), rgb.data(), w, 0, height, TJPF_RGB, 0), 0);
  tjDestroy(h);
}

TEST(CastPattern, ASolidColourDecodesToThatColourEverywhere) {
  const Options o = Parse({"h", "--pattern", "64x48", "--colour", "C83228"});
  ASSERT_TRUE(o.colour.has_value());
  PatternEncoder encoder(o.patternWidth, o.patternHeight, 95, o.colour);
  std::string error;
  ByteBuffer jpeg = encoder.Encode(3, error);
  ASSERT_FALSE(jpeg.empty()) << error;
  EXPECT_EQ(encoder.Encode(4, error), jpeg);  // no counter, no moving bar
  tjhandle h = tjInitDecompress();
  std::vector<unsigned char> rgb(64 * 48 * 3);
  ASSERT_EQ(tjDecompress2(h, jpeg.data(), jpeg.size(), rgb.data(), 64, 0, 48, TJPF_RGB, 0), 0);
  tjDestroy(h);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    ASSERT_NEAR(rgb[i], 0xC8, 3) << i;
    ASSERT_NEAR(rgb[i + 1], 0x32, 3) << i;
    ASSERT_NEAR(rgb[i + 2], 0x28, 3) << i;
  }
}

}  // namespace
}  // namespace orrin::cast
