// Writes the seed corpus of every harness into OUT/<harness>/, at build
// time: archives from the tests' fixture builder whose entries hold real
// streams of every method (from the test-side stream writers, and from the
// encoders where pakwrite is built), WBM images
// of awkward sizes, bare Mariel and Cocotte streams with their sizes, and
// plain data for the encoder round trip. Deterministic: the same files on
// every run.
//
//   make_seeds OUT
#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bytes.h"
#include "pak_builder.h"
#include "stream_writers.h"
#ifdef PAK_SEEDS_FROM_ENCODERS
#include "cocotte_encoder.h"
#include "mariel_encoder.h"
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

std::filesystem::path outRoot;

void Write(const std::string& harness, const std::string& name, const Bytes& bytes) {
  const std::filesystem::path folder = outRoot / harness;
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

// prefix, then data. Sized from the start: gcc 12 takes an insert into a
// vector of a few bytes for an overflow (-Warray-bounds) at -O3.
Bytes Framed(std::initializer_list<std::uint8_t> prefix, const Bytes& data) {
  Bytes bytes(prefix.size() + data.size());
  std::copy(prefix.begin(), prefix.end(), bytes.begin());
  std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(prefix.size()));
  return bytes;
}

// A stream of the sizes the decoder harnesses take: unpackedSize, packed.
Bytes Sized(std::uint32_t unpackedSize, const Bytes& packed) {
  std::uint8_t size[4];
  WriteLe32(size, unpackedSize);
  return Framed({size[0], size[1], size[2], size[3]}, packed);
}

// The round trip's input: a variant byte (which encoding), then the data;
// one seed per variant.
void WriteRoundTrip(const std::string& name, const Bytes& data) {
  constexpr int kVariants = 9;
  for (int variant = 0; variant < kVariants; ++variant) {
    Write("encode_round_trip", name + "-" + std::to_string(variant), Framed({static_cast<std::uint8_t>(variant)}, data));
  }
}

struct Stream {
  const char* name;
  Bytes packed;
  Bytes output;
};

std::vector<Stream> MarielStreams() {
  std::vector<Stream> streams;
  {
    MarielWriter writer;  // "abc", then a copy longer than its distance
    for (char c : std::string("abc")) writer.Literal(static_cast<std::uint8_t>(c));
    writer.Copy(3, 6);
    streams.push_back({"repeat", writer.Bytes(), writer.Output()});
  }
  {
    MarielWriter writer;  // every length and distance form, over two flag words
    const Bytes soup = WordSoup(1, 40);
    for (std::uint8_t byte : soup) writer.Literal(byte);
    writer.Copy(7, 5);
    writer.Copy(30, 200, MarielWriter::LengthForm::OneByte);
    writer.Copy(240, 700, MarielWriter::LengthForm::TwoBytes, true);
    writer.Copy(0, 3);
    writer.Copy(1, 0);
    writer.Literal('!');
    streams.push_back({"forms", writer.Bytes(), writer.Output()});
  }
  {
    MarielWriter writer;  // literals only: 70 items, three flag words
    for (std::uint8_t byte : RandomBytes(2, 70)) writer.Literal(byte);
    streams.push_back({"literals", writer.Bytes(), writer.Output()});
  }
  {
    MarielWriter writer;  // a long run
    writer.Literal('z');
    writer.Copy(1, 4000, MarielWriter::LengthForm::TwoBytes);
    streams.push_back({"run", writer.Bytes(), writer.Output()});
  }
#ifdef PAK_SEEDS_FROM_ENCODERS
  const Bytes soup = WordSoup(11, 1500);
  streams.push_back({"encoded-level-1", EncodeMariel(soup, MarielEncodeOptions{1}), soup});
  streams.push_back({"encoded-level-4", EncodeMariel(soup, MarielEncodeOptions{4}), soup});
#endif
  return streams;
}

std::vector<Stream> CocotteStreams() {
  std::vector<Stream> streams;
  {
    CocotteWriter writer;
    writer.Block(Text("banana"), CocotteWriter::Kind::Stored);
    streams.push_back({"stored", writer.Bytes(), writer.Output()});
  }
  {
    CocotteWriter writer;
    writer.Block(Bytes(100, 'a'));
    streams.push_back({"coded", writer.Bytes(), writer.Output()});
  }
  {
    CocotteWriter writer;  // coded, stored (model restart), coded again
    writer.Block(WordSoup(3, 300), CocotteWriter::Kind::Coded);
    writer.Block(RandomBytes(4, 40), CocotteWriter::Kind::Stored);
    writer.Block(WordSoup(5, 300), CocotteWriter::Kind::Coded);
    streams.push_back({"mixed", writer.Bytes(), writer.Output()});
  }
  {
    CocotteWriter writer;  // many small blocks, the model carried across
    writer.Blocks(WordSoup(6, 600), 97);
    streams.push_back({"blocks", writer.Bytes(), writer.Output()});
  }
  {
    CocotteWriter writer;  // an empty block
    writer.Block({});
    writer.Block(Text("x"));
    streams.push_back({"empty-block", writer.Bytes(), writer.Output()});
  }
#ifdef PAK_SEEDS_FROM_ENCODERS
  const Bytes soup = WordSoup(12, 1500);
  streams.push_back({"encoded", EncodeCocotte(soup), soup});
  streams.push_back({"encoded-blocks", EncodeCocotte(soup, CocotteEncodeOptions{400, {2}}), soup});
#endif
  return streams;
}

PakFixtureEntry Entry(const char* name, const char* extension, std::uint8_t method, const Stream& stream) {
  PakFixtureEntry entry;
  entry.name = name;
  entry.extension = extension;
  entry.method = method;
  entry.data = stream.packed;
  entry.unpackedSize = static_cast<std::uint32_t>(stream.output.size());
  return entry;
}

std::vector<std::pair<std::string, Bytes>> Archives(const std::vector<Stream>& mariel,
                                                    const std::vector<Stream>& cocotte) {
  std::vector<std::pair<std::string, Bytes>> archives;
  const Stream plain{"plain", Text("plain text\n"), Text("plain text\n")};
  Stream notCode{"notcode", Text("complement"), {}};
  for (std::uint8_t byte : notCode.packed) notCode.output.push_back(static_cast<std::uint8_t>(~byte));

  for (int version : {2, 3}) {
    const std::string v = "v" + std::to_string(version);
    PakBuilder every(version);  // one entry of every method
    every.Add(Entry("README", "TXT", 0, plain));
    every.Add(Entry("FORMS", "BIN", 1, mariel[1]));
    every.Add(Entry("MIXED", "DAT", 2, cocotte[2]));
    PakFixtureEntry inverted = Entry("\x83\x65\x83\x4C", "TXT", 3, notCode);
    inverted.auxFlag = 1;
    inverted.auxValue = 0x1234;
    inverted.fileTime = FileTimeOf(2001, 2, 3, 4, 5, 6);
    every.Add(inverted);
    archives.emplace_back(v + "-every-method", every.Build());

    PakBuilder first(version);  // directory before the data, lower-case names
    first.DirectoryFirst();
    first.Add(Entry("readme", "txt", 0, plain));
    first.Add(Entry("repeat", "", 1, mariel[0]));
    first.Add(Entry("coded", "c", 2, cocotte[1]));
    archives.emplace_back(v + "-directory-first", first.Build());

    archives.emplace_back(v + "-empty", PakBuilder(version).Build());
  }

  PakBuilder longNames(3);  // names that fill their fields
  longNames.Add(Entry("ABCDEFGHIJKLMNOPQRSTU", "XYZ", 0, plain));
  longNames.Add(Entry("ABCDEFGHIJKLMNOPQRST\x83", "\x82\xA0", 0, plain));
  archives.emplace_back("v3-long-names", longNames.Build());

  PakBuilder broken(2);  // failures of every kind, one entry each
  broken.Add(Entry("M7", "", 7, plain));
  PakFixtureEntry sizes = Entry("SIZES", "", 0, plain);
  sizes.unpackedSize = 3;
  broken.Add(sizes);
  PakFixtureEntry far = Entry("FAR", "", 3, notCode);
  far.dataOffset = 0x7FFFFFF0;
  broken.Add(far);
  Stream cut = mariel[1];
  cut.packed.resize(cut.packed.size() / 2);
  broken.Add(Entry("CUT", "", 1, cut));
  PakFixtureEntry huge = Entry("HUGE", "", 1, mariel[0]);
  huge.unpackedSize = 0xFFFFFFF0;
  broken.Add(huge);
  archives.emplace_back("v2-broken-entries", broken.Build());

  archives.emplace_back("v2-count-too-large", PakBuilder(2).Add(Entry("A", "", 0, plain)).EntryCount(5).Build());
  archives.emplace_back("v3-count-negative", PakBuilder(3).Add(Entry("A", "", 0, plain)).EntryCount(-1).Build());
  archives.emplace_back("v2-directory-outside", PakBuilder(2).Add(Entry("A", "", 0, plain)).DirectoryOffset(-20).Build());
  archives.emplace_back("version-4", PakBuilder(2).Add(Entry("A", "", 0, plain)).Version(4).Build());
  Bytes headerOnly = PakBuilder(2).Build();
  headerOnly.resize(10);
  archives.emplace_back("header-only", headerOnly);
  return archives;
}

Bytes Wbm(std::uint16_t width, std::uint16_t height, std::size_t pixelBytes) {
  Bytes bytes = Text("!WBM");
  bytes.resize(12, 0);
  WriteLe16(&bytes[4], width);
  WriteLe16(&bytes[6], height);
  for (std::size_t i = 0; i < pixelBytes; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  return bytes;
}

Bytes LowerCaseMagic() {
  Bytes bytes = Wbm(1, 1, 1);
  for (std::size_t i = 1; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(bytes[i] - 'A' + 'a');
  return bytes;
}

std::vector<std::pair<std::string, Bytes>> Images() {
  return {
      {"8x4", Wbm(8, 4, 32)},
      {"5x3-padded-rows", Wbm(5, 3, 15)},
      {"1x1-trailing-bytes", Wbm(1, 1, 9)},
      {"0x9-empty", Wbm(0, 9, 0)},
      {"3x0-empty", Wbm(3, 0, 0)},
      {"rows-missing", Wbm(16, 16, 100)},
      {"header-cut", Bytes(Text("!WBM\x02"))},
      {"wide-no-rows", Wbm(65535, 0, 0)},
      {"lower-case-magic", LowerCaseMagic()},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUT\n");
    return 64;
  }
  outRoot = argv[1];

  const std::vector<Stream> mariel = MarielStreams();
  const std::vector<Stream> cocotte = CocotteStreams();
  for (const Stream& stream : mariel) {
    Write("mariel_decode", stream.name, Sized(static_cast<std::uint32_t>(stream.output.size()), stream.packed));
    WriteRoundTrip(std::string("mariel-") + stream.name, stream.output);
  }
  for (const Stream& stream : cocotte) {
    Write("cocotte_decode", stream.name, Sized(static_cast<std::uint32_t>(stream.output.size()), stream.packed));
    WriteRoundTrip(std::string("cocotte-") + stream.name, stream.output);
  }
  Write("mariel_decode", "negative-size", Sized(0xFFFFFFFF, mariel[0].packed));
  Write("cocotte_decode", "negative-size", Sized(0xFFFFFFFF, cocotte[0].packed));
  WriteRoundTrip("empty", {});
  WriteRoundTrip("random", RandomBytes(7, 3000));
  WriteRoundTrip("zeros", Bytes(2000, 0));

  for (const auto& [name, archive] : Archives(mariel, cocotte)) {
    for (const char* harness : {"pak_is_supported", "wbm_is_supported", "pak_listing"}) Write(harness, name, archive);
    for (std::uint8_t abortAt : {0, 1, 2}) {
      Write("pak_extract", name + "-abort-" + std::to_string(abortAt), Framed({abortAt}, archive));
    }
  }
  for (const auto& [name, image] : Images()) {
    for (const char* harness : {"wbm_picture", "wbm_is_supported", "pak_is_supported"}) Write(harness, name, image);
  }
  return 0;
}
